// The application object, forms and the controls the program's windows use.
// Properties follow the platform framework the program was designed against;
// platform rules that behaviour depends on live here once:
//  - a changed border style or placement re-creates the window, which is placed
//    by its Position when it shows again, after which Position is poDesigned;
//  - a window re-created with a dialog or tool-window border comes up normal;
//  - centred placement uses the virtual screen.
#pragma once

#include "Classes.h"
#include "SysUtils.h"
#include "Text.h"
#include "Widgetset.h"

#include <functional>
#include <memory>
#include <vector>

class TForm;

class TApplication {
 public:
  AnsiString Title;
  AnsiString ExeName;  // full path of the running program

  // Reads the command line. False when it only asked to register or unregister the
  // automation server: that is done and the program ends with code 0.
  bool Initialize(int argc, char** argv);
  // The switch "REGSERVER" or "UNREGSERVER" ("-" or "/" before it, any letter case):
  // 1 to register, 2 to unregister, 0 for none.
  static int RegisterSwitch(int argc, char** argv);

  // Creates a form: the reference is set before its creation handler runs, and the
  // first form created is the main form.
  template <typename T>
  void CreateForm(T*& reference) {
    auto form = std::make_unique<T>();
    reference = form.get();
    if (!MainForm) MainForm = form.get();
    form->DoCreate();
    FForms.push_back(std::move(form));
  }

  // Shows the main form and runs the message loop until the application is told to end.
  void Run();
  // Destroys the forms, last created first.
  void DestroyForms();

  // Runs the terminate checks; when they pass, the message loop ends as soon as
  // control returns to it.
  void Terminate();
  bool Terminated() const { return FTerminated; }
  // Checks that may refuse the end (the automation server's one asks only while
  // counted objects are alive).
  std::vector<std::function<bool()>> TerminateChecks;
  // Hook of the automation server: called for the register switches.
  std::function<void(bool unregister)> OnRegisterServer;

  // Runs the message loop until done() holds (modal waits that keep the program alive).
  void ProcessMessagesUntil(const std::function<bool()>& done);

  int MessageBox(const AnsiString& text, const AnsiString& caption, unsigned flags);

  // A failure that escaped an event handler: the error box (the text with a full
  // stop added, the title as caption, stop icon); the program carries on.
  void HandleException(const std::exception& e);
  // Runs an event handler with that safety net.
  void Dispatch(const std::function<void()>& handler);

  // The desktop session ends: the loop ends without closing the windows first.
  void EndSession();

  TForm* MainForm = nullptr;

 private:
  bool FTerminated = false;
  std::vector<std::unique_ptr<TForm>> FForms;
};

extern TApplication* Application;

// Screen sizes as the system metrics give them.
constexpr int SM_CXSCREEN = 0, SM_CYSCREEN = 1, SM_CXVIRTUALSCREEN = 78, SM_CYVIRTUALSCREEN = 79;
int GetSystemMetrics(int index);

class EInvalidOperation : public Exception {
  using Exception::Exception;
};
class EConvertError : public Exception {
  using Exception::Exception;
};
// Strict decimal integer ("'x' is not a valid integer value" otherwise).
int StrToInt(const AnsiString& s);

// ---- controls ----

class TWinControl;

class TControl : public TObject {
 public:
  TControl() = default;
  ~TControl() override;
  TControl(const TControl&) = delete;
  TControl& operator=(const TControl&) = delete;

  TWinControl* Parent() const { return FParent; }
  void SetParent(TWinControl* parent);
  TAlign Align() const { return FAlign; }
  void SetAlign(TAlign align);

  int Left() const { return FBounds.Left; }
  int Top() const { return FBounds.Top; }
  int Width() const { return FBounds.Width; }
  int Height() const { return FBounds.Height; }
  virtual void SetLeft(int v) { SetBounds({v, FBounds.Top, FBounds.Width, FBounds.Height}); }
  virtual void SetTop(int v) { SetBounds({FBounds.Left, v, FBounds.Width, FBounds.Height}); }
  virtual void SetWidth(int v) { SetBounds({FBounds.Left, FBounds.Top, v, FBounds.Height}); }
  virtual void SetHeight(int v) { SetBounds({FBounds.Left, FBounds.Top, FBounds.Width, v}); }
  virtual void SetBounds(TRect r);
  TRect Bounds() const { return FBounds; }

