// The tool on Windows: wide-character file APIs under UTF-8 paths, file
// mappings, WriteConsoleW for a console, MoveFileExW for convert's output.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <shellapi.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdio>
#include <utility>

#include "platform.hpp"

namespace mirtle_cli::platform {

namespace {

Error last_error() noexcept { return Error{static_cast<int>(::GetLastError())}; }

HANDLE handle_of(const File& file) noexcept { return reinterpret_cast<HANDLE>(file.native()); }

// UTF-16 as UTF-8.  A lone surrogate, which a Windows file name may hold,
// gets the three-byte form of its code (as WTF-8 does), so that widen()
// gives the same name back.
std::string narrow(std::wstring_view text) {
  std::string out;
  out.reserve(text.size() * 3);
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000)
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// UTF-8 (and WTF-8's lone surrogates) as UTF-16; a byte that starts no
// well-formed sequence becomes U+FFFD, which names no file that exists.
std::wstring widen(std::string_view text) {
  std::wstring out;
  out.reserve(text.size());
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char lead = byte(i);
    const std::size_t length = lead < 0x80 ? 1 : lead >= 0xC2 && lead < 0xE0 ? 2 : lead >= 0xE0 && lead < 0xF0 ? 3
                               : lead >= 0xF0 && lead < 0xF5                  ? 4
                                                                              : 0;
    char32_t c = length == 1 ? lead : length == 2 ? lead & 0x1F : length == 3 ? lead & 0x0F : lead & 0x07;
    bool valid = length != 0 && i + length <= text.size();
    for (std::size_t k = 1; valid && k < length; ++k) {
      valid = (byte(i + k) & 0xC0) == 0x80;
      c = (c << 6) | (byte(i + k) & 0x3F);
    }
    const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (!valid || c < least[length] || c > 0x10FFFF) {
      out += L'\uFFFD';
      ++i;
      continue;
    }
    if (c >= 0x10000) {
      out += static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10));
      out += static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      out += static_cast<wchar_t>(c);
    }
    i += length;
  }
  return out;
}

// The absolute form of `path`, with backslashes; empty on failure.
std::wstring full_path(const std::wstring& path) {
  const DWORD length = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  std::wstring full(length, L'\0');
  const DWORD got = length == 0 ? 0 : ::GetFullPathNameW(path.c_str(), length, full.data(), nullptr);
  full.resize(got < length ? got : 0);
  return full;
}

bool is_console(HANDLE handle) noexcept {
  DWORD mode = 0;
  return ::GetConsoleMode(handle, &mode) != 0;
}

// Text for a console: UTF-16 through WriteConsoleW, whatever its code page.
Error write_console(HANDLE handle, std::string_view text) noexcept {
  try {
    const std::wstring wide = [&] {
      std::wstring w(text.size(), L'\0');
      const int n = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), w.data(),
                                          static_cast<int>(w.size()));
      w.resize(static_cast<std::size_t>(std::max(n, 0)));
      return w;
    }();
    // Pieces of 8192 units: older consoles refuse large writes; a piece
    // never ends between the two halves of a surrogate pair.
    for (std::size_t at = 0; at < wide.size();) {
      std::size_t piece = std::min<std::size_t>(wide.size() - at, 8192);
      if (at + piece < wide.size() && wide[at + piece - 1] >= 0xD800 && wide[at + piece - 1] < 0xDC00) --piece;
      DWORD wrote = 0;
      if (!::WriteConsoleW(handle, wide.data() + at, static_cast<DWORD>(piece), &wrote, nullptr)) return last_error();
      at += wrote == 0 ? piece : wrote;
    }
  } catch (...) {
    return Error{ERROR_NOT_ENOUGH_MEMORY};
  }
  return {};
}

HANDLE standard_handle(Stream stream) noexcept {
  switch (stream) {
    case Stream::input: return ::GetStdHandle(STD_INPUT_HANDLE);
    case Stream::output: return ::GetStdHandle(STD_OUTPUT_HANDLE);
    case Stream::error: break;
  }
  return ::GetStdHandle(STD_ERROR_HANDLE);
}

// ERROR_DIRECTORY_NOT_SUPPORTED, which older SDK headers lack: what a
// directory opened as a file gives.
constexpr DWORD kIsDirectory = 336;

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Linux's words for the errors both systems know, so that a message reads
// the same on either.
const char* linux_words(DWORD code) noexcept {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME: return "No such file or directory";
    case ERROR_ACCESS_DENIED: return "Permission denied";
    case kIsDirectory: return "Is a directory";
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return "No space left on device";
    case ERROR_FILE_TOO_LARGE: return "File too large";
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return "File exists";
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA:
    case ERROR_PIPE_NOT_CONNECTED: return "Broken pipe";
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY: return "Cannot allocate memory";
    case ERROR_INVALID_HANDLE: return "Bad file descriptor";
    default: return nullptr;
  }
}

