#include "spill.hpp"

#include <cerrno>
#include <cstring>
#include <memory>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdint>
#include <string>
#endif

namespace mirtle::exporting {

namespace {

[[noreturn]] void fail(const char* what, int error) {
  throw ExportError(std::string("temporary file: ") + what + ": " + std::strerror(error));
}

#ifdef _WIN32
// The C runtime's tmpfile() makes its file in the root of the current
// drive, where a user without rights there cannot write: the file is made
// in the user's temporary folder instead, under a new name (never an
// existing file or link), and deleted when closed.
std::FILE* temporary_file() {
  wchar_t folder[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
  if (length == 0 || length > MAX_PATH) {
    errno = ENOENT;
    return nullptr;
  }
  LARGE_INTEGER ticks;
  QueryPerformanceCounter(&ticks);
  auto seed = static_cast<std::uint64_t>(ticks.QuadPart) ^ (std::uint64_t{GetCurrentProcessId()} << 32);
  for (int attempt = 0; attempt < 100; ++attempt) {
    seed = seed * 6364136223846793005ull + 1442695040888963407ull;
    const std::wstring path = std::wstring(folder, length) + L"mirtle-" + std::to_wstring(seed >> 16) + L".tmp";
    const HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      if (GetLastError() == ERROR_FILE_EXISTS) continue;
      errno = EACCES;
      return nullptr;
    }
    const int fd = _open_osfhandle(reinterpret_cast<std::intptr_t>(handle), _O_RDWR | _O_BINARY);
    if (fd < 0) {
      CloseHandle(handle);
      return nullptr;
    }
    std::FILE* file = _fdopen(fd, "w+b");
    if (file == nullptr) _close(fd);
    return file;
  }
  errno = EEXIST;
  return nullptr;
}
#else
// Removed by the system when closed, or when the process ends.
std::FILE* temporary_file() { return std::tmpfile(); }
#endif

}  // namespace

Spill::~Spill() {
  if (file_ != nullptr) std::fclose(file_);
}

void Spill::write_file() {
  if (file_ == nullptr) {
    file_ = temporary_file();
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
