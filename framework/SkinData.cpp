#include "SkinData.h"

#include "SysUtils.h"
#include "Widgetset.h"

void TSkinData::SetSkinFile(const AnsiString& fileName) {
  FSkinFile = fileName;
  Apply();
}

void TSkinData::SetActive(bool active) {
  FActive = active;
  Apply();
}

void TSkinData::Apply() {
  if (FActive && FileExists(FSkinFile)) Widgetset().ApplySkin(FSkinFile);
}
