// Output gathered into blocks before it goes to a ByteSink: a sink that
// writes to a descriptor or calls into Python pays per call, not per byte.
#pragma once

#include <string>

#include "mirtle/export.hpp"

namespace mirtle::exporting {

class BlockOut {
 public:
  // 256 KiB: the tool measured no gain from larger blocks into a pipe or a
  // file, and smaller ones cost a call per few documents.
  static constexpr std::size_t kBlock = 256 * 1024;

  explicit BlockOut(ByteSink& sink) : sink_(sink) { buffer_.reserve(kBlock + kBlock / 4); }
  BlockOut(const BlockOut&) = delete;
  BlockOut& operator=(const BlockOut&) = delete;

  // The pending bytes: writers append to it, then call maybe_flush.
  std::string& buffer() noexcept { return buffer_; }
  void maybe_flush() {
    if (buffer_.size() >= kBlock) flush();
  }
  void flush() {
    if (buffer_.empty()) return;
    sink_.take(buffer_);
    buffer_.clear();  // in case a sink forgot
    if (buffer_.capacity() < kBlock) buffer_.reserve(kBlock + kBlock / 4);
  }

 private:
  ByteSink& sink_;
  std::string buffer_;
};

}  // namespace mirtle::exporting