  bool Visible() const { return FVisible; }
  virtual void SetVisible(bool v);
  void Show() { SetVisible(true); }
  void Hide() { SetVisible(false); }

  IControlBackend* Backend() const { return FBackend.get(); }

 protected:
  // Each kind's constructor makes its platform peer, then puts it into its parent.
  void Init(std::unique_ptr<IControlBackend> backend, TWinControl* parent);
  std::unique_ptr<IControlBackend> FBackend;
  TRect FBounds;
  bool FVisible = true;

 private:
  TWinControl* FParent = nullptr;
  TAlign FAlign = alNone;
};

class TWinControl : public TControl {};

class TPanel : public TWinControl {
 public:
  explicit TPanel(TWinControl* parent);
};

struct TStatusPanel {
  int Width = 50;
  AnsiString Text;
};

class TStatusBar : public TWinControl {
 public:
  explicit TStatusBar(TWinControl* parent);
  void SetPanels(const std::vector<int>& widths);
  int PanelCount() const { return static_cast<int>(FPanels.size()); }
  const TStatusPanel& Panel(int i) const { return FPanels.at(static_cast<size_t>(i)); }
  void SetPanelText(int i, const AnsiString& text);
  int BorderWidth = 0;

 private:
  IStatusBarBackend* Peer() const { return static_cast<IStatusBarBackend*>(FBackend.get()); }
  std::vector<TStatusPanel> FPanels;
};

class TProgressBar : public TWinControl {
 public:
  explicit TProgressBar(TWinControl* parent);
  int Min() const { return FMin; }
  int Max() const { return FMax; }
  int Position() const { return FPosition; }
  void SetRange(int min, int max);
  // Kept as given; a value outside the range is shown at its nearest end.
  void SetPosition(int position);

 private:
  IProgressBarBackend* Peer() const { return static_cast<IProgressBarBackend*>(FBackend.get()); }
  int FMin = 0, FMax = 100, FPosition = 0;
};

// ---- forms ----

enum TPosition { poDesigned, poDefault, poDesktopCenter };
enum TCloseAction { caNone, caHide, caFree, caMinimize };

struct TControlScrollBar {
  bool Visible = true;
};

class TForm : public TWinControl, private IFormEvents {
 public:
  TForm();
  ~TForm() override;

  const AnsiString& Caption() const { return FCaption; }
  void SetCaption(const AnsiString& caption);
  TFormBorderStyle BorderStyle() const { return FBorderStyle; }
  void SetBorderStyle(TFormBorderStyle style);
  TWindowState WindowState() const { return FWindowState; }
  void SetWindowState(TWindowState state);
  TPosition Position() const { return FPosition; }
  void SetPosition(TPosition position);
  void SetBounds(TRect r) override;
  void SetVisible(bool visible) override;
  TControlScrollBar HorzScrollBar, VertScrollBar;

  // The user's close: asks OnCloseQuery, then runs OnClose; closing the main form
  // ends the application.
  void Close();
  // Raises EInvalidOperation for a hidden or disabled window.
  void SetFocus();
  bool Enabled = true;

  std::function<void()> OnCreate, OnDestroy;
  std::function<void(bool& canClose)> OnCloseQuery;
  std::function<void(TCloseAction& action)> OnClose;

  // Called by TApplication: creation handler, and destruction handler before
  // anything of the form is gone.
  void DoCreate();
  void DoDestroy();
  IFormBackend* Peer() const { return static_cast<IFormBackend*>(FBackend.get()); }

 private:
  // IFormEvents: what the platform reports.
  bool CloseRequested() override;
  bool QueryEndSession() override;
  void Moved(TRect outer) override;
  void StateChanged(TWindowState state) override;

  void Recreate();
  void Place();
  AnsiString FCaption;
  TFormBorderStyle FBorderStyle = bsSizeable;
  TWindowState FWindowState = wsNormal;
  TPosition FPosition = poDesigned;
  bool FNeedsPlacement = true;
  bool FDestroyed = false;
};
