#include "IniFiles.h"

#include "ProfileFile.h"
#include "SysUtils.h"

AnsiString TIniFile::ReadString(const AnsiString& section, const AnsiString& ident,
                                const AnsiString& fallback) const {
  return profile::ReadString(FFileName, section, ident, fallback);
}

void TIniFile::WriteString(const AnsiString& section, const AnsiString& ident, const AnsiString& value) {
  if (!profile::WriteString(FFileName, section, ident, value))
    throw EIniFileException(Format("Unable to write to %s", FFileName.c_str()));
}

void TIniFile::ReadSections(TStringList& strings) const {
  strings.Clear();
  for (auto& name : profile::ReadSectionNames(FFileName)) strings.Add(name);
}

void TIniFile::ReadSection(const AnsiString& section, TStringList& strings) const {
  strings.Clear();
  for (auto& name : profile::ReadKeyNames(FFileName, section)) strings.Add(name);
}

bool TIniFile::IsValidKey(const AnsiString& key) { return profile::IsWritableKey(key); }

void TMemIniFile::ReadSections(TStringList& strings) const {
  strings.Clear();
  for (auto& name : FFile.ReadSectionNames()) strings.Add(name);
}

void TMemIniFile::ReadSection(const AnsiString& section, TStringList& strings) const {
  strings.Clear();
  for (auto& name : FFile.ReadKeyNames(section)) strings.Add(name);
}
