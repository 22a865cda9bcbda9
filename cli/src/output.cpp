#include "output.hpp"

#include <utility>

namespace mirtle_cli {

Output::Output(platform::File file, std::string name) : file_(std::move(file)), name_(std::move(name)) {
  buffer_.reserve(kBlock + kBlock / 4);
}

Output::~Output() = default;

bool Output::flush() {
  if (!error_) error_ = platform::write_all(file_, buffer_);
  buffer_.clear();
  return !error_;
}

std::string Output::failure() const { return name_ + ": " + platform::describe(error_); }

}  // namespace mirtle_cli
