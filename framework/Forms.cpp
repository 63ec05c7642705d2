#include "Forms.h"

#include "Dialogs.h"

static TApplication theApplication;
TApplication* Application = &theApplication;

int TApplication::MessageBox(const AnsiString& text, const AnsiString& caption, unsigned flags) {
  return ::MessageBox(MainForm, text, caption, flags);
}
