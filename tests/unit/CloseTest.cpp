#include "Dialogs.h"
#include "MainWindowFixture.h"

namespace {

class Closing : public MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    WriteGeneral({{"Version", "1"}, {"ServerURL", "h"}, {"ServerPort", "1"}, {"IndexPageURI", "/i"}, {"LoginPageURI", "/l"}});
    Start(true);
    Doc = std::make_shared<HeadlessDocument>();
    Browser().Complete(Doc);
  }
  // The page's close handler, named "onClose", answering with f.
  void Handler(std::function<Variant(const std::vector<Variant>&)> f) {
    Doc->ScriptObj->Functions = {{u"onClose", std::move(f)}};
    Form->SetCloseHandler("onClose");
  }
  // The user closes the window: did it close?
  bool UserCloses() { return Headless().Of(*Form).Events.CloseRequested(); }

  std::shared_ptr<HeadlessDocument> Doc;
};

}  // namespace

TEST_F(Closing, WithoutAHandlerTheWindowClosesAndHistoryIsCleared) {
  EXPECT_TRUE(UserCloses());
  EXPECT_TRUE(Application->Terminated());
  EXPECT_EQ(Headless().HistoryClears, 1);
  EXPECT_EQ(Doc->ScriptObj->Calls, 0);
  EXPECT_TRUE(Headless().Boxes.empty());
}

TEST_F(Closing, ThePageDecidesByWhatItReturns) {
  struct {
    const char* what;
    Variant returned;
    bool closes;
    std::string box;
  } cases[] = {
      {"1", Variant::Int(1), true, ""},
      {"\"1\"", Variant::Str(u"1"), true, ""},
      {"1.0", Variant::Dbl(1.0), true, ""},
      {"nothing", Variant(), false, ""},
      {"0", Variant::Int(0), false, ""},
      {"true", Variant::Bool(true), false, ""},
      {"\"abc\"", Variant::Str(u"abc"), false, "Could not convert variant of type (OleStr) into type (Boolean)"},
      {"null", Variant::Null(), false, "Could not convert variant of type (Null) into type (Integer)"},
  };
  for (auto& c : cases) {
    *Application = TApplication();
    Application->Title = "Lumetra";
    Application->MainForm = Form.get();
    Headless().Reset();
    std::vector<Variant> seen;
    Handler([&](const std::vector<Variant>& args) {
      seen = args;
      return c.returned;
    });
    EXPECT_EQ(UserCloses(), c.closes) << c.what;
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].Type(), varInteger);
    EXPECT_EQ(seen[0].AsIntRaw(), 0);
    EXPECT_EQ(Headless().HistoryClears, c.closes ? 1 : 0) << c.what;
    if (c.box.empty()) {
      EXPECT_TRUE(Headless().Boxes.empty()) << c.what;
    } else {
      ASSERT_EQ(Headless().Boxes.size(), 1u) << c.what;
      EXPECT_EQ(Headless().Boxes[0].Text, c.box);
      EXPECT_EQ(Headless().Boxes[0].Caption, "Lumetra");
      EXPECT_EQ(Headless().Boxes[0].Flags, mb::OK | mb::IconStop);
    }
  }
}

TEST_F(Closing, PageFailuresShowTheErrorBoxAndTheWindowStays) {
  Form->SetCloseHandler("notThere");
  EXPECT_FALSE(UserCloses());
  ASSERT_EQ(Headless().Boxes.size(), 1u);
  EXPECT_EQ(Headless().Boxes[0].Text, "This object does not support this method.");

  Handler([](const std::vector<Variant>&) -> Variant { throw TExcepInfo{u"TypeError", u"x is not defined", 0}; });
  EXPECT_FALSE(UserCloses());
  ASSERT_EQ(Headless().Boxes.size(), 2u);
  EXPECT_EQ(Headless().Boxes[1].Text, "Method call unsuccessful. x is not defined (TypeError).");
  EXPECT_FALSE(Application->Terminated());

  // No document: the window stays, without a word.
  Headless().Of(*Form->EWB).Doc.reset();
  EXPECT_FALSE(UserCloses());
  EXPECT_EQ(Headless().Boxes.size(), 2u);
}

TEST_F(Closing, OtherEndsDoNotAskThePage) {
  Handler([](const std::vector<Variant>&) { return Variant::Int(0); });
  Form->ApplicationExit();
  EXPECT_TRUE(Application->Terminated());
  EXPECT_EQ(Doc->ScriptObj->Calls, 0);
  EXPECT_EQ(Headless().HistoryClears, 1);
}

TEST_F(Closing, SessionEndGetsTheSameAnswerAndSkipsTheClose) {
  auto& events = Headless().Of(*Form).Events;
  Handler([](const std::vector<Variant>&) { return Variant::Int(0); });
  EXPECT_FALSE(events.QueryEndSession());
  Handler([](const std::vector<Variant>&) { return Variant::Int(1); });
  Application->TerminateChecks.push_back([] { return false; });
  EXPECT_FALSE(events.QueryEndSession()) << "a terminate check refuses";
  Application->TerminateChecks.clear();
  EXPECT_TRUE(events.QueryEndSession());
  EXPECT_FALSE(Application->Terminated());
  Application->EndSession();
  EXPECT_TRUE(Application->Terminated());
  EXPECT_EQ(Headless().HistoryClears, 0);
}
