// The widgetset of the Linux desktop: GTK 3 windows and a WebKitGTK browser.
#pragma once

#include "../Widgetset.h"

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <string>
#include <vector>

class TGtkWidgetset : public IWidgetset {
 public:
  TGtkWidgetset();
  ~TGtkWidgetset() override;

  int MessageBox(const MessageBoxRequest& request) override;
  std::unique_ptr<IFormBackend> CreateForm(TForm& form, IFormEvents& events) override;
  std::unique_ptr<IControlBackend> CreatePanel(TPanel& panel) override;
  std::unique_ptr<IStatusBarBackend> CreateStatusBar(TStatusBar& bar) override;
  std::unique_ptr<IProgressBarBackend> CreateProgressBar(TProgressBar& bar) override;
  std::unique_ptr<IBrowserBackend> CreateBrowser(TEmbeddedWB& browser, IBrowserEvents& events) override;
  void RunMessageLoop() override;
  void QuitMessageLoop() override;
  void ProcessMessagesUntil(const std::function<bool()>& done) override;
  TRect VirtualScreen() override;
  TRect PrimaryScreen() override;
  bool ApplySkin(const AnsiString& fileName) override;
  TRect DefaultPlacement(TRect current, bool defaultSize) override;
  void ClearUrlHistory() override;
  void ClearCache(unsigned entryKinds) override;

  // Joins the desktop session, where there is one: a log-off or shutdown then asks
  // the main window as its close does, and ends the loop without closing it.
  void JoinSession();

  // The program's own URL history: every top-level page it showed, one line each.
  void RecordVisit(const std::string& uri);
  // One browsing context for the program: its website data lives in folders of its own.
  WebKitWebContext* WebContext();

 private:
  GMainLoop* FMainLoop = nullptr;
  bool FQuitRequested = false;
  GtkApplication* FApp = nullptr;  // registered with the session manager, or null
  bool FInSessionLoop = false, FQuitByProgram = false;
  guint FInhibit = 0;
  guint FEndSignal = 0, FStopSignal = 0;
  std::vector<GtkWidget*> FOpenBoxes;  // message boxes whose own loops run now
  void CloseOpenBoxes();
  static void OnQueryEnd(GtkApplication* app, TGtkWidgetset* self);
  WebKitWebContext* FWebContext = nullptr;
  GtkCssProvider* FSkin = nullptr;
  std::string HistoryPath();
};
