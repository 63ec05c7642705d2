#include "IniFiles.h"
#include "ProfileFile.h"
#include "SysUtils.h"
#include "Support.h"

#include <sys/stat.h>

using profile::ReadKeyNames;
using profile::ReadSectionNames;
using profile::ReadString;
using profile::WriteString;
using Names = std::vector<std::string>;

class ProfileFile : public ProgramFolder {
 protected:
  std::string Ini(const std::string& bytes) {
    Spit(Path("t.ini"), bytes);
    return Path("t.ini");
  }
};

TEST_F(ProfileFile, ReadsByTheProfileRules) {
  auto f = Ini(
      "top=before any section\r\n"
      "[General]\r\n"
      "  Server URL  =  a b  \r\n"
      "quoted=\"  q  \"\r\n"
      "single='x'\r\n"
      "mixed=\"x'\r\n"
      "lonequote=\"\r\n"
      "inline=b ; c\r\n"
      ";hidden=1\r\n"
      "  ;alsohidden=1\r\n"
      "noequals\r\n"
      "dup=first\r\n"
      "DUP=second\r\n"
      "empty=\r\n"
      "eq=a=b=c\r\n"
      "[ general ]\r\n"
      "later=never seen\r\n"
      "[gbk]\r\n"
      "\xB0" "a=lower trail\r\n"
      "\xB0" "A=upper trail\r\n");
  struct {
    const char *section, *key, *want;
  } cases[] = {
      {"general", "server url", "a b"},
      {" GENERAL ", " Server URL ", "a b"},
      {"General", "quoted", "  q  "},
      {"General", "single", "x"},
      {"General", "mixed", "\"x'"},
      {"General", "lonequote", "\""},
      {"General", "inline", "b ; c"},
      {"General", ";hidden", "<fb>"},
      {"General", "hidden", "<fb>"},
      {"General", "noequals", "<fb>"},
      {"General", "dup", "first"},
      {"General", "empty", ""},
      {"General", "eq", "a=b=c"},
      {"General", "later", "<fb>"},  // only the first section of a name counts
      {"", "top", "before any section"},
      {"gbk", "\xB0" "a", "lower trail"},
      {"gbk", "\xB0" "A", "upper trail"},  // a trail byte is not a letter
      {"missing", "top", "<fb>"},
  };
  for (auto& c : cases) EXPECT_EQ(ReadString(f, c.section, c.key, "<fb>"), c.want) << c.section << "/" << c.key;
  EXPECT_EQ(ReadSectionNames(f), (Names{"General", "general", "gbk"}));
  EXPECT_EQ(ReadKeyNames(f, "GENERAL"),
            (Names{"Server URL", "quoted", "single", "mixed", "lonequote", "inline", "dup", "DUP", "empty", "eq"}));
  EXPECT_EQ(ReadString(Path("absent.ini"), "a", "b", "fb"), "fb");
}

TEST_F(ProfileFile, CutsValuesAndListsAsTheBuffersDo) {
  std::string big(5000, 'v');
  auto f = Ini("[s]\nbig=" + big + "\nq=\"" + std::string(3000, 'w') + "\"\n");
  EXPECT_EQ(ReadString(f, "s", "big", ""), std::string(2047, 'v'));
  EXPECT_EQ(ReadString(f, "s", "q", ""), std::string(2047, 'w'));
  EXPECT_EQ(ReadString(f, "s", "none", big), std::string(2047, 'v'));

  // Names of 9 bytes take 10 each; 16384 bytes hold 1638 of them and the start of the next.
  std::string many;
  for (int i = 0; i < 2000; ++i) many += Format("[sect%05d]\n", i);
  auto g = Ini(many);
  auto sections = ReadSectionNames(g);
  ASSERT_EQ(sections.size(), 1639u);
  EXPECT_EQ(sections[1637], "sect01637");
  EXPECT_EQ(sections[1638], "se");
  EXPECT_EQ(ReadSectionNames(g, 13), (Names{"sect00000", "s"}));
}

TEST_F(ProfileFile, WritesKeepEveryOtherByte) {
  const std::string original =
      "\xEF\xBB\xBF; settings\r\n"
      "[general]\r\n"
      "Version = old \r\n"
      "Other=1\n"
      "\r\n"
      "[next]\r"
      "x=\xFF\xFE junk\r\n"
      "tail without newline";
  auto f = Ini(original);
  ASSERT_TRUE(WriteString(f, "GENERAL", "version", "new"));
  ASSERT_TRUE(WriteString(f, "general", "Added", "a"));
  ASSERT_TRUE(WriteString(f, "Fresh", "k", "v"));
  EXPECT_EQ(Slurp(f),
            "\xEF\xBB\xBF; settings\r\n"
            "[general]\r\n"
            "Version=new\r\n"
            "Other=1\n"
            "Added=a\r\n"
            "\r\n"
            "[next]\r"
            "x=\xFF\xFE junk\r\n"
            "tail without newline\r\n"
            "[Fresh]\r\n"
            "k=v\r\n");
  EXPECT_EQ(ReadString(f, "general", "VERSION", ""), "new");
}

