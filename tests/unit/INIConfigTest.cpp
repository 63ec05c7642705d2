#include "Dialogs.h"
#include "INIConfig.h"
#include "SB64.h"
#include "SysUtils.h"
#include "Support.h"

#include <map>

namespace {

std::string B64(const std::string& s) { return TSB64().Encode(s); }

// A Corvane.ini with the given keys of "general", each stored Base64-encoded.
std::string GeneralIni(const std::map<std::string, std::string>& values) {
  std::string out = "[general]\r\n";
  for (auto& [k, v] : values) out += k + "=" + B64(v) + "\r\n";
  return out;
}

const std::map<std::string, std::string> kComplete = {
    {"Version", "1.2.0.0"},
    {"ServerURL", "127.0.0.1"},
    {"ServerPort", "8080"},
    {"IndexPageURI", "/tavreq/login/home.html"},
    {"LoginPageURI", "/tavreq/login/init.html"},
    {"LogoutPageURI", "/tavreq/login/Logout.html"},
    {"skin", ""},
};

class INIConfig : public ProgramFolder {
 protected:
  void WriteIni(const std::string& bytes) { Spit(Path("Corvane.ini"), bytes); }
  std::string Ini() { return Slurp(Path("Corvane.ini")); }
};

}  // namespace

TEST_F(INIConfig, MissingFileIsReportedAndTheApplicationEnds) {
  TINIConfig config;
  EXPECT_FALSE(config.Opened());
  ASSERT_EQ(Headless().Boxes.size(), 1u);
  EXPECT_EQ(Headless().Boxes[0].Text, Ansi(u8"未找到配置文件，应用程序已经损坏，请卸载后重新安装！"));
  EXPECT_EQ(Headless().Boxes[0].Caption, "Lumetra");
  EXPECT_EQ(Headless().Boxes[0].Flags, mb::OK | mb::Accelerators);  // the framework's simple message
  EXPECT_TRUE(Application->Terminated());
  EXPECT_EQ(AppDir, Dir.string() + "/");

  // Such an object fails nothing and writes nothing.
  EXPECT_FALSE(config.IsComplete());
  EXPECT_EQ(config.GetServerPort(), "\xF3\x4F\x34");
  TStringList s, k, v;
  s.Add("general"), k.Add("ServerPort"), v.Add("1");
  EXPECT_FALSE(config.WriteConfigItems(s, k, v));
  EXPECT_EQ(config.LoadConfigString("other.ini", 1), "");
  EXPECT_FALSE(config.SaveConfigString("other.ini", "#general,a=b#", 0));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Dir), {}), 0);
}

