#include "Dialogs.h"
#include "IHTMLUtils.h"
#include "MainWindowFixture.h"
#include "SB64.h"

using Attrs = THtmlNode::Attributes;

TEST(HTMLUtils, ReadsFormsAsTheBrowserHandsThemOut) {
  auto doc = std::make_shared<HeadlessDocument>();
  auto form = doc->Root->Add("BODY")->Add("FORM", {{"name", "f"}});
  auto div = form->Add("DIV");
  div->Add("INPUT", {{"type", "text"}, {"name", "t"}, {"value", "文本"}});
  form->Add("INPUT", {{"type", "CheckBox"}, {"name", "c"}, {"value", "yes"}, {"checked", "true"}});
  form->Add("INPUT", {{"type", "radio"}, {"name", "r"}, {"value", "on"}});
  form->Add("INPUT", {{"type", "password"}, {"name", "p"}, {"value", "secret"}});
  form->Add("INPUT", {{"type", "hidden"}, {"name", "h"}, {"value", "hid"}});
  auto select = form->Add("SELECT", {{"name", "s"}, {"value", "b"}});
  form->Add("TEXTAREA", {{"name", "a"}, {"value", "line1\nline2"}});
  form->Add("INPUT", {{"type", "submit"}, {"name", "go"}});
  form->Add("INPUT", {{"type", "text"}});
  form->Add("BUTTON", {{"name", "b"}});
  form->Add("INPUT", {{"name", "dup"}});
  form->Add("INPUT", {{"name", "dup"}});
  doc->Root->Add("FORM", {{"name", "empty"}});
  auto outside = doc->Root->Add("INPUT", {{"name", "o"}});

  TIHTMLUtils utils;
  auto f = utils.GetFormByName(*doc, "f");
  ASSERT_TRUE(f);
  auto names = utils.GetFormFieldNames(*f);
  EXPECT_EQ(std::vector<std::string>(names->begin(), names->end()),
            (std::vector<std::string>{"t", "c", "r", "p", "h", "s", "a", "go", "", "dup", "dup"}));
  EXPECT_EQ(utils.GetFormFieldNames(*utils.GetFormByName(*doc, "empty"))->Count(), 0);
  EXPECT_EQ(utils.GetFormByName(*doc, "none"), nullptr);

  struct {
    const char* name;
    AnsiString value;
  } values[] = {{"t", Ansi(u8"文本")}, {"c", "checked"}, {"r", "unchecked"}, {"p", "secret"},
                {"h", "hid"},        {"s", "b"},       {"a", "line1\nline2"}, {"missing", ""}};
  for (auto& v : values) EXPECT_EQ(utils.GetFieldValue(*f, v.name), v.value) << v.name;

  // A name shared by several elements is a collection, which is no element.
  EXPECT_THROW(utils.GetFormElement(*f, "dup"), EIntfCastError);
  doc->Root->Add("FORM", {{"name", "f"}});
  EXPECT_THROW(utils.GetFormByName(*doc, "f"), EIntfCastError);

  EXPECT_EQ(utils.FindParentForm(div->Children[0]), std::static_pointer_cast<IHTMLFormElement>(form));
  EXPECT_EQ(utils.FindParentForm(outside), nullptr);
  EXPECT_EQ(utils.FindParentForm(form), nullptr) << "the element itself is not tested";
  EXPECT_EQ(utils.FindParentForm(nullptr), nullptr);
  (void)select;
}

