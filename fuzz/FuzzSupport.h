// What the fuzz targets share: a broken invariant stops the run, and the file targets
// work in a folder of their own, removed when the process ends.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <unistd.h>

inline void Check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "violated: %s\n", what);
  std::abort();
}

// A folder per process (writes put their temporary file beside the target), in
// memory where the machine has /dev/shm.
inline const std::filesystem::path& WorkFolder() {
  static const std::filesystem::path folder = [] {
    std::filesystem::path base =
        access("/dev/shm", W_OK) == 0 ? "/dev/shm" : std::filesystem::temp_directory_path();
    auto f = base / ("lumetra-fuzz-" + std::to_string(getpid()));
    std::filesystem::create_directories(f);
    return f;
  }();
  // Registered once the path exists, so that it is removed before the path is destroyed.
  static const bool cleanup = std::atexit([] {
    std::error_code ec;
    std::filesystem::remove_all(WorkFolder(), ec);
  }) == 0;
  (void)cleanup;
  return folder;
}