TEST_F(INIConfig, SettingsDecodeAndFallBack) {
  WriteIni("[general]\r\nServerURL=" + B64(Ansi(u8"发票.example")) + "\r\nskin=not base64!\r\nSkey=abc\r\n");
  TINIConfig config;
  ASSERT_TRUE(config.Opened());
  EXPECT_TRUE(Headless().Boxes.empty());
  EXPECT_EQ(config.GetServerURL(), Ansi(u8"发票.example"));
  EXPECT_EQ(config.GetSkin(), "");              // does not decode: read as empty
  EXPECT_EQ(config.GetVersion(), "");           // "1.2.0.0" holds dots
  EXPECT_EQ(config.GetServerPort(), "\xF3\x4F\x34");  // "8080" decodes to bytes
  EXPECT_EQ(config.GetLoginPageURI(), "");
  EXPECT_EQ(SkeyText, "abc");
  WriteIni("[general]\r\n");
  TINIConfig again;
  EXPECT_EQ(SkeyText, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/");
}

TEST_F(INIConfig, IsCompleteNeedsTheFiveRequiredValues) {
  struct {
    const char* dropped;
    bool complete;
  } cases[] = {{"", true},           {"Version", false},      {"ServerURL", false},
               {"LoginPageURI", false}, {"IndexPageURI", false}, {"ServerPort", true},
               {"LogoutPageURI", true}, {"skin", true}};
  for (auto& c : cases) {
    auto values = kComplete;
    values.erase(c.dropped);
    WriteIni(GeneralIni(values));
    EXPECT_EQ(TINIConfig().IsComplete(), c.complete) << "without " << c.dropped;
  }
  auto values = kComplete;
  values["Version"] = "";
  WriteIni(GeneralIni(values));
  EXPECT_FALSE(TINIConfig().IsComplete()) << "empty value";
}

TEST_F(INIConfig, BuildPageURL) {
  struct {
    const char *url, *port, *page, *want;
  } cases[] = {
      {"127.0.0.1", "8080", "/tavreq/login/init.html", "http://127.0.0.1:8080/tavreq/login/init.html"},
      {"http://host", "80", "/p", "http://host:80/p"},
      {"HTTP://Host", "80", "/p", "HTTP://Host:80/p"},
      {"host/", "80", "/p", "http://host/:80/p"},
      {"host:81", "80", "/p", "http://host:81:80/p"},
      {"https://host", "443", "/p", "http://https://host:443/p"},
      {"x.http://y", "1", "/p", "x.http://y:1/p"},
      {"host", "80", "p", "http://host:80/p"},
      {"host", "80", "", "http://host:80"},
      {"host", "", "/p", "http://host/p"},
  };
  for (auto& c : cases) {
    WriteIni(GeneralIni({{"ServerURL", c.url}, {"ServerPort", c.port}}));
    EXPECT_EQ(TINIConfig().BuildPageURL(c.page), c.want) << c.url << " " << c.port << " " << c.page;
  }
}

TEST_F(INIConfig, WriteConfigItems) {
  WriteIni("; keep me\r\n[general]\r\nVersion=old\r\n");
  TINIConfig config;
  TStringList s, k, v;
  EXPECT_TRUE(config.WriteConfigItems(s, k, v));
  s.Add("general"), s.Add("general");
  k.Add("Version"), k.Add("ServerPort");
  v.Add("1.2.0.0"), v.Add("8080");
  TStringList three = v;
  three.Add("extra");
  EXPECT_FALSE(config.WriteConfigItems(s, k, three));
  ASSERT_EQ(Headless().Boxes.size(), 1u);
  EXPECT_EQ(Headless().Boxes[0].Text, Ansi(u8"要保存的配置参数格式不正确，三个部分的数量不相等！"));
  EXPECT_EQ(Ini(), "; keep me\r\n[general]\r\nVersion=old\r\n");

  EXPECT_TRUE(config.WriteConfigItems(s, k, v));
  EXPECT_EQ(Ini(), "; keep me\r\n[general]\r\nVersion=MS4yLjAuMA==\r\nServerPort=ODA4MA==\r\n");
  EXPECT_EQ(config.GetServerPort(), "8080");

  // A write that fails raises; what came before it stays written.
  s.Add("bad]section"), k.Add("x"), v.Add("y");
  v.Clear(), v.Add("2"), v.Add("9090"), v.Add("y");
  EXPECT_THROW(config.WriteConfigItems(s, k, v), EIniFileException);
  EXPECT_EQ(config.GetServerPort(), "9090");
}

TEST_F(INIConfig, SaveConfigStringSplitsItemsAtTheirClosingHash) {
  struct {
    const char* what;
    std::string items;
    int encode;
    bool result;
    std::string file;  // "general" section after the call
  } cases[] = {
      {"no hash writes nothing", "general,ServerPort=1", 1, false, "<missing>"},
      {"item closed by hash", "general,ServerPort=1#", 0, true, "[general]\r\nServerPort=1\r\n"},
      {"load format: last item ignored", "#general,a=1#general,b=2", 0, true, "[general]\r\na=1\r\n"},
      {"empty items skipped; empty section is the unnamed one", "##,,==#", 0, true, ",==\r\n"},
      {"only a hash", "#", 0, true, "<missing>"},
      {"value keeps = and ,", "general,k=a=b,c#", 0, true, "[general]\r\nk=a=b,c\r\n"},
      {"key keeps a comma", "general,k,x=1#", 0, true, "[general]\r\nk,x=1\r\n"},
      {"no comma or no = skipped", "general#general,k#ok,k=1#", 0, true, "[ok]\r\nk=1\r\n"},
      {"encode 1", "general,k=8080#", 1, true, "[general]\r\nk=ODA4MA==\r\n"},
      {"encode -1 (script true) stores plain", "general,k=8080#", -1, true, "[general]\r\nk=8080\r\n"},
      {"encode 2 stores plain", "general,k=8080#", 2, true, "[general]\r\nk=8080\r\n"},
  };
  WriteIni("[general]\r\n");
  for (auto& c : cases) {
    std::filesystem::remove(Path("x.ini"));
    TINIConfig config;
    EXPECT_EQ(config.SaveConfigString("x.ini", c.items, c.encode), c.result) << c.what;
    EXPECT_EQ(Slurp(Path("x.ini")), c.file) << c.what;
  }
}

TEST_F(INIConfig, SaveConfigStringStopsAtAFailedWrite) {
  WriteIni("[general]\r\n");
  TINIConfig config;
  EXPECT_FALSE(config.SaveConfigString("x.ini", "s,a=1#s,b=two\nlines#s,c=3#", 0));
  EXPECT_EQ(Slurp(Path("x.ini")), "[s]\r\na=1\r\n");
  EXPECT_FALSE(config.SaveConfigString("no-such-folder/x.ini", "s,a=1#", 0));
}

TEST_F(INIConfig, LoadConfigStringListsEverySectionAndKey) {
  WriteIni("[general]\r\nSkey=ABCD\r\nServerPort=ODA4MA==\r\n");
  Spit(Path("pages.ini"), "[general]\r\nServerPort=ODA4MA==\r\nSame=ABCD\r\n[Other]\r\nk=MQ==\r\nbad=!\r\n");
  TINIConfig config;
  EXPECT_EQ(config.LoadConfigString("pages.ini", 0), "#general,ServerPort=ODA4MA==#general,Same=ABCD#Other,k=MQ==#Other,bad=!");
  const std::string decoded = "#general,ServerPort=8080#general,Same=ABCD#Other,k=1#Other,bad=";
  EXPECT_EQ(config.LoadConfigString("pages.ini", 1), decoded);
  EXPECT_EQ(config.LoadConfigString("pages.ini", -1), decoded);
  EXPECT_EQ(config.LoadConfigString("missing.ini", 1), "");
  EXPECT_EQ(config.LoadConfigString(Path("pages.ini"), 0).substr(0, 9), "#general,");
  EXPECT_EQ(config.LoadConfigString("Corvane.ini", 1), "#general,Skey=ABCD#general,ServerPort=8080");
}

TEST_F(INIConfig, ConfigurationStringsRoundTrip) {
  WriteIni(GeneralIni(kComplete));
  const AnsiString chinese = Ansi(u8"开票点,一号=甲");
  TINIConfig config;
  ASSERT_TRUE(config.SaveConfigString("Corvane.ini", "#general,Name=" + chinese + "#", 1));
  EXPECT_NE(Ini().find("Name=" + B64(chinese) + "\r\n"), std::string::npos);
  AnsiString loaded = config.LoadConfigString("Corvane.ini", 1);
  EXPECT_NE(AnsiToUtf8(loaded).find("#general,Name=开票点,一号=甲"), std::string::npos);
  // What LoadConfigString gives, with "#" appended, writes the same file again.
  std::string before = Ini();
  EXPECT_TRUE(config.SaveConfigString("Corvane.ini", loaded + "#", 1));
  EXPECT_EQ(Ini(), before);
  // Relative names with a folder go under the program folder when saving.
  std::filesystem::create_directory(Dir / "sub");
  EXPECT_TRUE(config.SaveConfigString("sub/x.ini", "s,k=v#", 0));
  EXPECT_EQ(Slurp(Dir / "sub" / "x.ini"), "[s]\r\nk=v\r\n");
  EXPECT_TRUE(config.SaveConfigString(Path("abs.ini"), "s,k=v#", 0));
  EXPECT_EQ(Slurp(Path("abs.ini")), "[s]\r\nk=v\r\n");
}

TEST_F(INIConfig, HugeAndOddConfigurationStrings) {
  WriteIni("[general]\r\n");
  TINIConfig config;
  std::string mega(1 << 20, 'x');
  EXPECT_TRUE(config.SaveConfigString("big.ini", "s,k=" + mega + "#s,k2=" + mega + "#", 1));
  AnsiString back = config.LoadConfigString("big.ini", 1);
  // Values come back through the 2047-byte read: 2047 Base64 characters carry 1535 bytes.
  EXPECT_EQ(back, "#s,k=" + std::string(1535, 'x') + "#s,k2=" + std::string(1535, 'x'));
  std::string manyHashes(1 << 20, '#');
  EXPECT_TRUE(config.SaveConfigString("hash.ini", manyHashes, 1));
  EXPECT_EQ(Slurp(Path("hash.ini")), "<missing>");
}
