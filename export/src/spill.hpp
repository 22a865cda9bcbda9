// Bytes set aside until they can be written: kept in memory up to a bound,
// then in a temporary file, and handed over whole, in order.
#pragma once

#include <cstdio>
#include <string>

#include "block_out.hpp"

namespace mirtle::exporting {

class Spill {
 public:
  // 32 MiB: documents that wait are the exception (account sections after
  // documents), and a statement's worth of them may be gigabytes.
  static constexpr std::size_t kMemory = std::size_t{32} << 20;

  Spill() = default;
  Spill(const Spill&) = delete;
  Spill& operator=(const Spill&) = delete;
  ~Spill();

  // Append here, then call maybe_spill.
  std::string& buffer() noexcept { return buffer_; }
  // Moves the buffer to the temporary file once it outgrows kMemory.
  // Throws ExportError when the file cannot be made or written.
  void maybe_spill();
  // Appends everything set aside to `out` and empties the spill.
  void drain_to(BlockOut& out);

 private:
  void write_file();

  std::string buffer_;
  std::FILE* file_ = nullptr;  // made at the first spill
};

}  // namespace mirtle::exporting
