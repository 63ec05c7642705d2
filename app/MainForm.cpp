#include "MainForm.h"

#include "BrowserToHostImpl.h"
#include "Dialogs.h"
#include "IHTMLUtils.h"
#include "INIConfig.h"
#include "SysUtils.h"

#include <algorithm>
#include <climits>
#include <cmath>

TMainForm* MainForm = nullptr;
AnsiString LoginURL;
AnsiString ConfigPagePath = "config.html";

const char* const BrowserUserAgent =
    "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1; .NET CLR 1.1.4322, Drevant-Lumetra/1.0.0.0, "
    "www.drevant.example)";

static const char LoggedInMarker[] = "tavreq_is_login=true";

TMainForm::TMainForm()
    : Panel4(&FPanel4),
      EWB(&FEWB),
      StatusBar1(&FStatusBar1),
      ProgressBar1(&FProgressBar1),
      FPanel4(this),
      FEWB(&FPanel4),
      FStatusBar1(this),
      FProgressBar1(this) {
  SetBounds({0, 0, 800, 600});
  Panel4->SetAlign(alClient);
  EWB->SetUserAgent(BrowserUserAgent);
  EWB->SetDisableCtrlShortcuts("N");
  EWB->SetUserInterfaceOptions({EnablesFormsAutoComplete, EnableThemes});
  StatusBar1->SetHeight(19);
  StatusBar1->SetPanels({500, 200, 0});
  ProgressBar1->SetRange(0, 100);

  using namespace std::placeholders;
  OnCreate = [this] { FormCreate(); };
  OnDestroy = [this] { FormDestroy(); };
  HtmlListener1.OnClick = std::bind(&TMainForm::HtmlListener1HandlersOnClickHandle, this, _1, _2);
  HtmlListener1.OnKeyPress = std::bind(&TMainForm::HtmlListener1HandlersOnKeyPressHandle, this, _1, _2);
  OnCloseQuery = [this](bool& CanClose) { FormCloseQuery(this, CanClose); };
  OnClose = [this](TCloseAction& Action) { FormClose(this, Action); };
  EWB->OnDocumentComplete = std::bind(&TMainForm::EWBDocumentComplete, this, _1, _2, _3);
  EWB->OnNavigateError = std::bind(&TMainForm::EWBNavigateError, this, _1, _2, _3, _4);
  EWB->OnProgressChange = std::bind(&TMainForm::EWBProgressChange, this, _1, _2, _3);
  EWB->OnStatusTextChange = std::bind(&TMainForm::EWBStatusTextChange, this, _1, _2);
  EWB->OnTitleChange = std::bind(&TMainForm::EWBTitleChange, this, _1, _2);
  EWB->OnScriptError = std::bind(&TMainForm::EWBScriptError, this, _1, _2, _3);
  EWB->OnGetExternal = std::bind(&TMainForm::EWBGetExternal, this, _1, _2);
}

void TMainForm::FormCreate() {
  AnsiString SkinName;
  {
    TINIConfig Config;
    // The missing file has been reported and the application is ending.
    if (!Config.Opened()) return;
    FConfigComplete = Config.IsComplete();
    LoginURL = Config.BuildPageURL(Config.GetLoginPageURI());
    SkinName = Config.GetSkin();
  }
  if (!Trim(SkinName).empty()) {
    SkinData1.SetSkinFile(SkinName);
    if (!SkinData1.Active()) SkinData1.SetActive(true);
  }
  ConfigPagePath = ExtractFilePath(Application->ExeName) + "config.html";
  // Only the configured server's pages and the program's own get window.external:
  // any other site could otherwise write files through it.
  EWB->ExternalOrigins = {OriginOf(LoginURL), "file://" + ExtractFilePath(Application->ExeName)};
  PlaceProgressBar();
  if (FConfigComplete) {
    ShowLoginPage();
  } else {
    ShowConfigPage();
  }
}

void TMainForm::FormDestroy() { DetachListener(); }

