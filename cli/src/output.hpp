// Buffered output to a file.  A failed write is remembered, later output is
// dropped, and the caller reports the failure once at the end.
#pragma once

#include <string>
#include <string_view>

#include "platform/platform.hpp"

namespace mirtle_cli {

class Output {
 public:
  // Writes to `file`, named `name` in messages.
  Output(platform::File file, std::string name);
  // Standard output, named "standard output".
  static Output standard() { return Output(platform::File::standard(platform::Stream::output), "standard output"); }
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

  bool failed() const noexcept { return static_cast<bool>(error_); }
  // A reader that went away (a closed pipe) is not an error worth a message.
  bool reader_gone() const noexcept { return platform::reader_gone(error_); }
  // "NAME: reason" for the first failed write.
  std::string failure() const;
  const std::string& name() const noexcept { return name_; }

 private:
  // 256 KiB: larger blocks measured no faster into a pipe or a file, and
  // smaller ones cost a system call per few documents.
  static constexpr std::size_t kBlock = 256 * 1024;

  platform::File file_;
  std::string name_;
  std::string buffer_;
  platform::Error error_;  // of the first failed write
};

}  // namespace mirtle_cli
