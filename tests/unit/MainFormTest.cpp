#include "Dialogs.h"
#include "MainWindowFixture.h"

#include <map>

namespace {

const std::map<std::string, std::string> kComplete = {
    {"Version", "1.2.0.0"},     {"ServerURL", "127.0.0.1"},
    {"ServerPort", "8080"},     {"IndexPageURI", "/tavreq/login/home.html"},
    {"LoginPageURI", "/tavreq/login/init.html"}};

class MainWindow : public MainWindowTest {
 protected:
  // A main window created as start-up creates it, over a Corvane.ini of these values,
  // or over none.
  TMainForm& Start(const std::map<std::string, std::string>& values) {
    WriteGeneral(values);
    return MainWindowTest::Start();
  }
  TMainForm& StartWithoutIni() { return MainWindowTest::Start(); }
};

}  // namespace

TEST_F(MainWindow, CompleteConfigurationOpensTheLoginPageInTheDialogLayout) {
  TMainForm& f = Start(kComplete);
  EXPECT_TRUE(f.FConfigComplete);
  EXPECT_EQ(LoginURL, "http://127.0.0.1:8080/tavreq/login/init.html");
  EXPECT_EQ(ConfigPagePath, Dir.string() + "/config.html");
  ASSERT_EQ(Browser().Navigations.size(), 1u);
  EXPECT_EQ(Browser().LastNavigationUtf8(), LoginURL);
  EXPECT_EQ(f.Caption(), Ansi(u8"登录"));
  EXPECT_EQ(f.BorderStyle(), bsDialog);
  EXPECT_FALSE(f.StatusBar1->Visible());
  EXPECT_FALSE(f.VertScrollBar.Visible);
  EXPECT_TRUE(Browser().HostFlags & hostflag::ScrollNo);
  EXPECT_EQ(Browser().UserAgent,
            "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1; .NET CLR 1.1.4322, Drevant-Lumetra/1.0.0.0, "
            "www.drevant.example)");
  EXPECT_EQ(Browser().DisabledCtrlShortcuts, "N");
  EXPECT_TRUE(Headless().Boxes.empty());

  // Created hidden; placed in the middle of the desktop when first shown.
  EXPECT_FALSE(Window().Visible);
  f.Show();
  EXPECT_EQ(Window().Bounds, (TRect{415, 362, 450, 300}));
  EXPECT_EQ(f.Position(), poDesigned);
  EXPECT_EQ(Window().BorderStyle, bsDialog);
}

TEST_F(MainWindow, ProgressBarSitsOverTheSecondStatusPanel) {
  TMainForm& f = Start(kComplete);
  EXPECT_EQ(f.ProgressBar1->Parent(), f.StatusBar1);
  EXPECT_EQ(f.ProgressBar1->Bounds(), (TRect{502, 2, 198, 17}));
  EXPECT_EQ(f.ProgressBar1->Position(), 0);
  EXPECT_EQ(Headless().Of(*f.ProgressBar1).Parent, f.StatusBar1->Backend());
  EXPECT_EQ(Headless().Of(*f.StatusBar1).Widths, (std::vector<int>{500, 200, 0}));
}

TEST_F(MainWindow, IncompleteConfigurationOpensTheConfigurationPage) {
  auto values = kComplete;
  values.erase("Version");
  TMainForm& f = Start(values);
  EXPECT_FALSE(f.FConfigComplete);
  EXPECT_EQ(LoginURL, "http://127.0.0.1:8080/tavreq/login/init.html");  // composed all the same
  EXPECT_EQ(Browser().LastNavigationUtf8(), Dir.string() + "/config.html");
  EXPECT_EQ(f.Caption(), Ansi(u8"配置运行参数"));
  EXPECT_EQ(f.BorderStyle(), bsDialog);
}

TEST_F(MainWindow, MissingConfigurationEndsBeforeAnyNavigation) {
  TMainForm& f = StartWithoutIni();
  ASSERT_EQ(Headless().Boxes.size(), 1u);
  EXPECT_TRUE(Application->Terminated());
  EXPECT_TRUE(Browser().Navigations.empty());
  EXPECT_EQ(f.BorderStyle(), bsSizeable);
  Application->Run();  // told to end before the loop: no window
  EXPECT_FALSE(Window().Visible);
  EXPECT_EQ(Headless().LoopRuns, 0);
}

