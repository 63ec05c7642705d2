// TINIConfig: the program's only way to Corvane.ini, and the configuration string
// ("#section,key=value" items) that pages read and write.
#pragma once

#include "Classes.h"
#include "IniFiles.h"
#include "Text.h"

#include <memory>

// Shared by every TINIConfig; each construction sets them anew.
extern const AnsiString IniFileName;
extern AnsiString AppDir;
extern std::unique_ptr<TIniFile> IniFile;
extern AnsiString SkeyText;

// One item of a configuration string: section up to the first ",", key up to the
// first "=" after it, value the rest. False when the comma or the "=" is missing.
bool SplitConfigItem(const AnsiString& item, AnsiString& section, AnsiString& key, AnsiString& value);

class TINIConfig {
 public:
  TINIConfig();

  // False when Corvane.ini was missing: the user has been told and the application
  // is ending. Such an object reads fallbacks and writes nothing.
  bool Opened() const { return FOpened; }

  void OpenIniFile();
  AnsiString ReadValue(const AnsiString& Section, const AnsiString& Key, const AnsiString& Fallback);
  void LoadSkey();
  AnsiString EncodeText(const AnsiString& Text);
  AnsiString DecodeText(const AnsiString& Text);

  AnsiString GetVersion();
  AnsiString GetServerURL();
  AnsiString GetServerPort();
  AnsiString GetIndexPageURI();
  AnsiString GetLoginPageURI();
  AnsiString GetLogoutPageURI();
  AnsiString GetSkin();

  bool IsComplete();
  AnsiString BuildPageURL(const AnsiString& PageURI);
  bool WriteConfigItems(const TStringList& Sections, const TStringList& Keys, const TStringList& Values);
  AnsiString LoadConfigString(const AnsiString& FileName, int Decode);
  bool SaveConfigString(const AnsiString& FileName, const AnsiString& Items, int Encode);

 private:
  AnsiString ReadGeneral(const char* Key, const char* Fallback);
  bool FOpened = false;
};
