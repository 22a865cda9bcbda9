// What the first read of a file's bytes costs, by the way they are brought
// into the process: mapped (pages met as they are read), mapped with
// MAP_POPULATE, or read into an anonymous buffer with or without huge pages.
// Each way reads every cache line once ("first") and then again ("again").
//
//   build/bench/bench/mirtle_first_touch FILE
//
// The tool maps its inputs; this shows what that costs on a given machine
// beyond the core benchmark, which parses one buffer over and over.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Reads one byte of every cache line; the sum keeps the reads.
std::uint64_t touch(const unsigned char* p, std::size_t n) {
  std::uint64_t sum = 0;
  for (std::size_t i = 0; i < n; i += 64) sum += p[i];
  return sum;
}

struct Region {
  const unsigned char* bytes = nullptr;
  void* base = nullptr;
  std::size_t length = 0;
};

Region map_file(int fd, std::size_t size, int extra_flags) {
  void* p = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | extra_flags, fd, 0);
  if (p == MAP_FAILED) return {};
  return {static_cast<const unsigned char*>(p), p, size};
}

Region read_file(int fd, std::size_t size, bool huge_pages) {
  constexpr std::size_t kHuge = std::size_t{2} << 20;
  const std::size_t length = (size + 2 * kHuge - 1) / kHuge * kHuge;
  void* base = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (base == MAP_FAILED) return {};
  auto* start = reinterpret_cast<unsigned char*>((reinterpret_cast<std::uintptr_t>(base) + kHuge - 1) &
                                                 ~(static_cast<std::uintptr_t>(kHuge) - 1));
  if (huge_pages) ::madvise(start, length - kHuge, MADV_HUGEPAGE);
  for (std::size_t done = 0; done < size;) {
    const ssize_t got = ::pread(fd, start + done, size - done, static_cast<off_t>(done));
    if (got <= 0) {
      ::munmap(base, length);
      return {};
    }
    done += static_cast<std::size_t>(got);
  }
  return {start, base, length};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FILE\n", argv[0]);
    return 2;
  }
  const int fd = ::open(argv[1], O_RDONLY | O_CLOEXEC);
  struct stat info {};
  if (fd < 0 || ::fstat(fd, &info) != 0 || info.st_size <= 0) {
    std::fprintf(stderr, "%s: %s\n", argv[1], std::strerror(errno));
    return 1;
  }
  const auto size = static_cast<std::size_t>(info.st_size);
  std::uint64_t keep = 0;
  std::printf("%-24s %10s %10s %10s\n", "way", "open ms", "first ms", "again ms");
  for (int way = 0; way < 4; ++way) {
    static const char* const kNames[] = {"mmap", "mmap + MAP_POPULATE", "read", "read, huge pages"};
    const auto opened = Clock::now();
    const Region region = way == 0 ? map_file(fd, size, 0)
                          : way == 1 ? map_file(fd, size, MAP_POPULATE)
                                     : read_file(fd, size, way == 3);
    if (region.bytes == nullptr) {
      std::fprintf(stderr, "%s: %s failed\n", argv[1], kNames[way]);
      return 1;
    }
    const double open_ms = ms_since(opened);
    const auto first = Clock::now();
    keep += touch(region.bytes, size);
    const double first_ms = ms_since(first);
    const auto again = Clock::now();
    keep += touch(region.bytes, size);
    std::printf("%-24s %10.1f %10.1f %10.1f\n", kNames[way], open_ms, first_ms, ms_since(again));
    ::munmap(region.base, region.length);
  }
  ::close(fd);
  return keep == 1 ? 3 : 0;  // never 1 in practice; keeps the sums alive
}
