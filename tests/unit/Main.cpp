#include "Support.h"

#include <cstdlib>
#include <unistd.h>

THeadlessWidgetset& Headless() {
  static THeadlessWidgetset ws;
  return ws;
}

std::string Slurp(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  if (!in) return "<missing>";
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void Spit(const std::filesystem::path& p, const std::string& bytes) {
  std::ofstream(p, std::ios::binary | std::ios::trunc) << bytes;
}

void ProgramFolder::SetUp() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "lumetra-test-XXXXXX").string();
  ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
  Dir = tmpl;
  *Application = TApplication();
  Application->ExeName = (Dir / "lumetra").string();
  Application->Title = "Lumetra";
  Headless().Reset();
}

void ProgramFolder::TearDown() {
  std::error_code ec;
  std::filesystem::permissions(Dir, std::filesystem::perms::owner_all, ec);
  std::filesystem::remove_all(Dir, ec);
}

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  UseWidgetset(&Headless());
  return RUN_ALL_TESTS();
}
