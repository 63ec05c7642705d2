// Reading and writing INI files with the rules of the Windows profile functions,
// which stored files and server pages rely on, on every platform.
//
// Names match without regard to case (ASCII letters; both bytes of a double-byte
// character are compared as they are) and with surrounding blanks trimmed; the first
// of duplicate sections or keys wins; values are trimmed and one pair of matching
// quotes is removed; ";" opens a comment line, there are no inline comments; a line
// without "=" is no key; keys before any section belong to the unnamed section.
// A write changes only the line of its key (or adds one) and keeps every other byte.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace profile {

constexpr size_t ValueBufferSize = 2048;  // at most 2047 bytes of a value come back
constexpr size_t ListBufferSize = 16384;  // section and key lists are cut to fit this

// Value of section/key, or fallback when the file, the section or the key is absent.
std::string ReadString(const std::string& path, const std::string& section, const std::string& key,
                       const std::string& fallback, size_t bufferSize = ValueBufferSize);

// Names of all named sections in file order (duplicates included), as far as they fit.
std::vector<std::string> ReadSectionNames(const std::string& path, size_t bufferSize = ListBufferSize);

// Names of the keys of the first section of that name, in file order, as far as they fit.
std::vector<std::string> ReadKeyNames(const std::string& path, const std::string& section,
                                      size_t bufferSize = ListBufferSize);

// Writes section/key = value and replaces the file atomically. False when the file
// cannot be read or replaced, or when the text could not be read back as written
// (a line break anywhere, "=" in the key, "]" in the section): nothing is changed then.
bool WriteString(const std::string& path, const std::string& section, const std::string& key,
                 const std::string& value);

namespace detail {
struct Parsed;
}

// The file as it was read once, by the same rules: for an operation that lists every
// section, key and value, which would otherwise read the file once per key.
class Snapshot {
 public:
  explicit Snapshot(const std::string& path);
  std::string ReadString(const std::string& section, const std::string& key, const std::string& fallback,
                         size_t bufferSize = ValueBufferSize) const;
  std::vector<std::string> ReadSectionNames(size_t bufferSize = ListBufferSize) const;
  std::vector<std::string> ReadKeyNames(const std::string& section, size_t bufferSize = ListBufferSize) const;

 private:
  std::shared_ptr<const detail::Parsed> FParsed;
};

// Whether a key of that name reads back as written (no line break, no "=", not
// starting as a comment or a section, not blank).
bool IsWritableKey(const std::string& key);

}  // namespace profile
