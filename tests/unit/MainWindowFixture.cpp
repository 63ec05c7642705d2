#include "MainWindowFixture.h"

#include "SB64.h"

std::string GeneralIni(const std::map<std::string, std::string>& values) {
  std::string out = "[general]\r\n";
  for (auto& [k, v] : values) out += k + "=" + TSB64().Encode(v) + "\r\n";
  return out;
}

TMainForm& MainWindowTest::Start(bool show) {
  Stop();
  Form = std::make_unique<TMainForm>();
  MainForm = Form.get();
  Application->MainForm = Form.get();
  Form->DoCreate();
  if (show) Form->Show();
  return *Form;
}

void MainWindowTest::Stop() {
  if (!Form) return;
  Form->DoDestroy();
  Form.reset();
  MainForm = nullptr;
  Application->MainForm = nullptr;
}

void MainWindowTest::TearDown() {
  Stop();
  ProgramFolder::TearDown();
}
