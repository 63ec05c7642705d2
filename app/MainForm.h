// TMainForm: the program's main window, its whole client area the embedded browser,
// with a status bar below it in the main layout.
#pragma once

#include "EmbeddedWB.h"
#include "Forms.h"
#include "HtmlListener.h"
#include "SkinData.h"
#include "UrlHistory.h"

#include <memory>

class TMainForm : public TForm {
 public:
  TMainForm();

  // Components.
  TPanel* Panel4;
  TEmbeddedWB* EWB;
  TStatusBar* StatusBar1;
  TProgressBar* ProgressBar1;
  THtmlListener HtmlListener1;
  TSkinData SkinData1;
  TUrlHistory UrlHistory;
  TIECache IECache;

  bool FConfigComplete = false;
  std::shared_ptr<IConnection> FListenerLink;
  AnsiString FCloseHandler;

  void FormCreate();
  void FormDestroy();
  void FormCloseQuery(TObject* Sender, bool& CanClose);
  void FormClose(TObject* Sender, TCloseAction& Action);
  void ShowLoginPage();
  void ShowConfigPage();
  bool IsLoggedIn();
  void ApplyDialogLayout();
  void ApplyMainLayout();
  void PlaceProgressBar();
  void AttachListener(TEmbeddedWB* Browser);
  void DetachListener();

  // Browser events.
  void EWBDocumentComplete(TObject* Sender, IWebBrowser2* pDisp, const WideString& URL);
  void EWBNavigateError(TObject* Sender, IWebBrowser2* pDisp, const WideString& URL, int32_t StatusCode);
  void EWBProgressChange(TObject* Sender, int32_t Progress, int32_t ProgressMax);
  void EWBStatusTextChange(TObject* Sender, const WideString& Text);
  void EWBTitleChange(TObject* Sender, const WideString& Text);
  void EWBScriptError(TObject* Sender, const WideString& ErrorMessage, bool& CancelScripts);
  void EWBGetExternal(TObject* Sender, std::shared_ptr<IAutoDispatch>& ppDispatch);

  // The configuration page.
  void HtmlListener1HandlersOnClickHandle(TObject* Sender, IHTMLEventObj& Event);
  void HtmlListener1HandlersOnKeyPressHandle(TObject* Sender, IHTMLEventObj& Event);
  void HandleSaveButton(const std::shared_ptr<IHTMLElement>& Element);
  void SaveConfigForm();

  // For the script bridge.
  void ApplicationExit();
  int GetScreenWidth();
  int GetScreenHeight();
  void WindowResize(int width, int height, const AnsiString& state);
  void SetCloseHandler(const AnsiString& name);
  void ClearUrlHistory();
  void ClearIECache();

 private:
  TPanel FPanel4;
  TEmbeddedWB FEWB;
  TStatusBar FStatusBar1;
  TProgressBar FProgressBar1;
};

extern TMainForm* MainForm;
extern AnsiString LoginURL;
extern AnsiString ConfigPagePath;

// The user-agent string the browser sends with every request.
extern const char* const BrowserUserAgent;
