#include "Dialogs.h"

#include "Forms.h"
#include "Widgetset.h"

int MessageBox(const TForm* owner, const AnsiString& text, const AnsiString& caption, unsigned flags) {
  return Widgetset().MessageBox({owner, text, caption, flags});
}

void ShowMessage(const AnsiString& text) {
  Application->MessageBox(text, Application->Title, mb::OK | mb::Accelerators);
}
