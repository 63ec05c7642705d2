#include "ProfileFile.h"

#include "FileSystem.h"
#include "Text.h"

#include <list>
#include <memory>
#include <optional>
#include <unordered_map>

namespace profile {
namespace detail {

constexpr size_t npos = std::string::npos;

struct Line {
  size_t start, contentEnd, end;  // [start, contentEnd) is the text, [contentEnd, end) its line end
};

struct Key {
  std::string name, value;  // both trimmed, value still quoted
  size_t line;
};

struct Section {
  std::string name;
  size_t lastContent = npos;  // last non-blank line, where a new key goes after
  std::vector<Key> keys;
  std::unordered_map<std::string, size_t> firstKey;  // folded name -> index in keys
};

struct Parsed {
  std::string bytes;
  size_t bodyStart = 0;  // after a UTF-8 byte-order mark
  std::vector<Line> lines;
  std::vector<Section> sections;  // [0] is the unnamed section before any header
  std::unordered_map<std::string, size_t> firstSection;
  std::string eol = "\r\n";
};

}  // namespace detail

namespace {
using namespace detail;

std::string CutAtNul(std::string s) {
  auto z = s.find('\0');
  if (z != npos) s.resize(z);
  return s;
}

std::string Fold(std::string_view name) { return AnsiLowerCase(Trim(name)); }

std::shared_ptr<const Parsed> Parse(std::string bytes) {
  auto p = std::make_shared<Parsed>();
  p->bytes = std::move(bytes);
  const std::string& b = p->bytes;
  if (b.compare(0, 3, "\xEF\xBB\xBF") == 0) p->bodyStart = 3;
  p->sections.emplace_back();
  p->firstSection.emplace("", 0);

  bool eolSeen = false;
  for (size_t pos = p->bodyStart; pos < b.size();) {
    size_t cend = b.find_first_of("\r\n", pos);
    if (cend == npos) cend = b.size();
    size_t end = cend;
    if (end < b.size()) end += (b[end] == '\r' && end + 1 < b.size() && b[end + 1] == '\n') ? 2 : 1;
    if (!eolSeen && end > cend) {
      p->eol = b.substr(cend, end - cend);
      eolSeen = true;
    }
    size_t index = p->lines.size();
    p->lines.push_back({pos, cend, end});
    pos = end;

    std::string_view text(b.data() + p->lines[index].start, cend - p->lines[index].start);
    size_t first = 0;
    while (first < text.size() && static_cast<unsigned char>(text[first]) <= ' ') ++first;
    text.remove_prefix(first);
    if (text.empty()) continue;

    Section* current = &p->sections.back();
    if (text[0] == '[') {
      size_t close = text.find(']');
      if (close != npos) {
        Section s;
        s.name = CutAtNul(Trim(text.substr(1, close - 1)));
        s.lastContent = index;
        p->firstSection.emplace(Fold(s.name), p->sections.size());
        p->sections.push_back(std::move(s));
        continue;
      }
    }
    current->lastContent = index;
    if (text[0] == ';') continue;
    size_t eq = text.find('=');
    if (eq == npos) continue;
    Key k{CutAtNul(Trim(text.substr(0, eq))), Trim(text.substr(eq + 1)), index};
    if (k.name.empty()) continue;
    current->firstKey.emplace(Fold(k.name), current->keys.size());
    current->keys.push_back(std::move(k));
  }
  return p;
}

// Reading asks the file every time. A small file is read whole and its parse reused
// only when the bytes are the same; a large one is trusted while its identity (inode,
// size, change times) is, so that listing every key of a big file stays linear.
constexpr size_t ExactCompareLimit = 64 * 1024;

struct CacheEntry {
  std::string path;
  fs::Signature sig;
  std::shared_ptr<const Parsed> parsed;
};
std::list<CacheEntry>& Cache() {
  static std::list<CacheEntry> cache;
  return cache;
}

void Forget(const std::string& path) {
  Cache().remove_if([&](const CacheEntry& e) { return e.path == path; });
}

std::shared_ptr<const Parsed> Load(const std::string& path) {
  auto sig = fs::Stat(path);
  if (!sig) {
    Forget(path);
    return nullptr;
  }
  auto& cache = Cache();
  for (auto it = cache.begin(); it != cache.end(); ++it) {
    if (it->path != path) continue;
    if (it->sig == *sig && sig->size > ExactCompareLimit) return it->parsed;
    if (sig->size <= ExactCompareLimit) {
      auto bytes = fs::ReadAll(path);
      if (!bytes) return nullptr;
      if (*bytes == it->parsed->bytes) return it->parsed;
      it->parsed = Parse(std::move(*bytes));
      it->sig = *sig;
      return it->parsed;
    }
    cache.erase(it);
    break;
  }
  auto bytes = fs::ReadAll(path);
  if (!bytes) return nullptr;
  auto parsed = Parse(std::move(*bytes));
  cache.push_front({path, *sig, parsed});
  if (cache.size() > 8) cache.pop_back();
  return parsed;
}

const Section* FindSection(const Parsed& p, const std::string& section) {
  auto it = p.firstSection.find(Fold(section));
  return it == p.firstSection.end() ? nullptr : &p.sections[it->second];
}

const Key* FindKey(const Section& s, const std::string& key) {
  auto it = s.firstKey.find(Fold(key));
  return it == s.firstKey.end() ? nullptr : &s.keys[it->second];
}

std::string FitValue(std::string v, size_t bufferSize) {
  v = CutAtNul(std::move(v));
  if (bufferSize == 0) return {};
  if (v.size() > bufferSize - 1) v.resize(bufferSize - 1);
  return v;
}

// Names laid end to end, each with its terminator, in a buffer that also needs
// room for the final one; a name that does not fit is cut and ends the list.
std::vector<std::string> FitList(const std::vector<std::string>& names, size_t bufferSize) {
  std::vector<std::string> out;
  size_t room = bufferSize > 0 ? bufferSize - 1 : 0;
  for (const auto& n : names) {
    if (n.size() + 1 <= room) {
      out.push_back(n);
      room -= n.size() + 1;
    } else {
      if (room > 1) out.push_back(n.substr(0, room - 1));
      break;
    }
  }
  return out;
}

bool Breaks(const std::string& s) { return s.find_first_of(std::string("\r\n\0", 3)) != npos; }

bool Writable(const std::string& section, const std::string& key, const std::string& value) {
  return !Breaks(section) && !Breaks(value) && section.find(']') == npos && IsWritableKey(key);
}

}  // namespace

bool IsWritableKey(const std::string& key) {
  std::string k = Trim(key);
  return !Breaks(key) && !k.empty() && k.find('=') == npos && k[0] != '[' && k[0] != ';';
}

namespace {

std::string ReadFrom(const Parsed* p, const std::string& section, const std::string& key, const std::string& fallback,
                     size_t bufferSize) {
  if (p) {
    if (const Section* s = FindSection(*p, section)) {
      if (const Key* k = FindKey(*s, key)) {
        std::string v = k->value;
        if (v.size() >= 2 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0]) v = v.substr(1, v.size() - 2);
        return FitValue(std::move(v), bufferSize);
      }
    }
  }
  return FitValue(fallback, bufferSize);
}

std::vector<std::string> SectionNamesOf(const Parsed* p, size_t bufferSize) {
  std::vector<std::string> names;
  if (p)
    for (const auto& s : p->sections)
      if (!s.name.empty()) names.push_back(s.name);
  return FitList(names, bufferSize);
}

std::vector<std::string> KeyNamesOf(const Parsed* p, const std::string& section, size_t bufferSize) {
  std::vector<std::string> names;
  if (p)
    if (const Section* s = FindSection(*p, section))
      for (const auto& k : s->keys) names.push_back(k.name);
  return FitList(names, bufferSize);
}

}  // namespace

