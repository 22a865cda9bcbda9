#include "input.hpp"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "platform/platform.hpp"

namespace mirtle_cli {

namespace {

// Reads to the end, or to `limit` bytes and one more, which tells the caller
// there was more.  Grows by doubling, but never past the limit.
platform::Error read_all(const platform::File& file, std::string& out, std::size_t limit) {
  constexpr std::size_t kChunk = 1 << 20;
  for (;;) {
    const std::size_t used = out.size();
    const std::size_t want = std::min(kChunk, limit + 1 - used);
    if (want == 0) return {};
    if (used + want > out.capacity()) out.reserve(std::min(limit + 1, std::max(2 * out.capacity(), used + want)));
    out.resize(used + want);
    std::size_t got = 0;
    const platform::Error error = platform::read_some(file, out.data() + used, want, got);
    out.resize(used + got);
    if (error) return error;
    if (got == 0) return {};
  }
}

}  // namespace

std::string display_name(const std::string& path) { return path == "-" ? "<stdin>" : path; }

bool Input::open(const std::string& path, Input& input, std::string& error) {
  input = Input();
  input.name_ = display_name(path);
  platform::File file;
  platform::FileInfo info;
  if (const platform::Error e = platform::open_for_reading(path, file, info)) {
    error = platform::describe(e);
    return false;
  }
  const bool regular = info.kind == platform::Kind::regular;
  if (regular && info.size > 0) {
    const auto size = static_cast<std::size_t>(info.size);
    if (const char* mapping = platform::map_file(file, size)) {
      input.mapping_ = mapping;
      input.mapped_size_ = size;
      input.bytes_ = std::string_view(mapping, size);
      return true;
    }
  }
  // A regular file that could not be mapped has a size of its own; what else
  // there is (standard input, a pipe, a device) is held whole, so it is held
  // to a bound.
  const std::size_t limit = regular ? SIZE_MAX - 1 : kUnsizedLimit;
  if (const platform::Error e = read_all(file, input.owned_, limit)) {
    error = platform::describe(e);
    return false;
  }
  if (input.owned_.size() > limit) {
    error = kUnsizedLimitMessage;
    return false;
  }
  input.bytes_ = input.owned_;
  return true;
}

Input::Input(Input&& other) noexcept { *this = std::move(other); }

Input& Input::operator=(Input&& other) noexcept {
  if (this == &other) return *this;
  release();
  name_ = std::move(other.name_);
  const bool owned = other.mapping_ == nullptr;
  owned_ = std::move(other.owned_);
  bytes_ = owned ? std::string_view(owned_) : other.bytes_;
  mapping_ = std::exchange(other.mapping_, nullptr);
  mapped_size_ = std::exchange(other.mapped_size_, 0);
  other.bytes_ = {};
  return *this;
}

Input::~Input() { release(); }

void Input::release() noexcept {
  if (mapping_ != nullptr) platform::unmap_file(mapping_, mapped_size_);
  mapping_ = nullptr;
  mapped_size_ = 0;
  bytes_ = {};
}

}  // namespace mirtle_cli
