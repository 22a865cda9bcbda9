// Buffered output to a descriptor.  A failed write is remembered, later
// output is dropped, and the caller reports the failure once at the end.
#pragma once

#include <string>
#include <string_view>

namespace mirtle_cli {

class Output {
 public:
  // Writes to `fd`, named `name` in messages.  Does not own the descriptor.
  Output(int fd, std::string name);
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;
  ~Output();

  // The pending text: callers append to it directly, then call maybe_flush.
  std::string& buffer() noexcept { return buffer_; }
  void write(std::string_view text) {
    buffer_ += text;
    maybe_flush();
  }
  // Writes the buffer out once it holds a block's worth.
  void maybe_flush() {
    if (buffer_.size() >= kBlock) flush();
  }
  // Writes everything pending; false once any write has failed.
  bool flush();

  bool failed() const noexcept { return error_ != 0; }
  // A reader that went away (a closed pipe) is not an error worth a message.
  bool reader_gone() const noexcept;
  // "NAME: reason" for the first failed write.
  std::string failure() const;
  const std::string& name() const noexcept { return name_; }

 private:
  // 256 KiB: larger blocks measured no faster into a pipe or a file, and
  // smaller ones cost a system call per few documents.
  static constexpr std::size_t kBlock = 256 * 1024;

  int fd_;
  std::string name_;
  std::string buffer_;
  int error_ = 0;  // errno of the first failed write
};

}  // namespace mirtle_cli
