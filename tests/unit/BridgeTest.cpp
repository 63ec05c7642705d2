#include "BrowserToHostImpl.h"
#include "Dialogs.h"
#include "MainWindowFixture.h"

namespace {

class Bridge : public MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    WriteGeneral({{"Version", "1.2.0.0"}, {"ServerURL", "127.0.0.1"}, {"ServerPort", "8080"}, {"IndexPageURI", "/i"},
                  {"LoginPageURI", "/l"}});
    Start(true);
    Headless().Boxes.clear();
  }

  struct Result {
    HRESULT hr;
    Variant value;
    std::string error;  // the exception's description, UTF-8
  };
  // A call as a page's script makes it: name lookup, then dispatch.
  Result Call(const std::u16string& name, std::vector<Variant> args = {}, uint16_t flags = DISPATCH_METHOD) {
    auto object = Browser().Events.GetExternal("http://127.0.0.1:8080");
    Result r{S_OK, {}, {}};
    if (!object) return {E_UNEXPECTED, {}, "no external"};
    DISPID id;
    r.hr = GetIDsOfNames(*object, name, id);
    if (Failed(r.hr)) return r;
    TExcepInfo e;
    r.hr = Invoke(*object, id, flags, args, &r.value, &e);
    r.error = WideToUtf8(e.Description);
    if (r.hr == DISP_E_EXCEPTION) {
      EXPECT_EQ(e.Source, u"Corvane.BrowserToHost");
    }
    return r;
  }
};

Variant I(int v) { return Variant::Int(v); }
Variant S(const std::u16string& s) { return Variant::Str(s); }

}  // namespace

TEST_F(Bridge, TypeLibraryTable) {
  const auto& m = IBrowserToHostDesc.Members;
  ASSERT_EQ(m.size(), 14u);
  std::vector<std::pair<std::string, DISPID>> order;
  for (auto& x : m) order.push_back({x.Name, x.DispId});
  EXPECT_EQ(order, (std::vector<std::pair<std::string, DISPID>>{
                       {"ChangeWindowSize", 201}, {"MessageBox", 202}, {"MoveWindow", 204}, {"ApplicationExit", 205},
                       {"ScreenWidth", 203}, {"ScreenHeight", 206}, {"WindowResize", 207}, {"Navigate", 208},
                       {"LoadConfig", 209}, {"SaveConfig", 210}, {"GetAppPath", 211}, {"SetCloseHandler", 212},
                       {"ClearUrlHistory", 213}, {"ClearIECache", 214}}));
  EXPECT_STREQ(CorvaneTypeLib.Name, "Corvane");
  EXPECT_EQ(CorvaneTypeLib.Lcid, 1033u);
  EXPECT_STREQ(CorvaneTypeLib.HelpString, "Corvane Library");
  EXPECT_STREQ(m[11].HelpString, "窗口关闭句柄");
}

TEST_F(Bridge, DispatchRulesComeBeforeAnyMember) {
  Form->SetBounds({10, 20, 300, 200});
  struct {
    const char* what;
    std::u16string name;
    std::vector<Variant> args;
    uint16_t flags;
    HRESULT hr;
  } cases[] = {
      {"one argument of two", u"ChangeWindowSize", {I(800)}, DISPATCH_METHOD, DISP_E_BADPARAMCOUNT},
      {"three of two", u"MoveWindow", {I(1), I(2), I(3)}, DISPATCH_METHOD, DISP_E_BADPARAMCOUNT},
      {"unknown name", u"Resize", {}, DISPATCH_METHOD, DISP_E_UNKNOWNNAME},
      {"assigning a read-only property", u"ScreenWidth", {I(5)}, DISPATCH_PROPERTYPUT, DISP_E_MEMBERNOTFOUND},
      {"lower-case name", u"changewindowsize", {I(640), I(480)}, DISPATCH_METHOD | DISPATCH_PROPERTYGET, S_OK},
  };
  for (auto& c : cases) EXPECT_EQ(Call(c.name, c.args, c.flags).hr, c.hr) << c.what;
  EXPECT_EQ(Form->Bounds(), (TRect{10, 20, 640, 480}));
}

