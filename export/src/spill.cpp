#include "spill.hpp"

#include <cerrno>
#include <cstring>
#include <memory>

namespace mirtle::exporting {

namespace {

[[noreturn]] void fail(const char* what, int error) {
  throw ExportError(std::string("temporary file: ") + what + ": " + std::strerror(error));
}

}  // namespace

Spill::~Spill() {
  if (file_ != nullptr) std::fclose(file_);
}

void Spill::write_file() {
  if (file_ == nullptr) {
    // Removed by the system when closed, or when the process ends.
    file_ = std::tmpfile();
    if (file_ == nullptr) fail("cannot be made", errno);
  }
  if (std::fwrite(buffer_.data(), 1, buffer_.size(), file_) != buffer_.size()) fail("cannot be written", errno);
  buffer_.clear();
}

void Spill::maybe_spill() {
  if (buffer_.size() >= kMemory) write_file();
}

void Spill::drain_to(BlockOut& out) {
  if (file_ != nullptr) {
    if (std::fflush(file_) != 0) fail("cannot be written", errno);
    std::rewind(file_);
    // Uninitialised, as make_unique_for_overwrite (which emscripten's libc++ lacks).
    const std::unique_ptr<char[]> block(new char[BlockOut::kBlock]);
    for (;;) {
      const std::size_t n = std::fread(block.get(), 1, BlockOut::kBlock, file_);
      out.buffer().append(block.get(), n);
      out.maybe_flush();
      if (n < BlockOut::kBlock) break;
    }
    if (std::ferror(file_)) fail("cannot be read", errno);
    std::fclose(file_);
    file_ = nullptr;
  }
  out.buffer() += buffer_;
  std::string().swap(buffer_);
  out.maybe_flush();
}

}  // namespace mirtle::exporting