namespace {

class ConfigPage : public MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    WriteGeneral({{"Version", "1.2.0.0"}});
    Start(true);
    Doc = std::make_shared<HeadlessDocument>();
    Page = Doc->Root->Add("BODY")->Add("FORM", {{"name", "_CONFIG_FORM"}});
    Browser().Complete(Doc);  // the first document: it gets the listener
  }
  std::shared_ptr<THtmlNode> Text(const std::string& name, const std::string& value) {
    return Page->Add("INPUT", {{"type", "text"}, {"name", name}, {"value", value}});
  }
  std::shared_ptr<THtmlNode> Button(std::shared_ptr<THtmlNode> where, const std::string& type = "button",
                                    const std::string& tag = "INPUT", const std::string& name = "_CONFIG_SAVE_BUTTON") {
    return where->Add(tag, {{"type", type}, {"name", name}});
  }
  void FillRequired() {
    for (auto [k, v] : {std::pair{"ServerURL", "127.0.0.1"}, {"ServerPort", "8080"}, {"LoginPageURI", "/l"},
                        {"IndexPageURI", "/i"}})
      Text(k, v);
  }
  std::string Ini() { return Slurp(Path("Corvane.ini")); }
  std::vector<std::string> BoxTexts() {
    std::vector<std::string> out;
    for (auto& b : Headless().Boxes) out.push_back(AnsiToUtf8(b.Text));
    return out;
  }
  std::shared_ptr<HeadlessDocument> Doc;
  std::shared_ptr<THtmlNode> Page;
};

const std::string kSaved = "系统参数保存成功，程序重启后配置参数生效。\n\r\n\r点击“OK”按钮后将退出程序，请重新启动。";

}  // namespace

TEST_F(ConfigPage, SavingACompleteConfigurationEndsTheProgram) {
  FillRequired();
  auto save = Button(Page);
  Doc->Fire("click", save);
  EXPECT_EQ(BoxTexts(), (std::vector<std::string>{kSaved}));
  EXPECT_TRUE(Application->Terminated());
  EXPECT_TRUE(Form->FConfigComplete);
  EXPECT_EQ(Headless().HistoryClears, 0) << "ends without the close sequence";
  EXPECT_NE(Ini().find("ServerPort=ODA4MA==\r\n"), std::string::npos);
  EXPECT_NE(Ini().find("Version=MS4yLjAuMA==\r\n"), std::string::npos) << "kept from the file";
}

TEST_F(ConfigPage, FieldKindsDecideWhatIsSaved) {
  Spit(Path("Corvane.ini"), "[general]\r\nKeep=" + TSB64().Encode("old") + "\r\n");
  Text("Keep", "");
  Text("Name", "发票");
  Page->Add("INPUT", {{"type", "CHECKBOX"}, {"name", "On"}, {"value", "x"}, {"checked", "true"}});
  Page->Add("INPUT", {{"type", "checkbox"}, {"name", "Off"}, {"value", "x"}});
  Page->Add("INPUT", {{"type", "Radio"}, {"name", "Radio"}, {"checked", "true"}});
  Page->Add("INPUT", {{"type", "password"}, {"name", "Pwd"}, {"value", "p"}});
  Page->Add("INPUT", {{"type", "hidden"}, {"name", "Hid"}, {"value", "h"}});
  Page->Add("SELECT", {{"name", "Sel"}, {"value", "opt2"}});
  Page->Add("TEXTAREA", {{"name", "Area"}, {"value", "a#b=c"}});
  Page->Add("INPUT", {{"type", "text"}, {"value", "no name"}});
  Doc->Fire("click", Button(Page, "submit"));
  const std::string ini = Ini();
  struct {
    const char* key;
    std::string stored;  // "" when the key must not be there
  } expect[] = {{"Keep", TSB64().Encode("old")},
                {"Name", TSB64().Encode(Ansi(u8"发票"))},
                {"On", TSB64().Encode("checked")},
                {"Off", TSB64().Encode("unchecked")},
                {"Radio", TSB64().Encode("checked")},
                {"Pwd", ""},
                {"Hid", ""},
                {"Sel", TSB64().Encode("opt2")},
                {"Area", TSB64().Encode("a#b=c")},
                {"_CONFIG_SAVE_BUTTON", ""}};
  for (auto& e : expect) {
    auto at = ini.find(std::string("\n") + e.key + "=");
    if (e.stored.empty()) {
      EXPECT_EQ(at, std::string::npos) << e.key;
    } else {
      EXPECT_NE(ini.find(std::string(e.key) + "=" + e.stored + "\r\n"), std::string::npos) << e.key;
    }
  }
  EXPECT_EQ(ini.find("\n="), std::string::npos) << "nothing under an empty key";
  EXPECT_EQ(BoxTexts(), (std::vector<std::string>{kSaved, "配置参数不完整，请重新配置。"}));
  EXPECT_FALSE(Application->Terminated());
}