TEST_F(Bridge, ArgumentsConvertInOrderAndEffectsBeforeAFailureStay) {
  Form->SetBounds({10, 20, 300, 200});
  auto r = Call(u"ChangeWindowSize", {Variant::Null(), I(600)});
  EXPECT_EQ(r.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(r.error, "Could not convert variant of type (Null) into type (Integer)");
  EXPECT_EQ(Form->Bounds(), (TRect{10, 20, 300, 200}));
  r = Call(u"ChangeWindowSize", {I(800), Variant::Null()});
  EXPECT_EQ(r.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(Form->Bounds(), (TRect{10, 20, 800, 200}));

  EXPECT_EQ(Call(u"MoveWindow", {Variant::Dbl(10.5), Variant::Dbl(11.5)}).hr, S_OK);
  EXPECT_EQ(Form->Left(), 10);
  EXPECT_EQ(Form->Top(), 12);
  r = Call(u"MoveWindow", {S(u"abc"), I(0)});
  EXPECT_EQ(r.error, "Could not convert variant of type (OleStr) into type (Boolean)");
  r = Call(u"MoveWindow", {Variant::Dbl(1e12), I(0)});
  EXPECT_EQ(r.error, "Overflow while converting variant of type (Double) into type (Integer)");
  EXPECT_EQ(Form->Left(), 10);
  EXPECT_EQ(Call(u"MoveWindow", {S(u"12"), I(0)}).hr, S_OK);
  EXPECT_EQ(Form->Left(), 12);
  EXPECT_EQ(Call(u"ChangeWindowSize", {Variant(), Variant()}).hr, S_OK);
  EXPECT_EQ(Form->Width(), 0);
  EXPECT_EQ(Call(u"ChangeWindowSize", {I(-5), I(-5)}).hr, S_OK);
  EXPECT_EQ(Form->Width(), -5);
}

TEST_F(Bridge, ScreenPropertiesAnswerWithEachOthersDimension) {
  Headless().Primary = {0, 0, 1024, 768};
  EXPECT_EQ(Call(u"ScreenWidth", {}, DISPATCH_PROPERTYGET).value.AsIntRaw(), 768);
  EXPECT_EQ(Call(u"SCREENHEIGHT", {}, DISPATCH_PROPERTYGET).value.AsIntRaw(), 1024);
  EXPECT_EQ(Call(u"ScreenHeight", {}, DISPATCH_PROPERTYGET).value.Type(), varInteger);
}

TEST_F(Bridge, WindowResizeAppliesSixPositionsInOrder) {
  struct {
    const char* state;
    int w, h;
    TRect bounds;
    TWindowState ws;
    TFormBorderStyle border;
    bool statusBar, pageScroll;
    std::string error;
  } cases[] = {
      {"000010", 800, 600, {240, 212, 800, 600}, wsNormal, bsDialog, false, false, ""},
      {"131111", 800, 600, {415, 362, 450, 300}, wsMaximized, bsSizeable, true, true, ""},
      {"100000", 800, 600, {24, 24, 450, 300}, wsNormal, bsDialog, false, false, ""},
      {"030000", 800, 600, {24, 24, 960, 720}, wsNormal, bsSizeable, false, false, ""},
      {"000011x", 640, 480, {320, 272, 640, 480}, wsNormal, bsDialog, false, true, ""},
      {"1", 800, 600, {415, 362, 450, 300}, wsMaximized, bsDialog, false, false, "'' is not a valid integer value"},
      {"2x0000", 800, 600, {415, 362, 450, 300}, wsMinimized, bsDialog, false, false, "'x' is not a valid integer value"},
  };
  for (auto& c : cases) {
    // Each case starts from the login dialog.
    Form->SetBorderStyle(bsSizeable);
    Form->ShowLoginPage();
    auto r = Call(u"WindowResize", {I(c.w), I(c.h), Variant::StrA(c.state)});
    EXPECT_EQ(r.error, c.error) << c.state;
    EXPECT_EQ(Form->Bounds(), c.bounds) << c.state;
    EXPECT_EQ(Window().WindowState, c.ws) << c.state;
    EXPECT_EQ(Form->BorderStyle(), c.border) << c.state;
    EXPECT_EQ(Form->StatusBar1->Visible(), c.statusBar) << c.state;
    EXPECT_EQ(!(Browser().HostFlags & hostflag::ScrollNo), c.pageScroll) << c.state;
    EXPECT_EQ(Form->Position(), c.error.empty() ? poDesigned : Form->Position()) << c.state;
  }
  // All three arguments convert before the window is touched.
  TWindowState before = Window().WindowState;
  auto r = Call(u"WindowResize", {S(u"a"), I(600), S(u"100000")});
  EXPECT_EQ(r.error, "Could not convert variant of type (OleStr) into type (Boolean)");
  EXPECT_EQ(Window().WindowState, before);
  // A hidden window cannot take the focus: the size is set, then the failure.
  Form->Hide();
  r = Call(u"WindowResize", {I(500), I(400), S(u"000000")});
  EXPECT_EQ(r.error, "Cannot focus a disabled or invisible window");
  EXPECT_EQ(Form->Width(), 500);
}

TEST_F(Bridge, ConfigurationMembers) {
  auto saved = Call(u"SaveConfig", {S(u"pages.ini"), S(u"general,Name=开票点#general,Port=8080#"), I(1)});
  EXPECT_EQ(saved.hr, S_OK);
  EXPECT_EQ(Slurp(Path("pages.ini")), "[general]\r\nName=v6rGsbXj\r\nPort=ODA4MA==\r\n");
  auto loaded = Call(u"LoadConfig", {S(u"pages.ini"), Variant::Bool(true)});
  EXPECT_EQ(loaded.value.Type(), varOleStr);
  EXPECT_EQ(WideToUtf8(loaded.value.AsStrRaw()), "#general,Name=开票点#general,Port=8080");
  EXPECT_EQ(WideToUtf8(Call(u"LoadConfig", {S(u"pages.ini"), I(0)}).value.AsStrRaw()),
            "#general,Name=v6rGsbXj#general,Port=ODA4MA==");
  EXPECT_EQ(Call(u"SaveConfig", {S(u"plain.ini"), S(u"s,k=8080#"), Variant::Bool(true)}).hr, S_OK);
  EXPECT_EQ(Slurp(Path("plain.ini")), "[s]\r\nk=8080\r\n");
  EXPECT_TRUE(Call(u"LoadConfig", {S(u"missing.ini"), I(1)}).value.AsStrRaw().empty());

  auto failed = Call(u"LoadConfig", {Variant::Null(), I(0)});
  EXPECT_EQ(failed.hr, DISP_E_EXCEPTION);
  EXPECT_TRUE(failed.value.IsEmpty());

  EXPECT_EQ(WideToUtf8(Call(u"GetAppPath").value.AsStrRaw()), Dir.string() + "/");
}

TEST_F(Bridge, WindowAndProgramMembers) {
  EXPECT_EQ(Call(u"MessageBox", {I(42)}).hr, S_OK);
  ASSERT_EQ(Headless().Boxes.size(), 1u);
  EXPECT_EQ(Headless().Boxes[0].Text, "42");
  EXPECT_EQ(Headless().Boxes[0].Caption, "Lumetra");
  EXPECT_EQ(Headless().Boxes[0].Flags & mb::IconMask, 0u);

  EXPECT_EQ(Call(u"Navigate", {S(u"http://127.0.0.1:8080/发票?a=1")}).hr, S_OK);
  EXPECT_EQ(Browser().Navigations.back(), u"http://127.0.0.1:8080/发票?a=1");

  EXPECT_EQ(Call(u"SetCloseHandler", {S(u"onClose")}).hr, S_OK);
  EXPECT_EQ(Form->FCloseHandler, "onClose");
  EXPECT_EQ(Call(u"SetCloseHandler", {S(u"")}).hr, S_OK);
  EXPECT_EQ(Form->FCloseHandler, "");

  EXPECT_EQ(Call(u"ClearIECache").hr, S_OK);
  ASSERT_EQ(Headless().CacheClears.size(), 1u);
  EXPECT_EQ(Headless().CacheClears[0], 0x1u | 0x4u | 0x10u | 0x20u | 0x100000u | 0x200000u);
  EXPECT_EQ(Call(u"ClearUrlHistory").hr, S_OK);
  EXPECT_EQ(Headless().HistoryClears, 1);

  EXPECT_FALSE(Application->Terminated());
  EXPECT_EQ(Call(u"ApplicationExit").hr, S_OK);
  EXPECT_EQ(Headless().HistoryClears, 2);
  EXPECT_TRUE(Application->Terminated());
}

TEST_F(Bridge, OnlyTheServersPagesAndTheProgramsOwnGetTheObject) {
  struct {
    std::string origin;
    bool gets;
  } cases[] = {{"http://127.0.0.1:8080", true},
               {"http://127.0.0.1:8081", false},
               {"https://127.0.0.1:8080", false},
               {"http://evil.example", false},
               {"file://" + Dir.string() + "/config.html", true},
               {"file://" + Dir.string() + "/sub/page.html", true},
               {"file://" + Dir.string() + "/../other.html", false},
               {"file:///etc/passwd", false},
               {"", false}};
  for (auto& c : cases) EXPECT_EQ(Browser().Events.GetExternal(c.origin) != nullptr, c.gets) << c.origin;
  // Every request gives a fresh object.
  auto a = Browser().Events.GetExternal("http://127.0.0.1:8080");
  auto b = Browser().Events.GetExternal("http://127.0.0.1:8080");
  EXPECT_NE(a, b);
}
