#include "TestEvents.h"

#include "JsonText.h"

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

static std::string Quote(const std::string& s) { return JsonQuote(s); }

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
