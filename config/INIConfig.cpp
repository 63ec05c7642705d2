#include "INIConfig.h"

#include "Dialogs.h"
#include "Forms.h"
#include "SB64.h"
#include "SysUtils.h"

const AnsiString IniFileName = "Corvane.ini";
AnsiString AppDir;
std::unique_ptr<TIniFile> IniFile;
AnsiString SkeyText;

static const char General[] = "general";
static const char StandardAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

bool SplitConfigItem(const AnsiString& item, AnsiString& section, AnsiString& key, AnsiString& value) {
  auto comma = item.find(',');
  if (comma == AnsiString::npos) return false;
  auto eq = item.find('=', comma + 1);
  if (eq == AnsiString::npos) return false;
  section = item.substr(0, comma);
  key = item.substr(comma + 1, eq - comma - 1);
  value = item.substr(eq + 1);
  return true;
}

TINIConfig::TINIConfig() { OpenIniFile(); }

void TINIConfig::OpenIniFile() {
  AppDir = ExtractFilePath(Application->ExeName);
  if (FileExists(AppDir + IniFileName)) {
    IniFile = std::make_unique<TIniFile>(AppDir + IniFileName);
    FOpened = true;
    LoadSkey();
  } else {
    FOpened = false;
    ShowMessage(Ansi(u8"未找到配置文件，应用程序已经损坏，请卸载后重新安装！"));
    Application->Terminate();
  }
}

AnsiString TINIConfig::ReadValue(const AnsiString& Section, const AnsiString& Key, const AnsiString& Fallback) {
  if (!FOpened) return Fallback;
  return IniFile->ReadString(Section, Key, Fallback);
}

void TINIConfig::LoadSkey() { SkeyText = ReadValue(General, "Skey", StandardAlphabet); }

AnsiString TINIConfig::EncodeText(const AnsiString& Text) { return TSB64().Encode(Text); }
AnsiString TINIConfig::DecodeText(const AnsiString& Text) { return TSB64().Decode(Text); }

AnsiString TINIConfig::ReadGeneral(const char* Key, const char* Fallback) {
  return DecodeText(ReadValue(General, Key, Fallback));
}

AnsiString TINIConfig::GetVersion() { return ReadGeneral("Version", "1.2.0.0"); }
AnsiString TINIConfig::GetServerURL() { return ReadGeneral("ServerURL", "http://127.0.0.1"); }
AnsiString TINIConfig::GetServerPort() { return ReadGeneral("ServerPort", "8080"); }
AnsiString TINIConfig::GetIndexPageURI() { return ReadGeneral("IndexPageURI", "/tavreq/login/home.html"); }
AnsiString TINIConfig::GetLoginPageURI() { return ReadGeneral("LoginPageURI", "/tavreq/login/init.html"); }
AnsiString TINIConfig::GetLogoutPageURI() { return ReadGeneral("LogoutPageURI", "/tavreq/login/Logout.html"); }
AnsiString TINIConfig::GetSkin() { return ReadGeneral("skin", ""); }

bool TINIConfig::IsComplete() {
  // All five are read, whatever the first ones gave.
  AnsiString values[] = {GetVersion(), GetServerURL(), GetServerPort(), GetLoginPageURI(), GetIndexPageURI()};
  for (auto& v : values)
    if (v.empty()) return false;
  return true;
}

AnsiString TINIConfig::BuildPageURL(const AnsiString& PageURI) {
  AnsiString Url = GetServerURL();
  AnsiString Port = GetServerPort();
  AnsiString Result = AnsiUpperCase(Url).find("HTTP://") != AnsiString::npos ? Url : "http://" + Url;
  if (!Port.empty()) Result += ":" + Port;
  if (!PageURI.empty()) Result += PageURI[0] == '/' ? PageURI : "/" + PageURI;
  return Result;
}

bool TINIConfig::WriteConfigItems(const TStringList& Sections, const TStringList& Keys, const TStringList& Values) {
  if (Sections.Count() != Keys.Count() || Keys.Count() != Values.Count()) {
    ShowMessage(Ansi(u8"要保存的配置参数格式不正确，三个部分的数量不相等！"));
    return false;
  }
  if (!FOpened) return false;
  // A failed write raises and leaves the entries before it written.
  for (int i = 0; i < Sections.Count(); ++i) IniFile->WriteString(Sections[i], Keys[i], EncodeText(Values[i]));
  return true;
}

AnsiString TINIConfig::LoadConfigString(const AnsiString& FileName, int Decode) {
  if (!FOpened) return AnsiString();
  AnsiString Path = FileName.find(PathDelim) == AnsiString::npos ? AppDir + FileName : FileName;
  if (!FileExists(Path)) return AnsiString();
  // Read once for the whole listing: a key at a time would read the file a key at a time.
  TMemIniFile File(Path);
  TStringList Sections, Keys;
  AnsiString Result;
  File.ReadSections(Sections);
  for (auto& Section : Sections) {
    File.ReadSection(Section, Keys);
    for (auto& Key : Keys) {
      AnsiString Value = File.ReadString(Section, Key, "");
      if (Decode != 0 && Value != SkeyText) Value = DecodeText(Value);
      Result += "#" + Section + "," + Key + "=" + Value;
    }
  }
  return Result;
}

bool TINIConfig::SaveConfigString(const AnsiString& FileName, const AnsiString& Items, int Encode) {
  if (!FOpened) return false;
  AnsiString Path = IsFullPath(FileName) ? FileName : AppDir + FileName;
  bool Result = false;
  TIniFile File(Path);
  try {
    // Each item ends with "#"; whatever follows the last one is not an item.
    for (size_t start = 0, hash; (hash = Items.find('#', start)) != AnsiString::npos; start = hash + 1) {
      AnsiString Item = Items.substr(start, hash - start);
      AnsiString Section, Key, Value;
      if (!Item.empty() && SplitConfigItem(Item, Section, Key, Value)) {
        if (Encode == 1) Value = EncodeText(Value);
        File.WriteString(Section, Key, Value);
      }
      Result = true;
    }
  } catch (const EIniFileException&) {
    return false;
  }
  return Result;
}
