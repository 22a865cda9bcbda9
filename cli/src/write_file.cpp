#include "write_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

#include "common.hpp"
#include "output.hpp"

namespace mirtle_cli {

namespace {

bool fail(const std::string& name, int error) {
  complain(name + ": " + std::strerror(error));
  return false;
}

bool same_file(const struct stat& a, const struct stat& b) noexcept {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool is_standard_output(const struct stat& target) noexcept {
  struct stat out {};
  return ::fstat(STDOUT_FILENO, &out) == 0 && same_file(out, target);
}

using Producer = std::function<bool(Output&)>;

// Writes what `produce` makes through `fd`, which the caller closes.
bool write_through(int fd, const std::string& name, const Producer& produce) {
  Output out(fd, name);
  const bool made = produce(out);
  return finish(out) == kSuccess && made;
}

bool write_in_place(const std::string& path, const struct stat& target, const Producer& produce) {
  const int truncate = S_ISREG(target.st_mode) ? O_TRUNC : 0;
  const int fd = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC | truncate);
  if (fd < 0) return fail(path, errno);
  const bool written = write_through(fd, path, produce);
  if (::close(fd) != 0 && written) return fail(path, errno);
  return written;
}

// The real path of the regular file the symbolic link `path` leads to, or
// empty where that name is not the file (a link in /proc to a deleted file).
std::string link_target(const std::string& path, const struct stat& target) {
  const std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
  struct stat named {};
  if (real == nullptr || ::stat(real.get(), &named) != 0 || !same_file(named, target)) return {};
  return real.get();
}

// A file made exclusively beside the one it will replace, so that no link
// planted in advance is followed and two writers never share one; removed
// unless it has been renamed into place.
class TemporaryFile {
 public:
  explicit TemporaryFile(const std::string& target) : path_(name_beside(target)) {
    fd_ = ::mkostemp(path_.data(), O_CLOEXEC);
    if (fd_ < 0) error_ = errno;
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile() {
    if (fd_ >= 0) ::close(fd_);
    if (error_ == 0 && !renamed_) ::unlink(path_.c_str());
  }

  int fd() const noexcept { return fd_; }
  int error() const noexcept { return error_; }  // errno of a failed creation
  bool close() noexcept { return ::close(std::exchange(fd_, -1)) == 0; }
  bool rename_to(const std::string& target) noexcept {
    renamed_ = ::rename(path_.c_str(), target.c_str()) == 0;
    return renamed_;
  }

 private:
  // ".NAME.XXXXXX" in the directory of `target`.
  static std::string name_beside(const std::string& target) {
    const std::size_t slash = target.rfind('/');
    const std::size_t base = slash == std::string::npos ? 0 : slash + 1;
    return target.substr(0, base) + "." + target.substr(base) + ".XXXXXX";
  }

  std::string path_;
  int fd_ = -1;
  int error_ = 0;
  bool renamed_ = false;
};

// Gives the temporary file the mode of the file it replaces, and its owner
// where it can; a new file gets what creating it would have given, 0666
// less the umask.
bool take_mode(int fd, const struct stat* old) {
  if (old == nullptr) {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return ::fchmod(fd, 0666 & ~mask) == 0;
  }
  auto mode = static_cast<mode_t>(old->st_mode & 07777);
  if ((old->st_uid != ::geteuid() || old->st_gid != ::getegid()) && ::fchown(fd, old->st_uid, old->st_gid) != 0) {
    if (errno != EPERM) return false;
    // Another's file becomes ours: without set-ID bits, which would now name us.
    mode &= static_cast<mode_t>(~(S_ISUID | S_ISGID));
  }
  return ::fchmod(fd, mode) == 0;
}

// Replaces the regular file `target` (or makes it, when `old` is null);
// messages name the file `name` the user gave.
bool replace(const std::string& target, const std::string& name, const struct stat* old, const Producer& produce) {
  TemporaryFile temporary(target);
  if (temporary.fd() < 0) return fail(name, temporary.error());
  if (!take_mode(temporary.fd(), old)) return fail(name, errno);
  Output out(temporary.fd(), name);
  if (!produce(out)) return false;
  if (!out.flush()) {
    complain(out.failure());
    return false;
  }
  if (::fsync(temporary.fd()) != 0 || !temporary.close() || !temporary.rename_to(target)) return fail(name, errno);
  return true;
}

}  // namespace

bool write_file(const std::string& path, std::string text) {
  return write_file(path, [&text](Output& out) {
    out.buffer().swap(text);
    return true;
  });
}

bool write_file(const std::string& path, const Producer& produce) {
  if (path == "-") return write_through(STDOUT_FILENO, "standard output", produce);
  struct stat target {};
  if (::stat(path.c_str(), &target) != 0) return errno == ENOENT ? replace(path, path, nullptr, produce) : fail(path, errno);
  struct stat link {};
  if (::lstat(path.c_str(), &link) != 0) return fail(path, errno);
  // "/dev/stdout" and the like: the descriptor itself keeps its offset and
  // append mode, and a socket cannot be opened by name.
  if (!S_ISREG(link.st_mode) && is_standard_output(target)) return write_through(STDOUT_FILENO, path, produce);
  if (!S_ISREG(target.st_mode)) return write_in_place(path, target, produce);
  const std::string replaced = S_ISLNK(link.st_mode) ? link_target(path, target) : path;
  if (replaced.empty()) return write_in_place(path, target, produce);
  return replace(replaced, path, &target, produce);
}

}  // namespace mirtle_cli