std::string ReadString(const std::string& path, const std::string& section, const std::string& key,
                       const std::string& fallback, size_t bufferSize) {
  return ReadFrom(Load(path).get(), section, key, fallback, bufferSize);
}

std::vector<std::string> ReadSectionNames(const std::string& path, size_t bufferSize) {
  return SectionNamesOf(Load(path).get(), bufferSize);
}

std::vector<std::string> ReadKeyNames(const std::string& path, const std::string& section, size_t bufferSize) {
  return KeyNamesOf(Load(path).get(), section, bufferSize);
}

Snapshot::Snapshot(const std::string& path) : FParsed(Load(path)) {}
std::string Snapshot::ReadString(const std::string& section, const std::string& key, const std::string& fallback,
                                 size_t bufferSize) const {
  return ReadFrom(FParsed.get(), section, key, fallback, bufferSize);
}
std::vector<std::string> Snapshot::ReadSectionNames(size_t bufferSize) const {
  return SectionNamesOf(FParsed.get(), bufferSize);
}
std::vector<std::string> Snapshot::ReadKeyNames(const std::string& section, size_t bufferSize) const {
  return KeyNamesOf(FParsed.get(), section, bufferSize);
}

bool WriteString(const std::string& path, const std::string& section, const std::string& key,
                 const std::string& value) {
  if (!Writable(section, key, value)) return false;
  std::shared_ptr<const Parsed> p;
  if (fs::Stat(path)) {
    p = Load(path);
    if (!p) return false;  // there but unreadable: never overwrite what we cannot see
  } else {
    p = Parse({});
  }
  const std::string& b = p->bytes;
  std::string out;
  const Section* s = FindSection(*p, section);
  const Key* k = s ? FindKey(*s, key) : nullptr;
  if (k) {
    const Line& l = p->lines[k->line];
    out = b.substr(0, l.start) + k->name + "=" + value + b.substr(l.contentEnd);
  } else if (s) {
    std::string entry = Trim(key) + "=" + value;
    if (s->lastContent == npos) {
      out = b.substr(0, p->bodyStart) + entry + p->eol + b.substr(p->bodyStart);
    } else {
      const Line& l = p->lines[s->lastContent];
      out = l.end > l.contentEnd ? b.substr(0, l.end) + entry + p->eol + b.substr(l.end)
                                 : b.substr(0, l.end) + p->eol + entry + b.substr(l.end);
    }
  } else {
    out = b;
    if (out.size() > p->bodyStart && out.back() != '\n' && out.back() != '\r') out += p->eol;
    out += "[" + section + "]" + p->eol + Trim(key) + "=" + value + p->eol;
  }
  Forget(path);
  return fs::ReplaceAtomically(path, out);
}

}  // namespace profile