// The page registered by name decides: it is called with 0 and lets the window close
// only by returning 1. Its failures reach the framework's error box.
void TMainForm::FormCloseQuery(TObject*, bool& CanClose) {
  if (FCloseHandler.empty()) return;
  CanClose = false;
  auto Document = EWB->Document();
  if (!Document) return;
  auto Script = Document->Script();
  if (!Script) return;
  DISPID Id;
  if (Failed(Script->GetIDsOfNames(AnsiToWide(FCloseHandler), Id)))
    throw EOleError("This object does not support this method");
  Variant Result;
  TExcepInfo Excep;
  HRESULT hr = Script->Invoke(Id, DISPATCH_METHOD | DISPATCH_PROPERTYGET, {Variant::Int(0)}, &Result, &Excep);
  if (hr == DISP_E_EXCEPTION)
    throw EOleError(Format("Method call unsuccessful. %s (%s).", WideToAnsi(Excep.Description).c_str(),
                           WideToAnsi(Excep.Source).c_str()));
  if (Failed(hr)) throw EOleSysError(Format("Method call unsuccessful (0x%08X)", unsigned(hr)), hr);
  if (Result.IsEmpty()) return;
  CanClose = VarToInteger(Result) == 1;
}

void TMainForm::FormClose(TObject*, TCloseAction&) {
  UrlHistory.ClearHistory();
  Application->Terminate();
}

void TMainForm::ShowLoginPage() {
  ApplyDialogLayout();
  SetCaption(Ansi(u8"登录"));
  EWB->Navigate(LoginURL);
}

void TMainForm::ShowConfigPage() {
  ApplyDialogLayout();
  SetCaption(Ansi(u8"配置运行参数"));
  EWB->Navigate(AnsiToWide(ConfigPagePath));
}

bool TMainForm::IsLoggedIn() {
  auto Document = EWB->Document();
  AnsiString Cookie = Document ? WideToAnsi(Document->cookie()) : AnsiString();
  return !Cookie.empty() && Cookie.find(LoggedInMarker) != AnsiString::npos;
}

void TMainForm::ApplyDialogLayout() {
  if (BorderStyle() == bsDialog) return;
  SetHeight(300);
  SetWidth(450);
  SetPosition(poDesktopCenter);
  SetBorderStyle(bsDialog);
  StatusBar1->Hide();
  VertScrollBar.Visible = false;
  auto Options = EWB->UserInterfaceOptions();
  Options.insert(DontUseScrollBars);
  EWB->SetUserInterfaceOptions(Options);
}

void TMainForm::ApplyMainLayout() {
  if (BorderStyle() == bsSizeable) return;
  SetWindowState(wsMaximized);
  SetBorderStyle(bsSizeable);
  VertScrollBar.Visible = true;
  StatusBar1->Show();
  auto Options = EWB->UserInterfaceOptions();
  Options.erase(DontUseScrollBars);
  EWB->SetUserInterfaceOptions(Options);
}

void TMainForm::PlaceProgressBar() {
  int B = StatusBar1->BorderWidth;
  ProgressBar1->SetParent(StatusBar1);
  ProgressBar1->SetLeft(StatusBar1->Panel(0).Width + 2);
  ProgressBar1->SetTop(B + 2);
  ProgressBar1->SetHeight(StatusBar1->Height() - (B + 2));
  ProgressBar1->SetWidth(StatusBar1->Panel(1).Width + B - 2);
  ProgressBar1->SetPosition(0);
}

void TMainForm::AttachListener(TEmbeddedWB* Browser) {
  if (FListenerLink) return;
  auto Document = Browser->Document();
  if (!Document) return;
  // A document without connection points gives no link.
  FListenerLink = HtmlListener1.Connect(*Document);
}

void TMainForm::DetachListener() {
  if (!FListenerLink) return;
  FListenerLink->Disconnect();
  FListenerLink.reset();
}

// ---- browser events ----

void TMainForm::EWBDocumentComplete(TObject*, IWebBrowser2* pDisp, const WideString&) {
  if (pDisp == EWB->DefaultInterface()) AttachListener(EWB);
  if (IsLoggedIn()) ApplyMainLayout();
}

void TMainForm::EWBNavigateError(TObject*, IWebBrowser2*, const WideString&, int32_t StatusCode) {
  AnsiString Folder = ExtractFilePath(Application->ExeName);
  switch (StatusCode) {
    case static_cast<int32_t>(0x800C0005):  // server or proxy not found
      ShowConfigPage();
      break;
    case 404:
      EWB->Navigate(Folder + "404.html");
      break;
    case 500:
      EWB->Navigate(Folder + "500.html");
      break;
    default:
      EWB->Navigate(Folder + "unknownerror.html");
      break;
  }
}

