// The main window as start-up creates it, over a Corvane.ini of the test's choosing.
#pragma once

#include "MainForm.h"
#include "Support.h"

#include <map>
#include <string>

// A [general] section of those values, each stored Base64-encoded.
std::string GeneralIni(const std::map<std::string, std::string>& values);

class MainWindowTest : public ProgramFolder {
 protected:
  void WriteGeneral(const std::map<std::string, std::string>& values) { Spit(Path("Corvane.ini"), GeneralIni(values)); }
  // Creates the main window (its creation handler runs), shown when asked.
  TMainForm& Start(bool show = false);
  // Destroys it as the end of the program does.
  void Stop();
  void TearDown() override;
  HeadlessBrowser& Browser() { return Headless().Of(*Form->EWB); }
  HeadlessForm& Window() { return Headless().Of(*Form); }
  std::unique_ptr<TMainForm> Form;
};
