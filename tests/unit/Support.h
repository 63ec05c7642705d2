// Shared fixture of the unit tests: a fresh program folder per test and the
// headless widgetset that records message boxes.
#pragma once

#include "Forms.h"
#include "headless/HeadlessWidgetset.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

THeadlessWidgetset& Headless();

// Bytes of a file, or "<missing>".
std::string Slurp(const std::filesystem::path& p);
void Spit(const std::filesystem::path& p, const std::string& bytes);

class ProgramFolder : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  std::filesystem::path Dir;           // the program folder, where Corvane.ini lies
  std::string Path(const std::string& name) const { return (Dir / name).string(); }
};