void TMainForm::EWBProgressChange(TObject*, int32_t Progress, int32_t ProgressMax) {
  if (ProgressMax == 0) {
    ProgressBar1->SetPosition(0);
    return;
  }
  double Percent = std::trunc(double(Progress) / double(ProgressMax) * 100.0) + 1;
  // Odd reports (a progress far beyond its maximum) must not overflow the conversion.
  ProgressBar1->SetPosition(static_cast<int>(std::clamp(Percent, double(INT_MIN), double(INT_MAX))));
}

void TMainForm::EWBStatusTextChange(TObject*, const WideString& Text) { StatusBar1->SetPanelText(0, WideToAnsi(Text)); }

void TMainForm::EWBTitleChange(TObject*, const WideString& Text) {
  SetCaption(WideToAnsi(Text));
  if (Text.find(u"http://") != WideString::npos) SetCaption("Lumetra");
}

void TMainForm::EWBScriptError(TObject*, const WideString& ErrorMessage, bool& CancelScripts) {
  ShowMessage(WideToAnsi(ErrorMessage));
  CancelScripts = true;
}

// A fresh object for every request; the browser holds the only reference.
void TMainForm::EWBGetExternal(TObject*, std::shared_ptr<IAutoDispatch>& ppDispatch) {
  ppDispatch = std::make_shared<TBrowserToHost>();
}

// ---- operations of the script bridge ----

void TMainForm::ApplicationExit() {
  UrlHistory.ClearHistory();
  Application->Terminate();
}

int TMainForm::GetScreenWidth() { return GetSystemMetrics(SM_CXSCREEN); }
int TMainForm::GetScreenHeight() { return GetSystemMetrics(SM_CYSCREEN); }

// Six positions of one digit each: state and size, border, own scroll bars, status
// bar, placement, page scroll bars. A bad position fails after the earlier ones took effect.
void TMainForm::WindowResize(int width, int height, const AnsiString& state) {
  auto Digit = [&](size_t position) {
    return StrToInt(position <= state.size() ? state.substr(position - 1, 1) : AnsiString());
  };
  switch (Digit(1)) {
    case 1:
      SetWindowState(wsMaximized);
      SetFocus();
      break;
    case 2:
      SetWindowState(wsMinimized);
      break;
    default:
      SetWindowState(wsNormal);
      SetWidth(width);
      SetHeight(height);
      SetFocus();
      break;
  }
  static const TFormBorderStyle Borders[] = {bsDialog, bsNone, bsSingle, bsSizeable, bsSizeToolWin, bsToolWindow};
  int border = Digit(2);
  SetBorderStyle(border <= 5 ? Borders[border] : bsSingle);
  int bars = Digit(3);
  HorzScrollBar.Visible = bars == 1 || bars >= 3;
  VertScrollBar.Visible = bars >= 2;
  switch (Digit(4)) {
    case 0:
      StatusBar1->Hide();
      break;
    case 1:
      PlaceProgressBar();
      StatusBar1->Show();
      break;
    default:
      StatusBar1->Show();
      break;
  }
  SetPosition(Digit(5) == 1 ? poDesktopCenter : poDefault);
  auto Options = EWB->UserInterfaceOptions();
  if (Digit(6) == 0) {
    Options.insert(DontUseScrollBars);
  } else {
    Options.erase(DontUseScrollBars);
  }
  EWB->SetUserInterfaceOptions(Options);
}

void TMainForm::SetCloseHandler(const AnsiString& name) { FCloseHandler = name; }
void TMainForm::ClearUrlHistory() { UrlHistory.ClearHistory(); }
void TMainForm::ClearIECache() { IECache.ClearCache(); }

// ---- the configuration page ----

static const char ConfigForm[] = "_CONFIG_FORM";
static const char SaveButton[] = "_CONFIG_SAVE_BUTTON";

void TMainForm::HtmlListener1HandlersOnClickHandle(TObject*, IHTMLEventObj& Event) {
  auto Element = Event.srcElement();
  if (Element && WideToAnsi(Element->tagName()) == "INPUT") HandleSaveButton(Element);
}

