// Statement files as byte views: regular files are mapped rather than read,
// so a statement of any size costs no second buffer; standard input, pipes
// and devices are read whole, up to kUnsizedLimit bytes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace mirtle_cli {

// The most that is read from an input without a size (standard input, a
// pipe, a device): a statement of hundreds of megabytes fits, and
// /dev/zero does not take all memory.
inline constexpr std::size_t kUnsizedLimit = std::size_t{1} << 30;
inline constexpr const char* kUnsizedLimitMessage =
    "more than 1 GiB, the most read from standard input, a pipe or a device (name a file instead)";

class Input {
 public:
  // Opens `path`, or standard input for "-".  On failure returns false and
  // sets `error` to the reason ("No such file or directory").
  static bool open(const std::string& path, Input& input, std::string& error);

  Input() = default;
  Input(Input&& other) noexcept;
  Input& operator=(Input&& other) noexcept;
  Input(const Input&) = delete;
  Input& operator=(const Input&) = delete;
  ~Input();

  std::string_view bytes() const noexcept { return bytes_; }
  // How the file is named in messages: its path, or "<stdin>".
  const std::string& name() const noexcept { return name_; }

 private:
  void release() noexcept;

  std::string name_;
  std::string_view bytes_;
  const char* mapping_ = nullptr;  // unmapped by the destructor
  std::size_t mapped_size_ = 0;
  std::string owned_;  // the bytes of a pipe
};

// How a path is named in messages.
std::string display_name(const std::string& path);

}  // namespace mirtle_cli
