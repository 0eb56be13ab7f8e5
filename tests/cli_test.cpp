// The arcfold tool as scripts use it.
#include <gtest/gtest.h>

#include "test_util.h"

using testutil::Quote;
using testutil::Sh;

namespace {
const std::string kTool = ARCFOLD_CLI;

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    zip = dir / "t.zip";
    testutil::WriteFile(zip, testutil::BuildZip({{.name = "docs/", .data = "", .external = 0x10},
                                                 {.name = "docs/a.txt", .data = "alpha", .method = 8},
                                                 {.name = "b.log", .data = "beta"},
                                                 {.name = "\x82t\x82.txt", .data = "cp437"}}));
  }
  int Tool(const std::string& args, std::string* out = nullptr) {
    return Sh(Quote(kTool) + " " + args + " </dev/null 2>&1", out);
  }
  testutil::TempDir dir;
  std::string zip;
};
}  // namespace

TEST_F(CliTest, ListPlainAndJson) {
  std::string out;
  ASSERT_EQ(Tool("list " + Quote(zip), &out), 0);
  EXPECT_NE(out.find("docs/a.txt"), std::string::npos);
  EXPECT_NE(out.find("été.txt"), std::string::npos);  // CP437 by default
  EXPECT_NE(out.find("4 item(s)"), std::string::npos);
  out.clear();
  ASSERT_EQ(Tool("list --json " + Quote(zip) + " '*.txt'", &out), 0);
  EXPECT_NE(out.find("\"name\": \"docs/a.txt\""), std::string::npos);
  EXPECT_EQ(out.find("b.log"), std::string::npos);
  out.clear();
  ASSERT_EQ(Tool("list --codepage 1252 " + Quote(zip), &out), 0);
  EXPECT_NE(out.find("\xE2\x80\x9A" "t"), std::string::npos);  // 0x82 is a low quote in 1252
}

TEST_F(CliTest, ExtractMasksExcludesAndOverwrite) {
  std::string d = dir / "out";
  ASSERT_EQ(Tool("extract " + Quote(zip) + " -d " + Quote(d) + " -x '*.log'"), 0);
  EXPECT_EQ(testutil::ReadFile(d + "/docs/a.txt"), "alpha");
  EXPECT_FALSE(testutil::Exists(d + "/b.log"));
  testutil::WriteFile(d + "/docs/a.txt", "local");
  ASSERT_EQ(Tool("extract " + Quote(zip) + " -d " + Quote(d)), 0);  // no terminal: never overwrite
  EXPECT_EQ(testutil::ReadFile(d + "/docs/a.txt"), "local");
  ASSERT_EQ(Tool("extract -o " + Quote(zip) + " -d " + Quote(d) + " 'docs/*'"), 0);
  EXPECT_EQ(testutil::ReadFile(d + "/docs/a.txt"), "alpha");
}

TEST_F(CliTest, FailuresGiveNonZeroStatusAndSummary) {
  testutil::WriteFile(zip, testutil::BuildZip({{.name = "bad.txt", .data = "x", .crc = 1},
                                               {.name = "good.txt", .data = "y"}}));
  std::string out;
  EXPECT_EQ(Tool("test " + Quote(zip), &out), 1);
  EXPECT_NE(out.find("bad.txt: Invalid size or check sum"), std::string::npos) << out;
  out.clear();
  EXPECT_EQ(Tool("extract -k " + Quote(zip) + " -d " + Quote(dir / "o"), &out), 1);
  EXPECT_TRUE(testutil::Exists(dir / "o/good.txt"));
  EXPECT_FALSE(testutil::Exists(dir / "o/bad.txt"));
}

TEST_F(CliTest, BadInputIsAOneLineError) {
  std::string out;
  testutil::WriteFile(dir / "junk.zip", std::string(5000, 'j'));
  EXPECT_EQ(Tool("list " + Quote(dir / "junk.zip"), &out), 2);
  EXPECT_EQ(out, "arcfold: Invalid archive file. - Native error: 00035\n");
  out.clear();
  EXPECT_EQ(Tool("list " + Quote(dir / "missing.zip"), &out), 2);
  EXPECT_NE(out.find("no such archive"), std::string::npos);
  out.clear();
  EXPECT_NE(Tool("list --codepage 99999 " + Quote(zip), &out), 0);
}