void TMainForm::HandleSaveButton(const std::shared_ptr<IHTMLElement>& Element) {
  if (WideToAnsi(Element->tagName()) != "INPUT") return;
  auto Input = Element->QueryInput();
  if (!Input) return;
  AnsiString Type = AnsiUpperCase(WideToAnsi(Input->type()));
  if (Type != "SUBMIT" && Type != "BUTTON") return;
  if (WideToAnsi(Input->name()) != SaveButton) return;
  auto Form = TIHTMLUtils().FindParentForm(Element);
  if (!Form || WideToAnsi(Form->name()) != ConfigForm) return;
  try {
    SaveConfigForm();
  } catch (const Exception& e) {
    // One clear word instead of a half-finished save: nothing after the failure is written.
    MessageBox(this, Ansi(u8"保存配置时出错，出错处及其后的配置项都没有保存。\n\n原因：") + e.Message, Application->Title,
               mb::OK | mb::IconStop);
    return;
  }
  if (Application->Terminated()) return;
  {
    TINIConfig Config;
    FConfigComplete = Config.IsComplete();
  }
  if (FConfigComplete) {
    Application->Terminate();
  } else {
    ShowMessage(Ansi(u8"配置参数不完整，请重新配置。"));
  }
}

void TMainForm::SaveConfigForm() {
  TIHTMLUtils Utils;
  TINIConfig Config;
  if (!Config.Opened()) return;  // reported; the program is ending
  TStringList Sections, Keys, Values;
  auto Document = EWB->Document();
  auto Form = Document ? Utils.GetFormByName(*Document, ConfigForm) : nullptr;
  if (!Form) {
    ShowMessage(Ansi(u8"在当前界面没有找到配置表单标记，配置界面可能有错，请与我们的技术支持人员联系。"));
    return;
  }
  auto Names = Utils.GetFormFieldNames(*Form);
  if (Names->Count() == 0) {
    ShowMessage(Ansi(u8"当前界面没有找到配置项，配置界面可能有错，请与我们的技术支持人员联系。"));
    return;
  }
  for (auto& Name : *Names) {
    // A field without a name has no key to be saved under.
    if (Name.empty()) continue;
    // Names are checked before anything is written, so a bad one leaves the file as it was.
    std::shared_ptr<IHTMLElement> Element;
    try {
      Element = Utils.GetFormElement(*Form, Name);
    } catch (const EIntfCastError&) {
      throw Exception(Format(Ansi(u8"字段名称“%s”被多个字段共用。").c_str(), Name.c_str()));
    }
    // A listed field that its own name does not find lost characters to the code page.
    if (!Element || !TIniFile::IsValidKey(Name))
      throw Exception(Format(Ansi(u8"字段名称“%s”含有不能保存的字符。").c_str(), Name.c_str()));
    AnsiString Tag = WideToAnsi(Element->tagName());
    if (Tag != "INPUT" && Tag != "SELECT" && Tag != "TEXTAREA") continue;
    if (Tag == "INPUT") {
      AnsiString Type = AnsiUpperCase(WideToAnsi(Element->QueryInput()->type()));
      if (Type != "TEXT" && Type != "RADIO" && Type != "CHECKBOX") continue;
    }
    AnsiString Value = Utils.GetFieldValue(*Form, Name);
    if (Value.empty()) continue;
    Sections.Add("general");
    Keys.Add(Name);
    Values.Add(Value);
  }
  Config.WriteConfigItems(Sections, Keys, Values);
  ShowMessage(Ansi(u8"系统参数保存成功，程序重启后配置参数生效。") + "\n\r\n\r" +
              Ansi(u8"点击“OK”按钮后将退出程序，请重新启动。"));
}

void TMainForm::HtmlListener1HandlersOnKeyPressHandle(TObject*, IHTMLEventObj& Event) {
  try {
    auto Element = Event.srcElement();
    if (!Element || WideToAnsi(Element->tagName()) != "INPUT") return;
    auto Input = Element->QueryInput();
    if (Input && Input->type() == u"submit") {
      if (auto Form = Input->form()) Form->submit();
    }
  } catch (...) {
    // Whatever went wrong, the key press goes on as the page meant it.
  }
}
