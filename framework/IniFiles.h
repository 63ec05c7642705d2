// TIniFile: an INI file read and written through the profile rules (ProfileFile.h).
#pragma once

#include "Classes.h"
#include "ProfileFile.h"
#include "Text.h"

class TIniFile {
 public:
  explicit TIniFile(const AnsiString& fileName) : FFileName(fileName) {}
  const AnsiString& FileName() const { return FFileName; }

  AnsiString ReadString(const AnsiString& section, const AnsiString& ident, const AnsiString& fallback) const;
  // Raises EIniFileException "Unable to write to <file>" when the write fails.
  void WriteString(const AnsiString& section, const AnsiString& ident, const AnsiString& value);
  void ReadSections(TStringList& strings) const;
  void ReadSection(const AnsiString& section, TStringList& strings) const;
  // Whether a key of that name can be written and read back as it is.
  static bool IsValidKey(const AnsiString& key);

 private:
  AnsiString FFileName;
};

// An INI file read once when opened: for listing a whole file in one go.
class TMemIniFile {
 public:
  explicit TMemIniFile(const AnsiString& fileName) : FFile(fileName) {}
  AnsiString ReadString(const AnsiString& section, const AnsiString& ident, const AnsiString& fallback) const {
    return FFile.ReadString(section, ident, fallback);
  }
  void ReadSections(TStringList& strings) const;
  void ReadSection(const AnsiString& section, TStringList& strings) const;

 private:
  profile::Snapshot FFile;
};
