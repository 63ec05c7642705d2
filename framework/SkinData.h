// TSkinData: the look of all windows. A built-in look, replaced by a skin file when
// one of that name exists; a missing or unusable file keeps the built-in look, silently.
#pragma once

#include "Classes.h"
#include "Text.h"

class TSkinData : public TObject {
 public:
  const AnsiString& SkinFile() const { return FSkinFile; }
  void SetSkinFile(const AnsiString& fileName);
  bool Active() const { return FActive; }
  void SetActive(bool active);

 private:
  void Apply();
  AnsiString FSkinFile;
  bool FActive = true;
};