// ".NAME.XXXXXX" beside `target`, six letters and digits drawn anew each try.
std::string name_beside(const std::string& target, std::uint64_t& state) {
  std::size_t base = target.find_last_of("/\\");
  base = base == std::string::npos ? (target.size() >= 2 && target[1] == ':' ? 2 : 0) : base + 1;
  std::string name = target.substr(0, base) + "." + target.substr(base) + ".";
  // splitmix64: a fresh, well-mixed value per try from a changing seed.
  std::uint64_t z = (state += 0x9E3779B97F4A7C15u);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
  z ^= z >> 31;
  constexpr std::string_view kLetters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  for (int i = 0; i < 6; ++i, z /= kLetters.size()) name += kLetters[z % kLetters.size()];
  return name;
}

// One rename that replaces what is there: readers see the old file or the
// new one, never none.  (ReplaceFileW, which also keeps the old file's
// access rights, moves the old file away first: wine's left the name empty
// for a moment while two writers replaced one file.)
bool move_into_place(const std::wstring& from, const std::wstring& to) noexcept {
  return ::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

// Errors that a file held open for a moment by another process gives.
bool is_transient(Error error) noexcept {
  switch (static_cast<DWORD>(error.code)) {
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION: return true;
    default: return false;
  }
}

}  // namespace

std::string describe(Error error) {
  const auto code = static_cast<DWORD>(error.code);
  if (const char* words = linux_words(code)) return words;
  wchar_t* buffer = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
      reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::string text = length != 0 ? narrow(std::wstring_view(buffer, length)) : "error " + std::to_string(code);
  ::LocalFree(buffer);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.'))
    text.pop_back();
  return text;
}

// Windows says ERROR_NO_DATA when the reader has closed its end; wine's
// pipes, which are the host's, say ERROR_PIPE_NOT_CONNECTED.
bool reader_gone(Error error) noexcept {
  return error.code == ERROR_NO_DATA || error.code == ERROR_BROKEN_PIPE || error.code == ERROR_PIPE_NOT_CONNECTED;
}

std::vector<std::string> start(int, char**) {
  // No box asking to insert a disk or to report a crash: a tool in a
  // script fails with a status instead.
  ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  // The tool writes through handles; the C runtime's streams are made
  // binary too, so that nothing written through them gains a CR.
  for (FILE* stream : {stdin, stdout, stderr}) _setmode(_fileno(stream), _O_BINARY);
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  std::vector<std::string> arguments;
  if (wide == nullptr) return arguments;
  try {
    for (int i = 0; i < count; ++i) arguments.push_back(narrow(wide[i]));
  } catch (...) {
    ::LocalFree(wide);
    throw;
  }
  ::LocalFree(wide);
  return arguments;
}

File File::standard(Stream stream) noexcept {
  return File(reinterpret_cast<std::intptr_t>(standard_handle(stream)), false);
}

Error File::close() noexcept {
  const auto handle = reinterpret_cast<HANDLE>(std::exchange(handle_, -1));
  if (!std::exchange(owned_, false) || handle == INVALID_HANDLE_VALUE) return {};
  return ::CloseHandle(handle) ? Error{} : last_error();
}

