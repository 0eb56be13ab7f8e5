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
  EXPECT_EQ(out, "arcfold: " + dir / "junk.zip" + ": not a ZIP archive (no end of central directory record)\n");
  out.clear();
  // The destination is not made for an archive that does not open.
  EXPECT_EQ(Tool("extract " + Quote(dir / "junk.zip") + " -d " + Quote(dir / "never"), &out), 2);
  EXPECT_FALSE(testutil::Exists(dir / "never"));
  out.clear();
  EXPECT_EQ(Tool("list " + Quote(dir / "missing.zip"), &out), 2);
  EXPECT_NE(out.find("no such archive"), std::string::npos);
  out.clear();
  EXPECT_NE(Tool("list --codepage 99999 " + Quote(zip), &out), 0);
}

TEST_F(CliTest, UsageErrorsExitTwoAndNameTheProblem) {
  std::string out;
  EXPECT_EQ(Tool("frobnicate " + Quote(zip), &out), 2);
  EXPECT_NE(out.find("unknown command \"frobnicate\""), std::string::npos) << out;
  out.clear();
  EXPECT_EQ(Tool("", &out), 2);
  EXPECT_NE(out.find("a command is required"), std::string::npos) << out;
  out.clear();
  EXPECT_EQ(Tool("extract " + Quote(zip) + " --no-such-option", &out), 2);
  EXPECT_NE(out.find("--no-such-option"), std::string::npos) << out;
  out.clear();
  EXPECT_EQ(Tool("--version", &out), 0);
  EXPECT_EQ(out.rfind("arcfold ", 0), 0u) << out;
}

TEST_F(CliTest, PasswordOptionWithoutAValueEncryptsOrWritesNothing) {
  const std::string file = dir / "plain.txt", secret = dir / "secret.zip";
  testutil::WriteFile(file, "to be kept secret");
  // Without a terminal there is nobody to ask: a usage error, no archive.
  for (const std::string& option : {std::string(" -p"), std::string(" -p ''")}) {
    SCOPED_TRACE(option);
    std::string out;
    EXPECT_EQ(Tool("add " + Quote(secret) + " " + Quote(file) + option, &out), 2);
    EXPECT_NE(out.find("-p: no password given"), std::string::npos) << out;
    EXPECT_FALSE(testutil::Exists(secret));
  }
  // On a terminal the password is asked twice; no answer writes nothing.
  const std::string on_terminal =
      "cd " + Quote(dir.path()) + " && python3 " + Quote(std::string(ARCFOLD_TEST_DATA) + "/../scripts/on_terminal.py");
  const std::string add = " -- " + Quote(kTool) + " add secret.zip plain.txt -p >/dev/null";
  EXPECT_EQ(Sh(on_terminal + add), 2);
  EXPECT_FALSE(testutil::Exists(secret));
  ASSERT_EQ(Sh(on_terminal + " s3cret s3cret" + add), 0);
  EXPECT_EQ(testutil::ReadFile(secret).find("to be kept secret"), std::string::npos);
  EXPECT_EQ(Sh("unzip -p -P s3cret " + Quote(secret) + " plain.txt 2>&1"), 0);
  std::string listing;
  Tool("list " + Quote(secret), &listing);
  EXPECT_NE(listing.find(" * plain.txt"), std::string::npos) << listing;
}

TEST_F(CliTest, WithoutATerminalFailedItemsAreSkippedAndListed) {
  testutil::WriteFile(zip, testutil::BuildZip({{.name = "bad1.txt", .data = "x", .crc = 1},
                                               {.name = "good.txt", .data = "y"},
                                               {.name = "bad2.txt", .data = "z", .crc = 2}}));
  std::string out;
  EXPECT_EQ(Tool("extract " + Quote(zip) + " -d " + Quote(dir / "o"), &out), 1);
  EXPECT_EQ(testutil::ReadFile(dir / "o/good.txt"), "y");
  EXPECT_NE(out.find("2 item(s) failed"), std::string::npos) << out;
  EXPECT_NE(out.find("bad1.txt"), std::string::npos);
  EXPECT_NE(out.find("bad2.txt"), std::string::npos);
  // --stop-on-error: the first failure ends the run.
  out.clear();
  EXPECT_EQ(Tool("extract --stop-on-error " + Quote(zip) + " -d " + Quote(dir / "s"), &out), 1);
  EXPECT_FALSE(testutil::Exists(dir / "s/good.txt"));
  EXPECT_NE(out.find("run aborted"), std::string::npos) << out;
}

