// The tool on Linux and other POSIX systems: descriptors, mmap, rename.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

#include "platform.hpp"

namespace mirtle_cli::platform {

namespace {

Error last_error() noexcept { return Error{errno}; }

int fd_of(const File& file) noexcept { return static_cast<int>(file.native()); }

constexpr std::size_t kPopulateLimit = std::size_t{256} << 20;

bool same_file(const struct stat& a, const struct stat& b) noexcept {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool is_standard_output(const struct stat& target) noexcept {
  struct stat out {};
  return ::fstat(STDOUT_FILENO, &out) == 0 && same_file(out, target);
}

// The real path of the regular file the symbolic link `path` leads to, or
// empty where that name is not the file (a link in /proc to a deleted file).
std::string link_target(const std::string& path, const struct stat& target) {
  const std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
  struct stat named {};
  if (real == nullptr || ::stat(real.get(), &named) != 0 || !same_file(named, target)) return {};
  return real.get();
}

// ".NAME.XXXXXX" in the directory of `target`.
std::string name_beside(const std::string& target) {
  const std::size_t slash = target.rfind('/');
  const std::size_t base = slash == std::string::npos ? 0 : slash + 1;
  return target.substr(0, base) + "." + target.substr(base) + ".XXXXXX";
}

// Gives the temporary file the mode of the file it replaces, and its owner
// where it can; a new file gets what creating it would have given, 0666
// less the umask.
bool take_mode(int fd, const struct stat* old) {
  if (old == nullptr) {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return ::fchmod(fd, 0666 & ~mask) == 0;
  }
  auto mode = static_cast<mode_t>(old->st_mode & 07777);
  if ((old->st_uid != ::geteuid() || old->st_gid != ::getegid()) && ::fchown(fd, old->st_uid, old->st_gid) != 0) {
    if (errno != EPERM) return false;
    // Another's file becomes ours: without set-ID bits, which would now name us.
    mode &= static_cast<mode_t>(~(S_ISUID | S_ISGID));
  }
  return ::fchmod(fd, mode) == 0;
}

}  // namespace

std::string describe(Error error) { return std::strerror(error.code); }

bool reader_gone(Error error) noexcept { return error.code == EPIPE; }

std::vector<std::string> start(int argc, char** argv) {
  // A closed pipe shows as EPIPE on the write, handled there; a file size
  // limit as EFBIG, so that convert removes its temporary file.
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
  return std::vector<std::string>(argv, argv + argc);
}

File File::standard(Stream stream) noexcept {
  switch (stream) {
    case Stream::input: return File(STDIN_FILENO, false);
    case Stream::output: return File(STDOUT_FILENO, false);
    case Stream::error: break;
  }
  return File(STDERR_FILENO, false);
}

Error File::close() noexcept {
  const int fd = static_cast<int>(std::exchange(handle_, -1));
  if (!std::exchange(owned_, false) || fd < 0) return {};
  return ::close(fd) == 0 ? Error{} : last_error();
}

Error open_for_reading(const std::string& path, File& file, FileInfo& info) {
  if (path == "-") {
    file = File::standard(Stream::input);
  } else {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return last_error();
    file = File(fd, true);
  }
  struct stat status {};
  if (::fstat(fd_of(file), &status) != 0) return last_error();
  if (S_ISDIR(status.st_mode)) return Error{EISDIR};
  info.kind = S_ISREG(status.st_mode) ? Kind::regular : Kind::other;
  info.size = info.kind == Kind::regular ? static_cast<std::uint64_t>(status.st_size) : 0;
  return {};
}

Error read_some(const File& file, char* to, std::size_t size, std::size_t& got) noexcept {
  for (;;) {
    const ssize_t n = ::read(fd_of(file), to, size);
    if (n >= 0) {
      got = static_cast<std::size_t>(n);
      return {};
    }
    if (errno != EINTR) return last_error();
  }
}

const char* map_file(const File& file, std::size_t size) noexcept {
  // MAP_POPULATE maps every page at once: measured on a 50 MB statement,
  // check took 116 ms of CPU with a fault per page and 100 ms populated.
  // Larger files are mapped as they are read, so that one larger than
  // memory does not evict its own first pages before the parse starts.
  const int populate = size <= kPopulateLimit ? MAP_POPULATE : 0;
  void* mapping = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | populate, fd_of(file), 0);
  if (mapping == MAP_FAILED) return nullptr;
  ::madvise(mapping, size, MADV_SEQUENTIAL);
  return static_cast<const char*>(mapping);
}

void unmap_file(const char* view, std::size_t size) noexcept { ::munmap(const_cast<char*>(view), size); }

Error write_all(const File& file, std::string_view text) noexcept {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t wrote = ::write(fd_of(file), text.data() + done, text.size() - done);
    if (wrote >= 0) {
      done += static_cast<std::size_t>(wrote);
    } else if (errno != EINTR) {
      return last_error();
    }
  }
  return {};
}

bool is_terminal(Stream stream) noexcept { return ::isatty(fd_of(File::standard(stream))) == 1; }

std::size_t terminal_width(Stream stream) noexcept {
  winsize size{};
  if (::ioctl(fd_of(File::standard(stream)), TIOCGWINSZ, &size) == 0) return size.ws_col;
  return 0;
}

Error find_destination(const std::string& path, Destination& destination) {
  destination = Destination{Destination::replace, path, false};
  struct stat target {};
  if (::stat(path.c_str(), &target) != 0) return errno == ENOENT ? Error{} : last_error();
  struct stat link {};
  if (::lstat(path.c_str(), &link) != 0) return last_error();
  // "/dev/stdout" and the like: the descriptor itself keeps its offset and
  // append mode, and a socket cannot be opened by name.
  if (!S_ISREG(link.st_mode) && is_standard_output(target)) {
    destination.kind = Destination::standard_output;
  } else if (!S_ISREG(target.st_mode)) {
    destination.kind = Destination::in_place;
  } else if (S_ISLNK(link.st_mode)) {
    destination.file = link_target(path, target);
    if (destination.file.empty()) destination = Destination{Destination::in_place, path, true};
  }
  return {};
}

Error open_in_place(const std::string& path, bool truncate, File& file) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC | (truncate ? O_TRUNC : 0));
  if (fd < 0) return last_error();
  file = File(fd, true);
  return {};
}

TemporaryFile::TemporaryFile(const std::string& target) : target_(target), path_(name_beside(target)) {
  struct stat old {};
  const bool exists = ::stat(target.c_str(), &old) == 0;
  if (!exists && errno != ENOENT) {
    error_ = last_error();
    return;
  }
  const int fd = ::mkostemp(path_.data(), O_CLOEXEC);
  if (fd < 0) {
    error_ = last_error();
    return;
  }
  file_ = File(fd, true);
  created_ = true;
  if (!take_mode(fd, exists ? &old : nullptr)) error_ = last_error();
}

TemporaryFile::~TemporaryFile() {
  file_.close();
  if (created_ && !committed_) ::unlink(path_.c_str());
}

Error TemporaryFile::commit() noexcept {
  if (::fsync(fd_of(file_)) != 0) return last_error();
  if (Error e = file_.close()) return e;
  if (::rename(path_.c_str(), target_.c_str()) != 0) return last_error();
  committed_ = true;
  return {};
}

}  // namespace mirtle_cli::platform