TEST_F(MainWindow, SkinFileIsUsedOnlyWhenItExists) {
  Spit(Path("blue.css"), "window { background: #00f; }");
  struct {
    std::string skin;
    bool applied;
  } cases[] = {{"", false}, {"   ", false}, {Path("missing.css"), false}, {Path("blue.css"), true}};
  for (auto& c : cases) {
    Headless().Skins.clear();
    auto values = kComplete;
    values["skin"] = c.skin;
    Start(values);
    EXPECT_EQ(Headless().Skins.size(), c.applied ? 1u : 0u) << "skin '" << c.skin << "'";
    EXPECT_TRUE(Headless().Boxes.empty());
    Stop();
  }
}

TEST_F(MainWindow, IsLoggedInLooksForTheMarkerInTheCookie) {
  TMainForm& f = Start(kComplete);
  EXPECT_FALSE(f.IsLoggedIn()) << "no document";
  struct {
    const char* cookie;
    bool in;
  } cases[] = {{"tavreq_is_login=true", true},
               {"JSESSIONID=abc; tavreq_is_login=true", true},
               {"tavreq_is_login=trueish; x=1", true},
               {"TAVREQ_IS_LOGIN=TRUE", false},
               {"tavreq_is_login=false", false},
               {"", false}};
  for (auto& c : cases) {
    Browser().Doc = std::make_shared<HeadlessDocument>(c.cookie);
    EXPECT_EQ(f.IsLoggedIn(), c.in) << c.cookie;
  }
}

TEST_F(MainWindow, LayoutsSwitchOnceEach) {
  TMainForm& f = Start(kComplete);
  f.Show();
  int recreations = Window().Recreations;
  f.ApplyDialogLayout();
  EXPECT_EQ(Window().Recreations, recreations) << "already the dialog layout";

  f.ApplyMainLayout();
  EXPECT_EQ(f.BorderStyle(), bsSizeable);
  EXPECT_EQ(f.WindowState(), wsMaximized);
  EXPECT_EQ(Window().WindowState, wsMaximized);
  EXPECT_TRUE(f.StatusBar1->Visible());
  EXPECT_TRUE(f.VertScrollBar.Visible);
  EXPECT_FALSE(Browser().HostFlags & hostflag::ScrollNo);
  recreations = Window().Recreations;
  f.ApplyMainLayout();
  EXPECT_EQ(Window().Recreations, recreations);

  // Back to the dialog: the re-created dialog comes up normal, 450 x 300, centred.
  f.ShowConfigPage();
  EXPECT_EQ(f.BorderStyle(), bsDialog);
  EXPECT_EQ(Window().WindowState, wsNormal);
  EXPECT_EQ(Window().Bounds, (TRect{415, 362, 450, 300}));
  EXPECT_FALSE(f.StatusBar1->Visible());
}

TEST_F(MainWindow, ListenerStaysWithTheFirstTopLevelDocument) {
  TMainForm& f = Start(kComplete);
  auto first = std::make_shared<HeadlessDocument>();
  auto frame = std::make_shared<HeadlessDocument>();
  Browser().Complete(frame, false);
  EXPECT_FALSE(f.FListenerLink) << "a frame does not get the listener";
  Browser().Complete(first);
  ASSERT_TRUE(f.FListenerLink);
  auto second = std::make_shared<HeadlessDocument>();
  Browser().Complete(second);
  EXPECT_EQ(first->Sinks.size(), 1u);
  EXPECT_TRUE(second->Sinks.empty());
  f.DoDestroy();
  f.DoDestroy();
  EXPECT_EQ(first->Disconnects, 1);
  EXPECT_FALSE(f.FListenerLink);

  // A document without connection points leaves the link empty.
  TMainForm& g = Start(kComplete);
  auto bare = std::make_shared<HeadlessDocument>();
  bare->HasConnectionPoints = false;
  Browser().Complete(bare);
  EXPECT_FALSE(g.FListenerLink);
}