TEST_F(ProfileFile, WritesIntoFilesOfEveryShape) {
  struct {
    const char* what;
    std::string before, section, key, value, after;
  } cases[] = {
      {"no file yet", "<missing>", "general", "k", "v", "[general]\r\nk=v\r\n"},
      {"empty file", "", "general", "k", "v", "[general]\r\nk=v\r\n"},
      {"only a byte-order mark", "\xEF\xBB\xBF", "s", "k", "v", "\xEF\xBB\xBF[s]\r\nk=v\r\n"},
      {"unix line ends are kept", "[s]\na=1\n", "s", "b", "2", "[s]\na=1\nb=2\n"},
      {"last line without line end", "[s]\na=1", "s", "b", "2", "[s]\na=1\nb=2"},
      {"header is the last line", "[s]", "s", "b", "2", "[s]\r\nb=2"},
      {"first duplicate key changes", "[s]\nk=1\nK=2\n", "s", "k", "3", "[s]\nk=3\nK=2\n"},
      {"first duplicate section gets the key", "[s]\na=1\n[t]\n[S]\n", "s", "b", "2", "[s]\na=1\nb=2\n[t]\n[S]\n"},
      {"after a trailing comment", "[s]\na=1\n;c\n\n[t]\n", "s", "b", "2", "[s]\na=1\n;c\nb=2\n\n[t]\n"},
      {"unnamed section", "x=1\n[s]\n", "", "y", "2", "x=1\ny=2\n[s]\n"},
      {"NUL bytes elsewhere stay", std::string("[s]\na=\0\0\n", 9), "s", "b", "2",
       std::string("[s]\na=\0\0\nb=2\n", 13)},
  };
  for (auto& c : cases) {
    auto f = Path("shape.ini");
    std::filesystem::remove(f);
    if (c.before != "<missing>") Spit(f, c.before);
    EXPECT_TRUE(WriteString(f, c.section, c.key, c.value)) << c.what;
    EXPECT_EQ(Slurp(f), c.after) << c.what;
    EXPECT_EQ(ReadString(f, c.section, c.key, "<fb>"), c.value) << c.what;
  }
}

TEST_F(ProfileFile, RefusedWritesChangeNothing) {
  const std::string original = "[s]\na=1\n";
  auto f = Ini(original);
  struct {
    const char *section, *key, *value;
  } refused[] = {
      {"s", "a", "line\nbreak"}, {"s", "a", "cr\rhere"}, {"s\n[x]", "a", "1"}, {"s", "k=y", "1"},
      {"s", "", "1"},            {"s", "  ", "1"},       {"a]b", "k", "1"},    {"s", ";k", "1"},
      {"s", "[k", "1"},
  };
  for (auto& r : refused) EXPECT_FALSE(WriteString(f, r.section, r.key, r.value)) << r.section << "/" << r.key;
  EXPECT_EQ(Slurp(f), original);
}

TEST_F(ProfileFile, FailedWriteRaisesTheFrameworkText) {
  auto path = Path("no-such-folder/x.ini");
  TIniFile ini(path);
  try {
    ini.WriteString("s", "k", "v");
    ADD_FAILURE() << "write succeeded";
  } catch (const EIniFileException& e) {
    EXPECT_EQ(e.Message, "Unable to write to " + path);
  }
}

TEST_F(ProfileFile, FailedWriteLeavesTheOldFileWhole) {
  if (geteuid() == 0) GTEST_SKIP() << "root writes through permissions";
  auto f = Ini("[s]\na=1\n");
  chmod(Dir.c_str(), 0555);
  EXPECT_FALSE(WriteString(f, "s", "a", "2"));
  chmod(Dir.c_str(), 0755);
  EXPECT_EQ(Slurp(f), "[s]\na=1\n");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Dir), {}), 1) << "no temporary file left";
}

TEST_F(ProfileFile, EveryReadSeesTheFileAsItIsNow) {
  auto f = Ini("[s]\nk=1\n");
  EXPECT_EQ(ReadString(f, "s", "k", ""), "1");
  Spit(f, "[s]\nk=2\n");  // same size, within the same clock tick
  EXPECT_EQ(ReadString(f, "s", "k", ""), "2");
  std::filesystem::remove(f);
  EXPECT_EQ(ReadString(f, "s", "k", "gone"), "gone");
}

TEST_F(ProfileFile, BadInputReadsAndWritesByTheRules) {
  std::string garbage;
  for (int i = 0; i < 4096; ++i) garbage += static_cast<char>((i * 7919) & 0xFF);
  std::string megaLine(1 << 20, 'm');
  std::string tenThousand;
  for (int i = 0; i < 10000; ++i) tenThousand += Format("[s%d]\nk=%d\n", i, i);
  struct {
    const char* what;
    std::string bytes;
  } files[] = {
      {"binary garbage", garbage},
      {"NUL bytes", std::string("[s\0x]\nk\0=1\n[t]\nv=a\0b\n", 21)},
      {"a 1 MB line", "[t]\nv=" + megaLine + "\n"},
      {"mixed line ends", "[t]\rv=1\n[u]\r\nw=2"},
      {"10,000 sections", tenThousand},
  };
  for (auto& file : files) {
    auto f = Ini(file.bytes);
    ReadSectionNames(f);
    ReadKeyNames(f, "t");
    ReadString(f, "t", "v", "");
    ASSERT_TRUE(WriteString(f, "zz", "new", "value")) << file.what;
    std::string after = Slurp(f);
    EXPECT_EQ(after.substr(0, file.bytes.size()), file.bytes) << file.what;
    EXPECT_EQ(ReadString(f, "zz", "new", ""), "value") << file.what;
  }
  auto f = Ini("[t]\rv=1\n[u]\r\nw=2");
  EXPECT_EQ(ReadString(f, "t", "v", ""), "1");
  EXPECT_EQ(ReadString(f, "u", "w", ""), "2");
  f = Ini(std::string("[t]\nv=a\0b\n", 10));
  EXPECT_EQ(ReadString(f, "t", "v", ""), "a");
  f = Ini(tenThousand);
  EXPECT_EQ(ReadString(f, "s9999", "k", ""), "9999");
}
