#include "../FileSystem.h"
#include "../SysUtils.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

const char PathDelim = '/';

namespace fs {
namespace {

// The program's paths are ANSI text; the file system's names are UTF-8.
std::string Native(const std::string& path) { return AnsiToUtf8(path); }

bool WriteAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

bool IsRegularFile(const std::string& ansiPath) {
  std::string path = Native(ansiPath);
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::optional<Signature> Stat(const std::string& ansiPath) {
  std::string path = Native(ansiPath);
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return Signature{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino),
                   static_cast<uint64_t>(st.st_size),
                   int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
                   int64_t(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec};
}

std::optional<std::string> ReadAll(const std::string& ansiPath) {
  std::string path = Native(ansiPath);
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string out;
  struct stat st {};
  if (::fstat(fd, &st) == 0 && st.st_size > 0) out.reserve(static_cast<size_t>(st.st_size));
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      return std::nullopt;
    }
    if (n == 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  return out;
}

bool ReplaceAtomically(const std::string& ansiPath, const std::string& bytes) {
  std::string path = Native(ansiPath);
  // Write through a link to the file it names, so the link stays a link.
  std::string target = path;
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved)) target = resolved;

  struct stat old {};
  bool existed = ::stat(target.c_str(), &old) == 0;
  if (existed && !S_ISREG(old.st_mode)) return false;
  // A file the user may not write stays as it is, as an in-place write would.
  if (existed && ::access(target.c_str(), W_OK) != 0) return false;

  auto slash = target.rfind('/');
  std::string dir = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  std::string tmpl = (dir.empty() ? std::string("./") : dir) + ".lumetra-XXXXXX";
  int fd = ::mkstemp(tmpl.data());
  if (fd < 0) return false;
  mode_t mode = existed ? (old.st_mode & 07777) : [] {
    mode_t mask = ::umask(0);
    ::umask(mask);
    return static_cast<mode_t>(0666 & ~mask);
  }();
  bool ok = ::fchmod(fd, mode) == 0 && WriteAll(fd, bytes) && ::fsync(fd) == 0;
  if (existed && ok && (::fchown(fd, old.st_uid, old.st_gid) != 0)) {
    // Keeping the owner is best effort; only root can give a file away.
  }
  ok = (::close(fd) == 0) && ok;
  if (ok) ok = ::rename(tmpl.c_str(), target.c_str()) == 0;
  if (!ok) {
    ::unlink(tmpl.c_str());
    return false;
  }
  int dfd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
  return true;
}

std::string ExecutablePath() {
  char buf[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  return n > 0 ? Utf8ToAnsi(std::string(buf, static_cast<size_t>(n))) : std::string();
}

}  // namespace fs

bool IsFullPath(const AnsiString& fileName) { return !fileName.empty() && fileName[0] == '/'; }