TEST_F(ConfigPage, OnlyTheMarkedSaveButtonSaves) {
  FillRequired();
  auto other = Page->Parent.lock()->Add("FORM", {{"name", "other"}});
  struct {
    const char* what;
    std::shared_ptr<THtmlNode> button;
    bool saves;
  } cases[] = {
      {"outside every form", Button(Page->Parent.lock()), false},
      {"in a form of another name", Button(other), false},
      {"a BUTTON element", Button(Page, "button", "BUTTON"), false},
      {"name in other letters", Button(Page, "button", "INPUT", "_config_save_button"), false},
      {"a text field of that name", Button(Page, "text"), false},
      {"type written SUBMIT", Button(Page, "SUBMIT"), true},
      {"type written Button", Button(Page, "Button"), true},
  };
  for (auto& c : cases) {
    Headless().Boxes.clear();
    Doc->Fire("click", c.button);
    EXPECT_EQ(!Headless().Boxes.empty(), c.saves) << c.what;
  }
}

TEST_F(ConfigPage, PagesWithoutTheMarksAreReported) {
  Page->Attrs["name"] = "renamed";
  Doc->Fire("click", Button(Page));
  EXPECT_TRUE(Headless().Boxes.empty()) << "the button is not in the marked form";

  // The marked form exists but another document is shown: the listener stays with the first.
  auto later = std::make_shared<HeadlessDocument>();
  auto laterForm = later->Root->Add("FORM", {{"name", "_CONFIG_FORM"}});
  Headless().Of(*Form->EWB).Complete(later);
  later->Fire("click", Button(laterForm));
  EXPECT_TRUE(Headless().Boxes.empty());

  // Clicked in the first document, read from the shown one: no form there. Nothing is
  // written, and the completeness test still follows.
  Page->Attrs["name"] = "_CONFIG_FORM";
  laterForm->Attrs["name"] = "x";
  const std::string incomplete = "配置参数不完整，请重新配置。";
  Doc->Fire("click", Button(Page));
  EXPECT_EQ(BoxTexts(), (std::vector<std::string>{
                            "在当前界面没有找到配置表单标记，配置界面可能有错，请与我们的技术支持人员联系。", incomplete}));
  laterForm->Attrs["name"] = "_CONFIG_FORM";
  laterForm->Children.clear();
  Headless().Boxes.clear();
  Doc->Fire("click", Button(Page));
  EXPECT_EQ(BoxTexts(), (std::vector<std::string>{
                            "当前界面没有找到配置项，配置界面可能有错，请与我们的技术支持人员联系。", incomplete}));
}

TEST_F(ConfigPage, AnErrorDuringTheSaveWritesNothingFurther) {
  const std::string before = Ini();
  Text("Shared", "a");
  Text("Shared", "b");
  Text("ServerURL", "127.0.0.1");
  Doc->Fire("click", Button(Page));
  ASSERT_EQ(Headless().Boxes.size(), 1u);
  EXPECT_NE(BoxTexts()[0].find("保存配置时出错"), std::string::npos);
  EXPECT_EQ(Headless().Boxes[0].Flags & mb::IconMask, mb::IconStop);
  EXPECT_EQ(Ini(), before);
  EXPECT_FALSE(Application->Terminated());
}

TEST_F(ConfigPage, AnyKeyOnASubmitButtonSubmitsItsForm) {
  auto submit = Page->Add("INPUT", {{"type", "submit"}, {"name", "go"}});
  auto text = Text("t", "x");
  Doc->Fire("keypress", text);
  EXPECT_TRUE(Doc->Submits.empty());
  Doc->Fire("keypress", submit);
  EXPECT_EQ(Doc->Submits, (std::vector<std::string>{"_CONFIG_FORM"}));
  auto loose = Doc->Root->Add("INPUT", {{"type", "submit"}});
  Doc->Fire("keypress", loose);  // no form: nothing, and no failure
  EXPECT_EQ(Doc->Submits.size(), 1u);
  EXPECT_TRUE(Headless().Boxes.empty());
}
