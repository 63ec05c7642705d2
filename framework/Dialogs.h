// Message boxes. The values are those of the Windows message box, so a widgetset
// there passes them through unchanged.
#pragma once

#include "Text.h"

class TForm;

namespace mb {
constexpr unsigned OK = 0x0, OKCancel = 0x1, YesNo = 0x4;
constexpr unsigned IconStop = 0x10, IconQuestion = 0x20, IconWarning = 0x30, IconInformation = 0x40;
constexpr unsigned ButtonsMask = 0xF, IconMask = 0xF0;
// The framework's own dialogs: a single "&" underlines the next character, "&&" shows "&".
constexpr unsigned Accelerators = 0x10000000;
}  // namespace mb

namespace mr {
constexpr int OK = 1, Cancel = 2, Yes = 6, No = 7;
}

int MessageBox(const TForm* owner, const AnsiString& text, const AnsiString& caption, unsigned flags);

// The framework's simple message: caption the application title, OK, no icon.
void ShowMessage(const AnsiString& text);
