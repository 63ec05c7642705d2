#include "../InstanceMarker.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

static long lastError = 0;

// Per login session: the runtime folder, or a private folder of the user's own.
static std::string MarkerFolder() {
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) return runtime;
  const char* tmp = std::getenv("TMPDIR");
  std::string dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/lumetra-" + std::to_string(getuid());
  if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return {};
  struct stat st {};
  if (::lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid()) return {};
  return dir;
}

THandle CreateInstanceMarker(const AnsiString& name) {
  lastError = 0;
  std::string dir = MarkerFolder();
  if (dir.empty()) return 0;
  int fd = ::open((dir + "/" + name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return 0;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK) {
      ::close(fd);
      return 0;
    }
    lastError = ERROR_ALREADY_EXISTS;
  }
  return fd + 1;  // 0 means no handle
}

long LastMarkerError() { return lastError; }

void CloseMarker(THandle handle) {
  if (handle > 0) ::close(static_cast<int>(handle - 1));
}
