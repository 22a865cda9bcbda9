#include "output.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace mirtle_cli {

Output::Output(int fd, std::string name) : fd_(fd), name_(std::move(name)) {
  buffer_.reserve(kBlock + kBlock / 4);
}

Output::~Output() = default;

bool Output::flush() {
  std::size_t done = 0;
  while (error_ == 0 && done < buffer_.size()) {
    const ssize_t wrote = ::write(fd_, buffer_.data() + done, buffer_.size() - done);
    if (wrote >= 0) {
      done += static_cast<std::size_t>(wrote);
    } else if (errno != EINTR) {
      error_ = errno;
    }
  }
  buffer_.clear();
  return error_ == 0;
}

bool Output::reader_gone() const noexcept { return error_ == EPIPE; }

std::string Output::failure() const { return name_ + ": " + std::strerror(error_); }

}  // namespace mirtle_cli
