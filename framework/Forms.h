// The application object and forms.
#pragma once

#include "Text.h"

class TForm;

class TApplication {
 public:
  AnsiString Title;
  AnsiString ExeName;  // full path of the running program

  // Asks the message loop to end; it does when control returns to it.
  void Terminate() { FTerminated = true; }
  bool Terminated() const { return FTerminated; }

  // A message box owned by the main form.
  int MessageBox(const AnsiString& text, const AnsiString& caption, unsigned flags);

  TForm* MainForm = nullptr;

 private:
  bool FTerminated = false;
};

extern TApplication* Application;
