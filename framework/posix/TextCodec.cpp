#include "../TextCodec.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <iconv.h>
#include <map>
#include <stdexcept>

static_assert(std::endian::native == std::endian::little, "wide strings are read as UTF-16LE");

namespace codec {
namespace {

const char* Name(Charset c) {
  switch (c) {
    case Ansi: return "CP936";
    case Utf8: return "UTF-8";
    case Utf16: return "UTF-16LE";
  }
  return "UTF-8";
}

// How much input one rejected character takes, so that a character the target
// cannot hold gives one replacement, and a broken byte gives one too.
size_t CharLength(Charset c, const unsigned char* p, size_t left) {
  auto cont = [&](size_t n) {
    if (left < n) return false;
    for (size_t i = 1; i < n; ++i)
      if ((p[i] & 0xC0) != 0x80) return false;
    return true;
  };
  switch (c) {
    case Ansi:
      return left >= 2 && p[0] >= 0x81 && p[0] <= 0xFE && p[1] >= 0x40 && p[1] != 0x7F && p[1] != 0xFF ? 2 : 1;
    case Utf8: {
      size_t n = p[0] >= 0xF0 && p[0] <= 0xF4 ? 4 : p[0] >= 0xE0 && p[0] <= 0xEF ? 3 : p[0] >= 0xC2 && p[0] <= 0xDF ? 2 : 1;
      return cont(n) ? n : 1;
    }
    case Utf16: {
      if (left < 2) return left;
      unsigned hi = p[0] | (p[1] << 8);
      if (hi >= 0xD800 && hi <= 0xDBFF && left >= 4) {
        unsigned lo = p[2] | (p[3] << 8);
        if (lo >= 0xDC00 && lo <= 0xDFFF) return 4;
      }
      return 2;
    }
  }
  return 1;
}

std::string_view Replacement(Charset to) {
  switch (to) {
    case Ansi: return "?";
    case Utf8: return "\xEF\xBF\xBD";
    case Utf16: return {"\xFD\xFF", 2};
  }
  return "?";
}

iconv_t Open(Charset from, Charset to) {
  // The program is single-threaded on its main thread, but tests and tools may not be.
  struct Cache {
    std::map<std::pair<int, int>, iconv_t> open;
    ~Cache() {
      for (auto& [key, cd] : open) iconv_close(cd);
    }
  };
  thread_local Cache cache;
  auto& cd = cache.open[{from, to}];
  if (cd == iconv_t{}) {
    cd = iconv_open(Name(to), Name(from));
    if (cd == reinterpret_cast<iconv_t>(-1)) {
      cache.open.erase({from, to});
      throw std::runtime_error("iconv cannot convert text");
    }
  }
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  return cd;
}

}  // namespace

std::string Convert(Charset from, Charset to, std::string_view bytes) {
  if (bytes.empty()) return {};
  iconv_t cd = Open(from, to);
  std::string out;
  out.resize(bytes.size() * 2 + 16);
  char* in = const_cast<char*>(bytes.data());
  size_t inLeft = bytes.size();
  size_t used = 0;
  while (inLeft > 0) {
    char* dst = out.data() + used;
    size_t dstLeft = out.size() - used;
    size_t r = iconv(cd, &in, &inLeft, &dst, &dstLeft);
    used = out.size() - dstLeft;
    if (r != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) {
      out.resize(out.size() * 2);
    } else {  // EILSEQ or EINVAL: replace what cannot be converted, go on
      auto rep = Replacement(to);
      if (out.size() - used < rep.size()) out.resize(out.size() * 2);
      out.replace(used, rep.size(), rep);
      used += rep.size();
      size_t skip = CharLength(from, reinterpret_cast<const unsigned char*>(in), inLeft);
      in += skip;
      inLeft -= skip;
    }
  }
  out.resize(used);
  return out;
}

}  // namespace codec
