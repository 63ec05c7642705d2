#include "Forms.h"

#include "Dialogs.h"
#include "FileSystem.h"

#include <algorithm>

static TApplication theApplication;
TApplication* Application = &theApplication;

// ---- application ----

bool TApplication::Initialize(int argc, char** argv) {
  if (ExeName.empty()) ExeName = fs::ExecutablePath();
  for (int i = 1; i < argc; ++i) {
    AnsiString a = argv[i];
    if (a.size() < 2 || (a[0] != '-' && a[0] != '/')) continue;
    AnsiString name = AnsiUpperCase(a.substr(1));
    if (name == "REGSERVER" || name == "UNREGSERVER") {
      if (OnRegisterServer) OnRegisterServer(name == "UNREGSERVER");
      return false;
    }
  }
  return true;
}

void TApplication::Run() {
  // A start that was told to end before the loop shows no window.
  if (FTerminated) return;
  if (MainForm) MainForm->Show();
  while (!FTerminated) Widgetset().RunMessageLoop();
}

void TApplication::DestroyForms() {
  for (auto it = FForms.rbegin(); it != FForms.rend(); ++it) (*it)->DoDestroy();
  while (!FForms.empty()) FForms.pop_back();
  MainForm = nullptr;
}

void TApplication::Terminate() {
  for (auto& check : TerminateChecks)
    if (!check()) return;
  FTerminated = true;
  Widgetset().QuitMessageLoop();
}

void TApplication::ProcessMessagesUntil(const std::function<bool()>& done) {
  Widgetset().ProcessMessagesUntil(done);
}

int TApplication::MessageBox(const AnsiString& text, const AnsiString& caption, unsigned flags) {
  return ::MessageBox(MainForm, text, caption, flags);
}

// ---- controls ----

TControl::~TControl() = default;

void TControl::Init(std::unique_ptr<IControlBackend> backend, TWinControl* parent) {
  FBackend = std::move(backend);
  if (parent) SetParent(parent);
}

void TControl::SetParent(TWinControl* parent) {
  FParent = parent;
  FBackend->SetParent(parent ? parent->Backend() : nullptr, FAlign);
  FBackend->SetBounds(FBounds);
  FBackend->SetVisible(FVisible);
}

void TControl::SetAlign(TAlign align) {
  FAlign = align;
  if (FParent) FBackend->SetParent(FParent->Backend(), FAlign);
}

void TControl::SetBounds(TRect r) {
  FBounds = r;
  FBackend->SetBounds(r);
}

void TControl::SetVisible(bool v) {
  FVisible = v;
  FBackend->SetVisible(v);
}

TPanel::TPanel(TWinControl* parent) { Init(Widgetset().CreatePanel(*this), parent); }

TStatusBar::TStatusBar(TWinControl* parent) {
  SetAlign(alBottom);
  Init(Widgetset().CreateStatusBar(*this), parent);
}

void TStatusBar::SetPanels(const std::vector<int>& widths) {
  FPanels.clear();
  for (int w : widths) FPanels.push_back({w, {}});
  Peer()->SetPanels(widths);
}

void TStatusBar::SetPanelText(int i, const AnsiString& text) {
  FPanels.at(static_cast<size_t>(i)).Text = text;
  Peer()->SetPanelText(i, text);
}

TProgressBar::TProgressBar(TWinControl* parent) { Init(Widgetset().CreateProgressBar(*this), parent); }

void TProgressBar::SetRange(int min, int max) {
  FMin = min;
  FMax = max;
  Peer()->SetRange(min, max);
  SetPosition(FPosition);
}

void TProgressBar::SetPosition(int position) {
  FPosition = position;
  Peer()->SetPosition(std::clamp(position, FMin, std::max(FMin, FMax)));
}

// ---- forms ----

TForm::TForm() {
  FVisible = false;
  Init(Widgetset().CreateForm(*this, *this), nullptr);
}

TForm::~TForm() = default;

void TForm::DoCreate() {
  if (OnCreate) OnCreate();
}

void TForm::DoDestroy() {
  if (FDestroyed) return;
  FDestroyed = true;
  if (OnDestroy) OnDestroy();
}

void TForm::SetCaption(const AnsiString& caption) {
  FCaption = caption;
  Peer()->SetCaption(caption);
}

void TForm::SetBorderStyle(TFormBorderStyle style) {
  if (style == FBorderStyle) return;
  FBorderStyle = style;
  Recreate();
}

void TForm::SetPosition(TPosition position) {
  if (position == FPosition) return;
  FPosition = position;
  Recreate();
}

void TForm::SetWindowState(TWindowState state) {
  FWindowState = state;
  if (FVisible) Peer()->SetWindowState(state);
}

void TForm::SetBounds(TRect r) {
  FBounds = r;
  Peer()->SetBounds(r);
}

void TForm::Recreate() {
  Peer()->SetBorderStyle(FBorderStyle);
  if (FBorderStyle == bsDialog || FBorderStyle == bsToolWindow || FBorderStyle == bsSizeToolWin) {
    FWindowState = wsNormal;
    Peer()->SetWindowState(wsNormal);
  }
  FNeedsPlacement = true;
  if (FVisible) Place();
}

// Placement happens when the window shows; afterwards the window keeps its bounds.
void TForm::Place() {
  FNeedsPlacement = false;
  if (FPosition == poDesktopCenter) {
    TRect desk = Widgetset().VirtualScreen();
    SetBounds({std::max(0, (desk.Width - Width()) / 2), std::max(0, (desk.Height - Height()) / 2), Width(), Height()});
  }
  FPosition = poDesigned;
}

void TForm::SetVisible(bool visible) {
  if (visible && FNeedsPlacement) Place();
  FVisible = visible;
  if (visible) Peer()->SetWindowState(FWindowState);
  Peer()->SetVisible(visible);
}

void TForm::Close() {
  bool canClose = true;
  if (OnCloseQuery) OnCloseQuery(canClose);
  if (!canClose) return;
  TCloseAction action = caHide;
  if (OnClose) OnClose(action);
  if (action == caNone) return;
  if (Application->MainForm == this) {
    Application->Terminate();
  } else {
    Hide();
  }
}

void TForm::SetFocus() { Peer()->SetFocus(); }

bool TForm::CloseRequested() {
  Close();
  return Application->Terminated() || !FVisible;
}

bool TForm::QueryEndSession() {
  bool canClose = true;
  if (OnCloseQuery) OnCloseQuery(canClose);
  if (!canClose) return false;
  for (auto& check : Application->TerminateChecks)
    if (!check()) return false;
  return true;
}

void TForm::Moved(TRect outer) { FBounds = outer; }

void TForm::StateChanged(TWindowState state) { FWindowState = state; }