Error open_for_reading(const std::string& path, File& file, FileInfo& info) {
  if (path == "-") {
    file = File::standard(Stream::input);
  } else {
    const HANDLE handle =
        ::CreateFileW(widen(path).c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      const Error error = last_error();
      // A directory cannot be opened as a file: say what it is.
      const DWORD attributes = ::GetFileAttributesW(widen(path).c_str());
      if (error.code == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES &&
          (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return Error{kIsDirectory};
      return error;
    }
    file = File(reinterpret_cast<std::intptr_t>(handle), true);
  }
  const HANDLE handle = handle_of(file);
  info = FileInfo{};
  if (::GetFileType(handle) != FILE_TYPE_DISK) return {};
  BY_HANDLE_FILE_INFORMATION status{};
  if (!::GetFileInformationByHandle(handle, &status)) return last_error();
  if ((status.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return Error{kIsDirectory};
  info.kind = Kind::regular;
  info.size = (std::uint64_t{status.nFileSizeHigh} << 32) | status.nFileSizeLow;
  return {};
}

Error read_some(const File& file, char* to, std::size_t size, std::size_t& got) noexcept {
  DWORD n = 0;
  got = 0;
  if (!::ReadFile(handle_of(file), to, static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30)), &n, nullptr)) {
    const Error error = last_error();
    // The writer of a pipe has gone: that is its end.
    return error.code == ERROR_BROKEN_PIPE || error.code == ERROR_HANDLE_EOF ? Error{} : error;
  }
  got = n;
  return {};
}

const char* map_file(const File& file, std::size_t size) noexcept {
  const HANDLE mapping = ::CreateFileMappingW(handle_of(file), nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (mapping == nullptr) return nullptr;
  // The view keeps the mapping alive after its handle is closed.
  void* view = ::MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, size);
  ::CloseHandle(mapping);
  return static_cast<const char*>(view);
}

void unmap_file(const char* view, std::size_t) noexcept { ::UnmapViewOfFile(view); }

Error write_all(const File& file, std::string_view text) noexcept {
  const HANDLE handle = handle_of(file);
  if (is_console(handle)) return write_console(handle, text);
  while (!text.empty()) {
    DWORD wrote = 0;
    const auto piece = static_cast<DWORD>(std::min<std::size_t>(text.size(), 1u << 30));
    if (!::WriteFile(handle, text.data(), piece, &wrote, nullptr)) return last_error();
    text.remove_prefix(wrote);
  }
  return {};
}

bool is_terminal(Stream stream) noexcept {
  const HANDLE handle = standard_handle(stream);
  DWORD mode = 0;
  if (!::GetConsoleMode(handle, &mode)) return false;
  return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
         ::SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

std::size_t terminal_width(Stream stream) noexcept {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!::GetConsoleScreenBufferInfo(standard_handle(stream), &info)) return 0;
  return static_cast<std::size_t>(std::max(0, info.srWindow.Right - info.srWindow.Left + 1));
}

Error find_destination(const std::string& path, Destination& destination) {
  destination = Destination{Destination::replace, path, false};
  const std::wstring wide = widen(path);
  // NUL, CON, COM1 and names in \\.\ are devices: written where they are.
  // Asking for the full name tells them apart without opening them (opening
  // a named pipe to look at it would take one of its connections).
  const std::wstring full = full_path(wide);
  if (full.empty()) return last_error();
  if (full.rfind(L"\\\\.\\", 0) == 0) {
    destination.kind = Destination::in_place;
    return {};
  }
  const HANDLE handle = ::CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const Error error = last_error();
    return error.code == ERROR_FILE_NOT_FOUND || error.code == ERROR_PATH_NOT_FOUND ? Error{} : error;
  }
  const File opened(reinterpret_cast<std::intptr_t>(handle), true);
  if (::GetFileType(handle) != FILE_TYPE_DISK) {
    destination.kind = Destination::in_place;
    return {};
  }
  BY_HANDLE_FILE_INFORMATION status{};
  if (!::GetFileInformationByHandle(handle, &status)) return last_error();
  if ((status.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return Error{kIsDirectory};
  // A symbolic link: its target is replaced, and the link stays.
  const DWORD attributes = ::GetFileAttributesW(wide.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    const DWORD size = ::GetFinalPathNameByHandleW(handle, nullptr, 0, FILE_NAME_NORMALIZED);
    std::wstring target(size, L'\0');
    const DWORD got = size == 0 ? 0 : ::GetFinalPathNameByHandleW(handle, target.data(), size, FILE_NAME_NORMALIZED);
    if (got == 0 || got >= size) return last_error();
    target.resize(got);
    destination.file = narrow(target);
  }
  return {};
}

Error open_in_place(const std::string& path, bool truncate, File& file) {
  const HANDLE handle = ::CreateFileW(widen(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      truncate ? TRUNCATE_EXISTING : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return last_error();
  file = File(reinterpret_cast<std::intptr_t>(handle), true);
  return {};
}

TemporaryFile::TemporaryFile(const std::string& target) : target_(target) {
  LARGE_INTEGER now{};
  ::QueryPerformanceCounter(&now);
  std::uint64_t state = static_cast<std::uint64_t>(now.QuadPart) ^ (std::uint64_t{::GetCurrentProcessId()} << 32) ^
                        reinterpret_cast<std::uintptr_t>(this);
  // CREATE_NEW fails on any name that exists, a planted link included: try
  // another name then.
  for (int attempt = 0; attempt < 100; ++attempt) {
    path_ = name_beside(target, state);
    const HANDLE handle = ::CreateFileW(widen(path_).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
      file_ = File(reinterpret_cast<std::intptr_t>(handle), true);
      created_ = true;
      error_ = {};
      return;
    }
    error_ = last_error();
    if (error_.code != ERROR_FILE_EXISTS && error_.code != ERROR_ALREADY_EXISTS) return;
  }
}

TemporaryFile::~TemporaryFile() {
  file_.close();
  if (created_ && !committed_) ::DeleteFileW(widen(path_).c_str());
}

Error TemporaryFile::commit() noexcept {
  if (!::FlushFileBuffers(handle_of(file_))) return last_error();
  if (Error e = file_.close()) return e;
  std::wstring from, to;
  try {
    from = widen(path_);
    to = widen(target_);
  } catch (...) {
    return Error{ERROR_NOT_ENOUGH_MEMORY};
  }
  // A read-only file is refused at once, as Windows' own tools refuse it;
  // a hidden or system file stays one, as a replaced file keeps its mode.
  const DWORD attributes = ::GetFileAttributesW(to.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) return Error{ERROR_ACCESS_DENIED};
    constexpr DWORD kKept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    if ((attributes & kKept) != 0 && !::SetFileAttributesW(from.c_str(), attributes & kKept)) return last_error();
  }
  // Another writer replacing the same file holds it for a moment, which
  // Windows reports as a refusal where Linux's rename never waits: try
  // again for about two seconds before giving up.
  for (DWORD pause = 1;; pause *= 2) {
    if (move_into_place(from, to)) break;
    const Error error = last_error();
    if (!is_transient(error) || pause > 1024) return error;
    ::Sleep(pause);
  }
  committed_ = true;
  return {};
}

}  // namespace mirtle_cli::platform
