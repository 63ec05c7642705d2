// Arbitrary bytes as an INI file: everything listed can be read, and adding a new
// section keeps every existing byte and every existing answer.
#include "ProfileFile.h"
#include "Text.h"

#include "FuzzSupport.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::string File;



std::string Slurp() {
  std::ifstream in(File, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A list that needs less than the buffer was not cut, so it is the whole truth.
bool Whole(const std::vector<std::string>& names) {
  size_t used = 1;
  for (auto& n : names) used += n.size() + 1;
  return used < profile::ListBufferSize;
}

// Only the front: a NUL cuts a name after trimming, so a blank may end it.
bool Named(const std::string& s) {
  return !s.empty() && static_cast<unsigned char>(s.front()) > ' ' && s.find('\0') == std::string::npos;
}

// Two different fallbacks tell a missing key from a value that equals one of them.
bool Present(const std::string& section, const std::string& key, std::string& value) {
  value = profile::ReadString(File, section, key, "\x01");
  return value != "\x01" || profile::ReadString(File, section, key, "\x02") != "\x02";
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  File = (WorkFolder() / "profile.ini").string();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string original(reinterpret_cast<const char*>(data), size);
  std::ofstream(File, std::ios::binary | std::ios::trunc) << original;

  auto sections = profile::ReadSectionNames(File);
  std::map<std::pair<std::string, std::string>, std::string> before;  // first of duplicates kept
  for (auto& s : sections) {
    Check(Named(s) && s.find(']') == std::string::npos, "section name");
    for (auto& k : profile::ReadKeyNames(File, s)) {
      Check(Named(k) && k.find('=') == std::string::npos && k[0] != ';', "key name");
      std::string value;
      Check(Present(s, k, value), "listed key reads");
      Check(value.size() < profile::ValueBufferSize && value.find('\0') == std::string::npos, "value fits");
      before.emplace(std::make_pair(s, k), value);
    }
  }

  // A section name that cannot already be there, in any case.
  std::string lower = original, fresh;
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  for (int n = 0;; ++n) {
    fresh = "fresh" + std::to_string(n);
    if (lower.find(fresh) == std::string::npos) break;
  }
  const std::string value = "v" + std::to_string(size);
  Check(profile::WriteString(File, fresh, "k", value), "write succeeds");

  std::string after = Slurp();
  Check(after.compare(0, original.size(), original) == 0, "old bytes are a prefix");
  std::string back;
  Check(Present(fresh, "k", back) && back == value, "new key reads back");
  Check(profile::ReadKeyNames(File, fresh) == std::vector<std::string>{"k"}, "new section holds the key");
  auto now = profile::ReadSectionNames(File);
  if (Whole(sections) && Whole(now)) {
    sections.push_back(fresh);
    Check(now == sections, "sections after the write");
  }
  for (auto& [sk, v] : before) {
    std::string again;
    Check(Present(sk.first, sk.second, again) && again == v, "old values unchanged");
  }
  return 0;
}