TEST_F(MainWindow, LoggedInCookieSwitchesToTheMainLayoutOnTheNextDocument) {
  TMainForm& f = Start(kComplete);
  f.Show();
  for (int i = 0; i < 3; ++i) Browser().Complete(std::make_shared<HeadlessDocument>("a=1"));
  EXPECT_EQ(f.BorderStyle(), bsDialog);
  Browser().Doc = std::make_shared<HeadlessDocument>("tavreq_is_login=true");
  Browser().Events.DocumentComplete(false, u"frame");  // a frame's document counts too
  EXPECT_EQ(f.BorderStyle(), bsSizeable);
  EXPECT_EQ(f.WindowState(), wsMaximized);
}

TEST_F(MainWindow, NavigationErrorsLeadToLocalPages) {
  TMainForm& f = Start(kComplete);
  f.ApplyMainLayout();
  const std::string dir = Dir.string() + "/";
  struct {
    int32_t status;
    std::string target;
  } cases[] = {{404, dir + "404.html"},
               {500, dir + "500.html"},
               {503, dir + "unknownerror.html"},
               {static_cast<int32_t>(0x800C0008), dir + "unknownerror.html"},
               {static_cast<int32_t>(0x800C0005), dir + "config.html"}};
  for (auto& c : cases) {
    Browser().Events.NavigateError(c.status, u"http://x/", false);
    EXPECT_EQ(Browser().LastNavigationUtf8(), c.target) << c.status;
  }
  EXPECT_EQ(f.Caption(), Ansi(u8"配置运行参数"));
  EXPECT_EQ(f.BorderStyle(), bsDialog);
}

TEST_F(MainWindow, ProgressTitleStatusAndScriptErrors) {
  TMainForm& f = Start(kComplete);
  auto& bar = Headless().Of(*f.ProgressBar1);
  struct {
    int32_t p, max, position, shown;
  } progress[] = {{50, 200, 26, 26}, {200, 200, 101, 100}, {0, 0, 0, 0}, {0, 100, 1, 1}, {-5, 0, 0, 0},
                  {INT32_MAX, 1, INT32_MAX, 100}};
  for (auto& c : progress) {
    Browser().Events.ProgressChange(c.p, c.max);
    EXPECT_EQ(f.ProgressBar1->Position(), c.position) << c.p << "/" << c.max;
    EXPECT_EQ(bar.Shown, c.shown) << c.p << "/" << c.max;
  }

  struct {
    std::u16string title;
    AnsiString caption;
  } titles[] = {{u"开票", Ansi(u8"开票")},
                {u"https://host/p", "https://host/p"},
                {u"http://host/p", "Lumetra"},
                {u"see http://x", "Lumetra"},
                {u"HTTP://HOST", "HTTP://HOST"}};
  for (auto& t : titles) {
    Browser().Events.TitleChange(t.title);
    EXPECT_EQ(f.Caption(), t.caption);
  }

  Browser().Events.StatusTextChange(u"http://host/发票");
  EXPECT_EQ(f.StatusBar1->Panel(0).Text, "http://host/" + Ansi(u8"发票"));

  EXPECT_TRUE(Browser().Events.ScriptError(u"对象不支持此属性"));
  EXPECT_TRUE(Browser().Events.ScriptError(u"second"));
  ASSERT_EQ(Headless().Boxes.size(), 2u);
  EXPECT_EQ(Headless().Boxes[0].Text, Ansi(u8"对象不支持此属性"));
  EXPECT_EQ(Headless().Boxes[0].Caption, "Lumetra");
  EXPECT_EQ(Headless().Boxes[0].Flags, mb::OK | mb::Accelerators);  // the framework's simple message
}

TEST(Application, RegisterSwitchesEndTheStartAtOnce) {
  struct {
    std::vector<std::string> args;
    bool goesOn;
  } cases[] = {{{}, true},
               {{"/REGSERVER"}, false},
               {{"-regserver"}, false},
               {{"/UnRegServer"}, false},
               {{"-Automation"}, true},
               {{"REGSERVER"}, true},
               {{"-EMBEDDING", "/regserver"}, false},
               {{"--regserver"}, true}};
  for (auto& c : cases) {
    std::vector<char*> argv{const_cast<char*>("lumetra")};
    for (auto& a : c.args) argv.push_back(const_cast<char*>(a.c_str()));
    TApplication app;
    app.ExeName = "/x/lumetra";
    EXPECT_EQ(app.Initialize(static_cast<int>(argv.size()), argv.data()), c.goesOn) << testing::PrintToString(c.args);
  }
}
