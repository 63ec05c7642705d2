// The few file operations the framework needs of the operating system.
// Paths are ANSI text; each platform maps them to its own file names.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace fs {

bool IsRegularFile(const std::string& path);

// Identity of a file's current contents: changes whenever the file is replaced or written.
struct Signature {
  uint64_t device = 0, inode = 0, size = 0;
  int64_t mtimeNs = 0, ctimeNs = 0;
  bool operator==(const Signature&) const = default;
};
std::optional<Signature> Stat(const std::string& path);

// Whole file; nullopt when it cannot be read.
std::optional<std::string> ReadAll(const std::string& path);

// Replaces the file's contents all at once: a new file beside it, flushed to disk and
// renamed over the old one, so a crash or a full disk never leaves a torn file.
// False (and the old file untouched) when that is not possible.
bool ReplaceAtomically(const std::string& path, const std::string& bytes);

// Absolute path of the running program.
std::string ExecutablePath();

}  // namespace fs