TEST_F(CliTest, SelectionsThatFindNothingOrSkipExistingFilesSaySo) {
  std::string out;
  EXPECT_EQ(Tool("list " + Quote(zip) + " 'nothing*'", &out), 1);
  EXPECT_NE(out.find("no items match nothing*"), std::string::npos) << out;
  out.clear();
  EXPECT_EQ(Tool("test " + Quote(zip) + " 'nothing*'", &out), 1);
  std::string d = dir / "out";
  ASSERT_EQ(Tool("extract " + Quote(zip) + " -d " + Quote(d)), 0);
  out.clear();
  ASSERT_EQ(Tool("extract " + Quote(zip) + " -d " + Quote(d), &out), 0);
  EXPECT_NE(out.find("3 item(s) skipped: the file exists"), std::string::npos) << out;
}

TEST_F(CliTest, ListingShowsHeaderTotalsAndEscapedControlCharacters) {
  // A name that would clear the screen, and ZIP64 sizes that are negative as
  // signed numbers.
  std::string zip64(4, '\0');
  zip64 = std::string("\x01\x00\x10\x00", 4) + std::string("\x05\x00\x00\x00\x00\x00\x00\x00", 8) +
          std::string("\x00\x00\x00\x00\x00\x00\x00\x80", 8);
  std::string raw = testutil::BuildZip({{.name = "evil\x1b[2J.txt", .data = "x"},
                                        {.name = "big.bin", .data = "abcde", .central_extra = zip64}});
  // The second item's central sizes point at the ZIP64 field.
  size_t c2 = raw.rfind(std::string("PK\x01\x02", 4));
  for (int k = 20; k < 28; ++k) raw[c2 + k] = '\xFF';
  testutil::WriteFile(zip, raw);
  std::string out;
  EXPECT_EQ(Tool("list " + Quote(zip), &out), 0);
  EXPECT_EQ(out.find('\x1b'), std::string::npos) << out;
  EXPECT_NE(out.find("evil\\x1b[2J.txt"), std::string::npos) << out;
  EXPECT_NE(out.find("Size       Packed  Ratio"), std::string::npos);
  EXPECT_NE(out.find("100.0% "), std::string::npos) << out;
  EXPECT_NE(out.find("2 item(s)"), std::string::npos);
}

TEST_F(CliTest, DamagedArchivesNeverTestClean) {
  // Cut inside the second item: no end record, and an item that runs past the end.
  std::string whole = testutil::BuildZip({{.name = "one.txt", .data = std::string(300, 'a')},
                                          {.name = "two.txt", .data = std::string(300, 'b')}});
  testutil::WriteFile(zip, whole.substr(0, whole.find("two.txt") + 100));
  std::string out;
  EXPECT_EQ(Tool("test " + Quote(zip), &out), 1);
  EXPECT_NE(out.find("damaged"), std::string::npos) << out;
  EXPECT_NE(out.find("two.txt"), std::string::npos) << out;
  EXPECT_EQ(out.find("No errors"), std::string::npos) << out;
}

TEST_F(CliTest, SplitSetsAreWrittenNewAndReadFromAnyVolume) {
  const std::string noise = testutil::RandomBytes(200000, 5);
  ASSERT_EQ(Sh("mkdir -p " + Quote(dir / "src")), 0);
  testutil::WriteFile(dir / "src/noise.bin", noise);
  testutil::WriteFile(dir / "src/a.txt", "alpha");
  std::string out;
  ASSERT_EQ(Tool("add --split 64k --first-volume 100k " + Quote(dir / "set.zip") + " -r " + Quote(dir / "src"), &out), 0)
      << out;
  EXPECT_TRUE(testutil::Exists(dir / "set.z02"));
  out.clear();
  ASSERT_EQ(Tool("test " + Quote(dir / "set.z02"), &out), 0) << out;
  EXPECT_NE(out.find("set.z02 is a volume of a split set; reading the set from"), std::string::npos) << out;
  EXPECT_NE(out.find("No errors"), std::string::npos) << out;
  // A set is not appended to, and sizes are checked before anything is written.
  EXPECT_EQ(Tool("add --split 64k " + Quote(dir / "set.zip") + " " + Quote(dir / "src/a.txt"), &out), 2);
  out.clear();
  EXPECT_EQ(Tool("add --split 10k " + Quote(dir / "new.zip") + " " + Quote(dir / "src/a.txt"), &out), 2);
  EXPECT_NE(out.find("at least 64k"), std::string::npos) << out;
  EXPECT_FALSE(testutil::Exists(dir / "new.zip"));
  EXPECT_EQ(Tool("add --split 2x " + Quote(dir / "new.zip") + " " + Quote(dir / "src/a.txt")), 2);
}
