// One configuration item: SplitConfigItem cuts it where the format says, and an
// item with plain names survives saving encoded and loading decoded byte for byte.
#include "INIConfig.h"
#include "Forms.h"
#include "SB64.h"
#include "headless/HeadlessWidgetset.h"

#include "FuzzSupport.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

THeadlessWidgetset Headless;



// Names the profile rules give back exactly as written.
bool Plain(const AnsiString& s) {
  if (s.empty() || static_cast<unsigned char>(s.front()) <= ' ' || static_cast<unsigned char>(s.back()) <= ' ')
    return false;
  for (unsigned char c : s)
    if (c < ' ') return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::ofstream(WorkFolder() / "Corvane.ini", std::ios::binary) << "[general]\r\n";
  Application->ExeName = (WorkFolder() / "lumetra").string();
  UseWidgetset(&Headless);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const AnsiString item(reinterpret_cast<const char*>(data), size);
  AnsiString section = "\x01", key = "\x01", value = "\x01";
  bool ok = SplitConfigItem(item, section, key, value);

  size_t comma = item.find(',');
  bool expected = comma != AnsiString::npos && item.find('=', comma) != AnsiString::npos;
  Check(ok == expected, "accepted exactly when a comma has an '=' after it");
  if (!ok) {
    Check(section == "\x01" && key == "\x01" && value == "\x01", "a refused item leaves the outputs alone");
    return 0;
  }
  Check(section.find(',') == AnsiString::npos, "section has no comma");
  Check(key.find('=') == AnsiString::npos, "key has no '='");
  Check(section + "," + key + "=" + value == item, "the parts make the item");

  // Save then load through a real file. "#" ends an item, and a value whose
  // encoding is the key alphabet is deliberately left undecoded on loading.
  if (item.find('#') != AnsiString::npos || !Plain(section) || !Plain(key)) return 0;
  if (section.find(']') != AnsiString::npos || key[0] == '[' || key[0] == ';') return 0;
  AnsiString encoded = TSB64().Encode(value);
  if (encoded.size() >= 2048 || encoded == SkeyText) return 0;

  std::filesystem::remove(WorkFolder() / "items.ini");
  TINIConfig config;
  Check(config.Opened() && Headless.Boxes.empty(), "program folder opened");
  Check(config.SaveConfigString("items.ini", item + "#", 1), "plain item saves");
  Check(config.LoadConfigString("items.ini", 1) == "#" + item, "plain item loads back");
  return 0;
}
