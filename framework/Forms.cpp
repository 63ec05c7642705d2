#include "Forms.h"

#include "Dialogs.h"
#include "FileSystem.h"

#include <algorithm>
#include <climits>
#include <cstdint>

static TApplication theApplication;
TApplication* Application = &theApplication;

// ---- application ----

int TApplication::RegisterSwitch(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    AnsiString a = argv[i];
    if (a.size() < 2 || (a[0] != '-' && a[0] != '/')) continue;
    AnsiString name = AnsiUpperCase(a.substr(1));
    if (name == "REGSERVER") return 1;
    if (name == "UNREGSERVER") return 2;
  }
  return 0;
}

bool TApplication::Initialize(int argc, char** argv) {
  if (ExeName.empty()) ExeName = fs::ExecutablePath();
  int sw = RegisterSwitch(argc, argv);
  if (sw == 0) return true;
  if (OnRegisterServer) OnRegisterServer(sw == 2);
  return false;
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

void TApplication::HandleException(const std::exception& e) {
  auto* ex = dynamic_cast<const Exception*>(&e);
  AnsiString text = ex ? ex->Message : AnsiString(e.what());
  if (!text.empty() && static_cast<unsigned char>(text.back()) > '.') text += ".";
  MessageBox(text, Title, mb::OK | mb::IconStop);
}

void TApplication::Dispatch(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& e) {
    HandleException(e);
  }
}

void TApplication::EndSession() {
  FTerminated = true;
  Widgetset().QuitMessageLoop();
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
    int w = GetSystemMetrics(SM_CXVIRTUALSCREEN), h = GetSystemMetrics(SM_CYVIRTUALSCREEN);
    SetBounds({std::max(0, (w - Width()) / 2), std::max(0, (h - Height()) / 2), Width(), Height()});
  } else if (FPosition == poDefault) {
    SetBounds(Widgetset().DefaultPlacement(Bounds(), FBorderStyle == bsSizeable || FBorderStyle == bsSizeToolWin));
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

void TForm::SetFocus() {
  if (!FVisible || !Enabled) throw EInvalidOperation("Cannot focus a disabled or invisible window");
  Peer()->SetFocus();
}

int GetSystemMetrics(int index) {
  switch (index) {
    case SM_CXSCREEN: return Widgetset().PrimaryScreen().Width;
    case SM_CYSCREEN: return Widgetset().PrimaryScreen().Height;
    case SM_CXVIRTUALSCREEN: return Widgetset().VirtualScreen().Width;
    case SM_CYVIRTUALSCREEN: return Widgetset().VirtualScreen().Height;
  }
  return 0;
}

int StrToInt(const AnsiString& s) {
  size_t i = (!s.empty() && (s[0] == '-' || s[0] == '+')) ? 1 : 0;
  bool ok = i < s.size() && s.size() - i <= 10;
  for (size_t j = i; ok && j < s.size(); ++j) ok = s[j] >= '0' && s[j] <= '9';
  long long v = ok ? std::stoll(s) : 0;
  if (!ok || v < INT32_MIN || v > INT32_MAX) throw EConvertError(Format("'%s' is not a valid integer value", s.c_str()));
  return static_cast<int>(v);
}

bool TForm::CloseRequested() {
  Application->Dispatch([this] { Close(); });
  return Application->Terminated() || !FVisible;
}

bool TForm::QueryEndSession() {
  bool canClose = true;
  Application->Dispatch([&] {
    if (OnCloseQuery) OnCloseQuery(canClose);
  });
  if (!canClose) return false;
  for (auto& check : Application->TerminateChecks)
    if (!check()) return false;
  return true;
}

void TForm::Moved(TRect outer) { FBounds = outer; }

void TForm::StateChanged(TWindowState state) { FWindowState = state; }
