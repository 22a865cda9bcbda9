// The operating system's side of the tool behind one narrow interface, one
// file per system: posix.cpp (Linux and the like) or windows.cpp, picked by
// the build.  Everything else in cli/src is one code path on every system.
// Paths, arguments and texts are UTF-8 here whatever the system's own
// encoding.  Failures are returned as values; only std::bad_alloc is thrown.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <string_view>
#include <vector>

namespace mirtle_cli::platform {

// Why a call failed: errno on POSIX, GetLastError() on Windows; 0 for none.
struct Error {
  int code = 0;
  explicit operator bool() const noexcept { return code != 0; }
};

// The reason in words, as Linux puts it ("No such file or directory"): on
// Windows the errors that have a Linux counterpart take its words, so that
// messages are the same everywhere, and the others the system's message.
std::string describe(Error error);

// True for a write into a pipe whose reader has closed it.
bool reader_gone(Error error) noexcept;

// Readies the process and returns its arguments as UTF-8 (on Windows read
// from the wide command line, whatever the code page).  Afterwards a closed
// pipe and a file size limit fail the write that meets them instead of
// ending the process, standard streams carry bytes unchanged (no CR added
// before LF), and no error box waits for a click.
std::vector<std::string> start(int argc, char** argv);

enum class Stream { input, output, error };

// An open file: a descriptor or a HANDLE.  Owned ones are closed by the
// destructor; standard streams and views are not.
class File {
 public:
  File() noexcept = default;
  File(std::intptr_t handle, bool owned) noexcept : handle_(handle), owned_(owned) {}
  File(File&& other) noexcept
      : handle_(std::exchange(other.handle_, -1)), owned_(std::exchange(other.owned_, false)) {}
  File& operator=(File&& other) noexcept {
    if (this != &other) {
      close();
      handle_ = std::exchange(other.handle_, -1);
      owned_ = std::exchange(other.owned_, false);
    }
    return *this;
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File() { close(); }

  static File standard(Stream stream) noexcept;
  // The same file, not owned: valid while this one is open.
  File view() const noexcept { return File(handle_, false); }
  bool is_open() const noexcept { return handle_ != -1; }
  std::intptr_t native() const noexcept { return handle_; }
  // Closes an owned file now; its error is the last chance to learn that a
  // write did not reach the disk.
  Error close() noexcept;

 private:
  std::intptr_t handle_ = -1;  // -1 is both systems' invalid value
  bool owned_ = false;
};

enum class Kind {
  regular,
  directory,
  other,  // a pipe, a FIFO, a device, a console: no size of its own
};

struct FileInfo {
  Kind kind = Kind::other;
  std::uint64_t size = 0;  // bytes, for a regular file
};

// Opens `path` for reading, "-" being standard input, and tells what it is.
// A directory is refused ("Is a directory").  Others may write, rename or
// remove the file while it is open.
Error open_for_reading(const std::string& path, File& file, FileInfo& info);

// Reads at most `size` bytes; `got` is 0 at the end (a closed pipe too).
Error read_some(const File& file, char* to, std::size_t size, std::size_t& got) noexcept;

// A read-only view of the first `size` bytes of a regular file, or null
// where it cannot be mapped (the caller then reads the file instead).
const char* map_file(const File& file, std::size_t size) noexcept;
void unmap_file(const char* view, std::size_t size) noexcept;

// Writes all of `text`, retrying short writes.  On a Windows console the
// bytes are shown as UTF-8 text; callers pass whole characters.
Error write_all(const File& file, std::string_view text) noexcept;

// True when `stream` is a terminal that acts on "\r" and "\033[K" (on
// Windows: a console, with its control sequences turned on).
bool is_terminal(Stream stream) noexcept;

// The columns of the terminal that `stream` is, or 0 when it is none.
std::size_t terminal_width(Stream stream) noexcept;

// What writing to a file named by the user means.
struct Destination {
  enum Kind {
    standard_output,  // a name of the process's own standard output (/dev/stdout)
    in_place,         // written where it is, never replaced: a FIFO, a device, a console, a pipe, NUL
    replace,          // a regular file, or none yet: replaced once the text is complete
  };
  Kind kind = replace;
  std::string file;       // replace: the file to replace (a symbolic link's target)
  bool truncate = false;  // in_place: a regular file that cannot be replaced by name
};
Error find_destination(const std::string& path, Destination& destination);

// Opens `path` for writing where it is.
Error open_in_place(const std::string& path, bool truncate, File& file);

// A file made exclusively in the directory of the file it will replace, so
// that no link planted in advance is followed and two writers never share
// one; it takes the replaced file's mode (and owner where it can), or what
// creating the file would have given.  Removed unless committed.
class TemporaryFile {
 public:
  explicit TemporaryFile(const std::string& target);
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile();

  Error error() const noexcept { return error_; }  // of the creation
  const File& file() const noexcept { return file_; }
  // Makes the text durable, closes the file and puts it in the target's
  // place in one step: readers see the old file or the new one, whole.
  Error commit() noexcept;

 private:
  std::string target_;
  std::string path_;
  File file_;
  Error error_;
  bool created_ = false;
  bool committed_ = false;
};

}  // namespace mirtle_cli::platform
