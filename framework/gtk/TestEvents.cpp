#include "TestEvents.h"

#include <cstdio>
#include <cstdlib>

namespace testevents {

static const char* Path() {
  static const char* path = [] {
    const char* p = std::getenv("LUMETRA_TEST_EVENTS");
    return p && *p ? p : nullptr;
  }();
  return path;
}

bool Enabled() { return Path() != nullptr; }

static std::string Quote(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

void Emit(const char* event, std::initializer_list<std::pair<const char*, std::string>> fields) {
  if (!Enabled()) return;
  std::string line = "{\"event\":" + Quote(event);
  for (auto& [k, v] : fields) line += "," + Quote(k) + ":" + Quote(v);
  line += "}\n";
  if (FILE* f = std::fopen(Path(), "a")) {
    std::fwrite(line.data(), 1, line.size(), f);
    std::fclose(f);
  }
}

}  // namespace testevents
