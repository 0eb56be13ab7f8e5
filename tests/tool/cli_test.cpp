// The arcfold tool as scripts use it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <sstream>

#include "test_util.h"

using testutil::Quote;
using testutil::Sh;

namespace {
const std::string kTool = ARCFOLD_CLI;

// Shell lines that wait (10 s at most) until the process $pid catches
// interrupts (SIGINT: bit 2 of its caught-signals mask). A job in the
// background of a script starts with them ignored: one sent before the tool
// has set its handler (a slow start on a loaded machine) would be lost, and
// the tool would run to its end.
const std::string kAwaitInterruptHandler =
    "for i in $(seq 1000); do case $(awk '/^SigCgt:/ {print substr($2, length($2))}' /proc/$pid/status"
    " 2>/dev/null) in [2367abef]) break;; esac; sleep 0.01; done; ";

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
  EXPECT_NE(out.find("\xE2\x80\x9A"
                     "t"),
            std::string::npos);  // 0x82 is a low quote in 1252
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
  testutil::WriteFile(
      zip, testutil::BuildZip({{.name = "bad.txt", .data = "x", .crc = 1}, {.name = "good.txt", .data = "y"}}));
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
  // Nor is an empty archive made for a change that needs one to be there.
  for (const std::string change : {"list", "delete", "rename"}) {
    const std::string args = change == "list" ? "" : change == "delete" ? " x" : " x y";
    EXPECT_EQ(Tool(change + " " + Quote(dir / "missing.zip") + args, &out), 2) << change;
    EXPECT_NE(out.find("no such archive"), std::string::npos) << out;
    EXPECT_FALSE(testutil::Exists(dir / "missing.zip")) << change;
    out.clear();
  }
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
  std::string raw = testutil::BuildZip(
      {{.name = "evil\x1b[2J.txt", .data = "x"}, {.name = "big.bin", .data = "abcde", .central_extra = zip64}});
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
  std::string whole = testutil::BuildZip(
      {{.name = "one.txt", .data = std::string(300, 'a')}, {.name = "two.txt", .data = std::string(300, 'b')}});
  testutil::WriteFile(zip, whole.substr(0, whole.find("two.txt") + 100));
  std::string out;
  EXPECT_EQ(Tool("test " + Quote(zip), &out), 1);
  EXPECT_NE(out.find("damaged"), std::string::npos) << out;
  EXPECT_NE(out.find("two.txt"), std::string::npos) << out;
  EXPECT_EQ(out.find("No errors"), std::string::npos) << out;
  // Listing shows what was found, and says and exits as the other commands do.
  for (std::string list : {"list ", "list --json "}) {
    EXPECT_EQ(Tool(list + Quote(zip), &out), 1) << list;
    EXPECT_NE(out.find("damaged"), std::string::npos) << out;
    EXPECT_NE(out.find("one.txt"), std::string::npos) << out;
  }
}

TEST_F(CliTest, SplitSetsAreWrittenNewAndReadFromAnyVolume) {
  const std::string noise = testutil::RandomBytes(200000, 5);
  ASSERT_EQ(Sh("mkdir -p " + Quote(dir / "src")), 0);
  testutil::WriteFile(dir / "src/noise.bin", noise);
  testutil::WriteFile(dir / "src/a.txt", "alpha");
  std::string out;
  ASSERT_EQ(Tool("add --split 64k --first-volume 100k " + Quote(dir / "set.zip") + " -r " + Quote(dir / "src"), &out),
            0)
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
  // A self-extracting first volume is where no reader looks for volume 1.
  testutil::WriteFile(dir / "stub", "MZ stub");
  out.clear();
  EXPECT_EQ(
      Tool("add --split 64k --sfx " + Quote(dir / "stub") + " " + Quote(dir / "sfx.zip") + " -r " + Quote(dir / "src"),
           &out),
      2);
  EXPECT_NE(out.find("--split"), std::string::npos) << out;
  EXPECT_FALSE(testutil::Exists(dir / "sfx.exe"));
  EXPECT_FALSE(testutil::Exists(dir / "sfx.zip"));
}

namespace {
// The names an archive holds, one a line, as "list --json" gives them.
std::vector<std::string> Names(const std::string& json) {
  std::vector<std::string> names;
  const std::string key = "\"name\": \"";
  for (size_t at = json.find(key); at != std::string::npos; at = json.find(key, at + 1)) {
    const size_t start = at + key.size();
    names.push_back(json.substr(start, json.find('"', start) - start));
  }
  return names;
}

// A file with its folders.
void WriteInTree(const std::string& path, const std::string& bytes) {
  ASSERT_EQ(Sh("mkdir -p " + Quote(path.substr(0, path.rfind('/')))), 0);
  testutil::WriteFile(path, bytes);
}
}  // namespace

TEST_F(CliTest, MasksSelectTheSameItemsForEveryCommand) {
  const std::string src = dir / "src";
  std::string out_of_test;
  for (const char* f : {"docs/a.txt", "docs/b.md", "docs/sub/c.txt", "other/docs/d.txt", "other/e.txt", "top.txt"})
    WriteInTree(src + "/" + f, f);
  ASSERT_EQ(Sh("cd " + Quote(src) + " && " + Quote(kTool) + " add ../d.zip docs other top.txt -r"), 0);
  const std::string d = Quote(dir / "d.zip");
  auto listed = [&](const std::string& masks) {
    std::string out;
    Tool("list --json " + d + " " + masks, &out);
    return Names(out);
  };
  // What delete removes is what list shows for the same masks.
  auto deleted = [&](const std::string& masks) {
    Sh("cp " + d + " " + Quote(dir / "c.zip"));
    EXPECT_EQ(Tool("delete " + Quote(dir / "c.zip") + " " + masks), 0) << masks;
    std::string out;
    Tool("list --json " + Quote(dir / "c.zip"), &out);
    std::vector<std::string> gone, all = listed(""), left = Names(out);
    for (const auto& n : all)
      if (std::find(left.begin(), left.end(), n) == left.end()) gone.push_back(n);
    return gone;
  };
  using V = std::vector<std::string>;
  EXPECT_EQ(listed("'*.txt'"), (V{"docs/a.txt", "docs/sub/c.txt", "other/docs/d.txt", "other/e.txt", "top.txt"}));
  EXPECT_EQ(listed("'docs/*'"), (V{"docs/a.txt", "docs/b.md", "docs/sub/", "docs/sub/c.txt"}));
  EXPECT_EQ(listed("docs/"), (V{"docs/", "docs/a.txt", "docs/b.md", "docs/sub/", "docs/sub/c.txt"}));
  EXPECT_EQ(listed("sub"), (V{"docs/sub/", "docs/sub/c.txt"}));
  EXPECT_EQ(listed("docs").size(), 7u);  // both folders named docs, with what they hold
  for (const char* masks : {"'*.txt'", "'docs/*'", "docs/", "docs", "'other/*.txt' top.txt"})
    EXPECT_EQ(deleted(masks), listed(masks)) << masks;
  // Every -x counts, with the same rule, when extracting and when adding.
  ASSERT_EQ(Tool("extract " + d + " -d " + Quote(dir / "x") + " -x docs -x '*.md' -x other/e.txt"), 0);
  EXPECT_EQ(testutil::Entries(dir / "x"), (V{"other", "top.txt"}));
  EXPECT_EQ(testutil::Entries(dir / "x/other"), (V{}));
  // A folder's name selects what it holds when extracting and testing too.
  for (const char* folder : {"docs/sub", "docs/sub/"}) {
    const std::string to = dir / ("f" + std::to_string(std::string(folder).size()));
    ASSERT_EQ(Tool("extract " + d + " " + folder + " -d " + Quote(to)), 0) << folder;
    EXPECT_EQ(testutil::ReadFile(to + "/docs/sub/c.txt"), "docs/sub/c.txt") << folder;
    out_of_test.clear();
    ASSERT_EQ(Tool("test " + d + " " + folder, &out_of_test), 0) << folder;
    EXPECT_NE(out_of_test.find("No errors detected in 2 item(s)"), std::string::npos) << out_of_test;
  }
  testutil::WriteFile(src + "/docs/creds.log", "secret");
  ASSERT_EQ(
      Sh("cd " + Quote(src) + " && " + Quote(kTool) + " move ../m.zip docs -r -x creds.log -x 'docs/sub/' -x '*.md'"),
      0);
  std::string out;
  Tool("list --json " + Quote(dir / "m.zip"), &out);
  EXPECT_EQ(Names(out), (V{"docs/", "docs/a.txt"}));
  EXPECT_EQ(testutil::ReadFile(src + "/docs/creds.log"), "secret");
  EXPECT_TRUE(testutil::Exists(src + "/docs/sub/c.txt"));
  EXPECT_FALSE(testutil::Exists(src + "/docs/a.txt"));
}

TEST_F(CliTest, MoveKeepsASourceThatChangedWhileItWasRead) {
  // A log that grows all the time the move runs.
  const std::string logs = dir / "logs";
  WriteInTree(logs + "/app.log", testutil::RandomBytes(6 << 20, 9));
  testutil::WriteFile(logs + "/done.log", "finished");
  const std::string grow =
      "timeout 60 sh -c 'while [ ! -e stop ]; do echo more >> logs/app.log; done' >/dev/null 2>&1 & ";
  std::string out;
  EXPECT_EQ(Sh("cd " + Quote(dir.path()) + " || exit 9; " + grow + "sleep 0.1; " + Quote(kTool) +
                   " move m.zip logs -r </dev/null 2>&1; status=$?; touch stop; wait; exit $status",
               &out),
            1);
  EXPECT_NE(out.find("app.log"), std::string::npos) << out;
  EXPECT_NE(out.find("changed"), std::string::npos) << out;
  EXPECT_GT(testutil::ReadFile(logs + "/app.log").size(), 6u << 20);
  EXPECT_FALSE(testutil::Exists(logs + "/done.log"));
  EXPECT_EQ(Tool("test " + Quote(dir / "m.zip")), 0);
}

TEST_F(CliTest, SourcesThatCannotBeReadOrGivenBackAreLeftOut) {
  const std::string src = dir / "src";
  WriteInTree(src + "/real/f.txt", "in a folder reached by a link");
  ASSERT_EQ(
      Sh("cd " + Quote(src) + " && printf x > \"$(printf 'new\\nline')\" && printf y > \"$(printf 'tab\\tname')\"" +
         " && printf z > 'back\\slash' && printf w > \"$(printf 'not\\376utf8')\" && mkfifo fifo && ln -s real link" +
         " && ln -s .. real/up && ln -s nowhere dangling"),
      0);
  std::string out;
  // A FIFO is never opened: that would wait for a writer forever.
  EXPECT_EQ(
      Sh("cd " + Quote(dir.path()) + " && timeout 60 " + Quote(kTool) + " move m.zip src -r </dev/null 2>&1", &out), 1)
      << out;
  EXPECT_NE(out.find("src/fifo: skipped"), std::string::npos) << out;
  EXPECT_NE(out.find("src/dangling: skipped"), std::string::npos) << out;
  EXPECT_NE(out.find("src/real/up: skipped"), std::string::npos) << out;
  // Names with control characters are refused, named escaped, and kept.
  EXPECT_NE(out.find("src/new\\x0aline"), std::string::npos) << out;
  EXPECT_NE(out.find("src/tab\\x09name"), std::string::npos) << out;
  EXPECT_EQ(testutil::ReadFile(src + "/tab\tname"), "y");
  EXPECT_EQ(testutil::ReadFile(src + "/new\nline"), "x");
  // So is a "\\", which item names read as a folder separator.
  EXPECT_NE(out.find("src/back\\slash: not added"), std::string::npos) << out;
  EXPECT_EQ(testutil::ReadFile(src + "/back\\slash"), "z");
  // And a name that is not UTF-8, which the library cannot find again: the
  // rest is still added.
  EXPECT_NE(out.find("could not be looked at"), std::string::npos) << out;
  EXPECT_EQ(testutil::ReadFile(src + "/not\xfeutf8"), "w");
  out.clear();
  Tool("list --json " + Quote(dir / "m.zip"), &out);
  // The link to a folder is followed: what it leads to is stored under its name.
  const std::vector<std::string> names = Names(out);
  EXPECT_NE(std::find(names.begin(), names.end(), "src/link/f.txt"), names.end()) << out;
  EXPECT_NE(std::find(names.begin(), names.end(), "src/real/f.txt"), names.end()) << out;
  EXPECT_EQ(names.size(), 5u) << out;  // src/, link/, link/f.txt, real/, real/f.txt
  ASSERT_EQ(Tool("extract " + Quote(dir / "m.zip") + " -d " + Quote(dir / "out")), 0);
  EXPECT_EQ(testutil::ReadFile(dir / "out/src/link/f.txt"), "in a folder reached by a link");

  // A folder that cannot be read is a failure that names it, not an empty
  // folder whose files are missing without a word. (Root reads any folder:
  // the tool then runs as nobody.)
  WriteInTree(dir / "locked/closed/f.txt", "never read");
  const std::string as_user = ::getuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
  ASSERT_EQ(Sh("chmod -R a+rwX " + Quote(dir.path()) + " && chmod 000 " + Quote(dir / "locked/closed")), 0);
  out.clear();
  EXPECT_EQ(Sh("cd " + Quote(dir.path()) + " && " + as_user + Quote(kTool) + " add l.zip locked -r 2>&1", &out), 1)
      << out;
  EXPECT_NE(out.find("locked/closed: not added in full: the folder cannot be read"), std::string::npos) << out;
  Sh("chmod 700 " + Quote(dir / "locked/closed"));
}

namespace {
// The names of an archive's items as Python reads them, one a line.
std::string NamesIn(const std::string& zip) {
  std::string out;
  Sh("python3 " + Quote(std::string(ARCFOLD_TEST_DATA) + "/../scripts/zipinfo.py") + " " + Quote(zip) +
         " | cut -d'|' -f1",
     &out);
  return out;
}
}  // namespace

TEST_F(CliTest, ColonsInFileNamesAreNotDrives) {
  const std::string run = dir / "col/run1";
  ASSERT_EQ(Sh("mkdir -p " + Quote(run) + " && printf one > " + Quote(run + "/2024-01-01T10:00:00.log") +
               " && printf two > " + Quote(run + "/2024-01-01T11:00:00.log")),
            0);
  const std::string logs = dir / "logs.zip";
  std::string out;
  ASSERT_EQ(Sh("cd " + Quote(dir.path()) + " && " + Quote(kTool) + " move -r " + Quote(logs) + " col 2>&1", &out), 0)
      << out;
  EXPECT_EQ(NamesIn(logs), "col/\ncol/run1/\ncol/run1/2024-01-01T10:00:00.log\ncol/run1/2024-01-01T11:00:00.log\n");
  EXPECT_FALSE(testutil::Exists(dir / "col"));
  for (const std::string how : {"ours", "unzip"}) {
    SCOPED_TRACE(how);
    const std::string to = dir / how;
    if (how == "ours")
      ASSERT_EQ(Tool("extract " + Quote(logs) + " -d " + Quote(to), &out), 0) << out;
    else
      ASSERT_EQ(Sh("unzip -q " + Quote(logs) + " -d " + Quote(to)), 0);
    EXPECT_EQ(testutil::ReadFile(to + "/col/run1/2024-01-01T10:00:00.log"), "one");
    EXPECT_EQ(testutil::ReadFile(to + "/col/run1/2024-01-01T11:00:00.log"), "two");
  }
  // Names shaped like drives land below the destination, as the peers put them.
  const std::string drives = dir / "drives.zip";
  ASSERT_EQ(Sh("python3 " + Quote(std::string(ARCFOLD_TEST_DATA) + "/../scripts/pyzip.py") + " members " +
               Quote(drives) + " C:/x.txt x a:b.txt ab 'D:\\y.txt' y"),
            0);
  const std::string deep = dir / "deep/er";
  ASSERT_EQ(Tool("extract " + Quote(drives) + " -d " + Quote(deep), &out), 0) << out;
  EXPECT_EQ(testutil::ReadFile(deep + "/C:/x.txt"), "x");
  EXPECT_EQ(testutil::ReadFile(deep + "/a:b.txt"), "ab");
  EXPECT_EQ(testutil::ReadFile(deep + "/D:/y.txt"), "y");
  EXPECT_EQ(testutil::Entries(dir / "deep"), std::vector<std::string>{"er"});
}

TEST_F(CliTest, TheArchiveIsNeverItsOwnSource) {
  const std::string docs = dir / "docs";
  ASSERT_EQ(Sh("mkdir -p " + Quote(docs + "/in") + " && printf alpha > " + Quote(docs + "/a.txt") +
               " && printf beta > " + Quote(docs + "/in/b.txt")),
            0);
  const std::string backup = docs + "/backup.zip";
  ASSERT_EQ(Sh("cd " + Quote(dir.path()) + " && " + Quote(kTool) + " add " + Quote(backup) + " docs/a.txt"), 0);
  // Another name of the same file is the archive too.
  ASSERT_EQ(Sh("ln " + Quote(backup) + " " + Quote(docs + "/hard.zip")), 0);
  std::string out;
  ASSERT_EQ(Sh("cd " + Quote(dir.path()) + " && " + Quote(kTool) + " move " + Quote(backup) + " docs -r 2>&1", &out), 0)
      << out;
  EXPECT_EQ(NamesIn(backup), "docs/a.txt\ndocs/\ndocs/in/\ndocs/in/b.txt\n");
  // The files stored are gone; the folder that holds the archive stays.
  EXPECT_EQ(testutil::Entries(docs), (std::vector<std::string>{"backup.zip", "hard.zip"}));
  ASSERT_EQ(Sh("unzip -q " + Quote(backup) + " -d " + Quote(dir / "x")), 0);
  EXPECT_EQ(testutil::ReadFile(dir / "x/docs/in/b.txt"), "beta");

  // The current folder moved into an archive inside it.
  const std::string here = dir / "here";
  ASSERT_EQ(Sh("mkdir -p " + Quote(here) + " && printf x > " + Quote(here + "/x.txt")), 0);
  ASSERT_EQ(Sh("cd " + Quote(here) + " && " + Quote(kTool) + " move s.zip . -r 2>&1", &out), 0) << out;
  EXPECT_EQ(testutil::Entries(here), std::vector<std::string>{"s.zip"});
  EXPECT_EQ(NamesIn(here + "/s.zip"), "x.txt\n");
  // Adding the folder again does not put the archive inside itself.
  ASSERT_EQ(Sh("cd " + Quote(here) + " && printf y > y.txt && " + Quote(kTool) + " add s.zip . -r 2>&1", &out), 0)
      << out;
  EXPECT_EQ(NamesIn(here + "/s.zip"), "x.txt\ny.txt\n");
}

TEST_F(CliTest, StoredNamesNeverStartFromTheRootUnlessAsked) {
  const std::string top = dir / "top";
  ASSERT_EQ(Sh("mkdir -p " + Quote(top + "/sub") + " && printf f > " + Quote(top + "/f.txt") + " && printf s > " +
               Quote(top + "/sub/s.txt")),
            0);
  std::string out;
  ASSERT_EQ(Sh("cd " + Quote(top) + " && " + Quote(kTool) + " add ../dot.zip . -r 2>&1", &out), 0) << out;
  EXPECT_EQ(NamesIn(dir / "dot.zip"), "f.txt\nsub/\nsub/s.txt\n");
  // "..": the names unzip gives zip's "../f.txt" and "../sub/s.txt".
  ASSERT_EQ(Sh("cd " + Quote(top + "/sub") + " && " + Quote(kTool) + " add ../../up.zip .. -r 2>&1", &out), 0) << out;
  EXPECT_EQ(NamesIn(dir / "up.zip"), "f.txt\nsub/\nsub/s.txt\n");
  ASSERT_EQ(
      Sh("cd " + Quote(top + "/sub") + " && " + Quote(kTool) + " add ../../full.zip --store-path full . 2>&1", &out), 0)
      << out;
  EXPECT_EQ(NamesIn(dir / "full.zip"), top.substr(1) + "/sub/\n" + top.substr(1) + "/sub/s.txt\n");
}

namespace {
// strace makes a call of the tool fail or bring a signal. The leak checker
// of a sanitized build cannot work under a tracer and would fail the run.
const std::string kUnderStrace = "ASAN_OPTIONS=detect_leaks=0 strace -o /dev/null ";
}  // namespace

TEST_F(CliTest, RunsThatFailLeaveTheArchiveAsItWas) {
  const std::string a = dir / "a.txt", big = dir / "big.bin";
  testutil::WriteFile(a, "a");
  // Text that takes the slowest level a while, so that the interrupt comes first.
  ASSERT_EQ(Sh("base64 /dev/urandom | head -c 40000000 > " + Quote(big)), 0);
  std::string out;
  // A new archive appears only with a commit: not after a failed source,
  // nor after an interrupted creation.
  EXPECT_EQ(Tool("add " + Quote(dir / "n1.zip") + " " + Quote(a) + " " + Quote(dir / "missing.txt"), &out), 2);
  EXPECT_EQ(Sh("cd " + Quote(dir.path()) + " && (" + Quote(kTool) + " add n2.zip big.bin -9 & pid=$!; " +
               kAwaitInterruptHandler + "sleep 0.3; kill -INT $pid; wait $pid)"),
            1);
  EXPECT_FALSE(testutil::Exists(dir / "n1.zip"));
  EXPECT_FALSE(testutil::Exists(dir / "n2.zip"));
  // An existing archive keeps its bytes when a later source is missing or
  // a new name could not be given back by extraction.
  ASSERT_EQ(Tool("add " + Quote(zip) + " " + Quote(a)), 0);
  const std::string before = testutil::ReadFile(zip);
  EXPECT_EQ(Tool("add " + Quote(zip) + " " + Quote(big) + " " + Quote(dir / "missing.txt")), 2);
  for (const char* name : {"../evil.txt", "/etc/x", "sub/../../x", "new\\nline"}) {
    out.clear();
    EXPECT_EQ(
        Sh(Quote(kTool) + " rename " + Quote(zip) + " " + Quote(a.substr(1)) + " \"$(printf '" + name + "')\" 2>&1",
           &out),
        2)
        << name << out;
  }
  EXPECT_EQ(testutil::ReadFile(zip), before);
  // A disk that refuses the new archive (full: a file size limit below the
  // items copied over; an I/O error when it is flushed) leaves the old one,
  // and the message names it.
  const std::string grown = dir / "grown.zip";
  ASSERT_EQ(Tool("add " + Quote(grown) + " " + Quote(big) + " -0"), 0);
  const std::string grown_before = testutil::ReadFile(grown);
  std::string full_out;
  EXPECT_EQ(Sh("(trap '' XFSZ; ulimit -f 1024; " + Quote(kTool) + " add " + Quote(grown) + " " + Quote(a) +
                   " </dev/null 2>&1)",
               &full_out),
            2);
  EXPECT_NE(full_out.find("grown.zip"), std::string::npos) << full_out;
  EXPECT_EQ(testutil::ReadFile(grown), grown_before);
  if (Sh("strace -o /dev/null true") == 0) {
    std::string eio_out;
    EXPECT_EQ(Sh(kUnderStrace + "-e trace=fsync -e inject=fsync:error=EIO:when=1 " + Quote(kTool) + " add " +
                     Quote(grown) + " " + Quote(a) + " </dev/null 2>&1",
                 &eio_out),
              2);
    EXPECT_NE(eio_out.find("grown.zip"), std::string::npos) << eio_out;
    EXPECT_EQ(testutil::ReadFile(grown), grown_before);
  }
  EXPECT_EQ(testutil::FindNamed(dir.path(), {".arcfold-"}), "");
}

// A signal that comes while the new archive takes the old one's place is too
// late to cancel: the tool says that the change was written, and a moved
// file is then in the archive, not lost to a "left as it was".
TEST_F(CliTest, AnInterruptAfterTheCommitDoesNotDenyIt) {
  if (Sh("strace -o /dev/null true") != 0) GTEST_SKIP() << "strace cannot trace here";
  WriteInTree(dir / "moved/m.txt", "moved into the archive");
  std::string out;
  EXPECT_EQ(Sh("cd " + Quote(dir.path()) + " && " + kUnderStrace + "-e trace=rename -e inject=rename:signal=INT " +
                   Quote(kTool) + " move t.zip moved -r </dev/null 2>&1",
               &out),
            0)
      << out;
  EXPECT_EQ(out.find("left as it was"), std::string::npos) << out;
  EXPECT_FALSE(testutil::Exists(dir / "moved/m.txt"));
  std::string data;
  EXPECT_EQ(Sh(Quote(kTool) + " x -c " + Quote(zip) + " moved/m.txt", &data), 0);
  EXPECT_EQ(data, "moved into the archive");
}

TEST_F(CliTest, StdoutExtractionGivesTheItemsBytesAndNothingElse) {
  const std::string big = testutil::RandomBytes(300000, 5);
  testutil::WriteFile(zip, testutil::BuildZip({{.name = "docs/", .data = "", .external = 0x10},
                                               {.name = "docs/a.txt", .data = "alpha\r\n", .method = 8},
                                               {.name = "b.bin", .data = big, .method = 8},
                                               {.name = "c.txt", .data = "gamma"}}));
  const std::string err = dir / "err.txt";
  for (const char* how : {"extract -c", "extract --stdout", "x -O"}) {
    std::string out;
    // In archive order, whatever the order of the masks; folders give nothing.
    ASSERT_EQ(Sh(Quote(kTool) + " " + std::string(how) + " " + Quote(zip) + " c.txt docs b.bin 2>" + Quote(err), &out),
              0)
        << how;
    EXPECT_EQ(out, "alpha\r\n" + big + "gamma") << how;
    EXPECT_EQ(testutil::ReadFile(err), "") << how;
  }
  // A damaged item: its bytes as they came, then status 1 and its name on
  // standard error; the items after it still come.
  testutil::WriteFile(zip, testutil::BuildZip({{.name = "bad.txt", .data = "damaged", .crc = 1},
                                               {.name = "good.txt", .data = "fine"}}));
  std::string out;
  EXPECT_EQ(Sh(Quote(kTool) + " extract -c " + Quote(zip) + " 2>" + Quote(err), &out), 1);
  EXPECT_EQ(out, "damagedfine");
  EXPECT_NE(testutil::ReadFile(err).find("bad.txt: Invalid size or check sum"), std::string::npos)
      << testutil::ReadFile(err);
  // Output that never reached its file (a full disk) is a failure, not a
  // short item or listing under status 0.
  if (!testutil::Exists("/dev/full")) return;
  for (const char* how : {"extract -c", "list", "list --json"}) {
    out.clear();
    EXPECT_EQ(Sh(Quote(kTool) + " " + std::string(how) + " " + Quote(zip) + " good.txt 2>&1 >/dev/full", &out), 2)
        << how;
    EXPECT_NE(out.find("standard output: cannot be written"), std::string::npos) << how << out;
  }
}

TEST_F(CliTest, ArchivesAreReadFromAPipeAndTheirCopyNeverStays) {
  const std::string tmp = dir / "tmp";
  WriteInTree(tmp + "/keep", "");
  const std::string env = "TMPDIR=" + Quote(tmp) + " ";
  const std::string piped = "cat " + Quote(zip) + " | " + env + Quote(kTool) + " ";
  std::string out;
  ASSERT_EQ(Sh(piped + "list - 2>&1", &out), 0);
  EXPECT_NE(out.find("docs/a.txt"), std::string::npos) << out;
  out.clear();
  ASSERT_EQ(Sh(piped + "test - 2>&1", &out), 0);
  EXPECT_NE(out.find("No errors detected in 4 item(s)"), std::string::npos) << out;
  ASSERT_EQ(Sh(piped + "extract - -d " + Quote(dir / "out") + " 2>&1"), 0);
  EXPECT_EQ(testutil::ReadFile(dir / "out/docs/a.txt"), "alpha");
  out.clear();
  ASSERT_EQ(Sh(piped + "extract -c - b.log 2>/dev/null", &out), 0);
  EXPECT_EQ(out, "beta");
  out.clear();
  EXPECT_EQ(Sh("echo not a zip | " + env + Quote(kTool) + " list - 2>&1", &out), 2);
  EXPECT_NE(out.find("(standard input): not a ZIP archive"), std::string::npos) << out;
  EXPECT_EQ(testutil::Entries(tmp), (std::vector<std::string>{"keep"}));
  // Interrupted while the archive still arrives: status 1, no copy left.
  out.clear();
  // (A background command of a script reads /dev/null unless told otherwise.)
  EXPECT_EQ(Sh("{ cat " + Quote(zip) + "; sleep 3; } | { exec 3<&0; " + env + Quote(kTool) + " list - <&3 & pid=$!; " +
                   kAwaitInterruptHandler + "sleep 1; kill -INT $pid; wait $pid; } 2>&1",
               &out),
            1)
      << out;
  EXPECT_NE(out.find("interrupted"), std::string::npos) << out;
  EXPECT_EQ(testutil::Entries(tmp), (std::vector<std::string>{"keep"}));
  // The reader of standard output goes away early: quietly, with no copy left.
  const std::string big = dir / "big.bin";
  WriteInTree(big, std::string(4 << 20, 'x'));
  ASSERT_EQ(Sh(Quote(kTool) + " add -q " + Quote(dir / "big.zip") + " " + Quote(big) + " >/dev/null 2>&1"), 0);
  out.clear();
  const std::string status = dir / "status", errors = dir / "errors";
  ASSERT_EQ(Sh("{ cat " + Quote(dir / "big.zip") + " | " + env + Quote(kTool) + " x -c - 2>" + Quote(errors) +
                   "; echo $? >" + Quote(status) + "; } | head -c 3",
               &out),
            0);
  EXPECT_EQ(testutil::ReadFile(status), "141\n");
  EXPECT_EQ(testutil::ReadFile(errors), "");
  EXPECT_EQ(out, "xxx");
  EXPECT_EQ(testutil::Entries(tmp), (std::vector<std::string>{"keep"}));
}

TEST_F(CliTest, CommandsAndOptionsAsUnzipAnd7ZipUsersTypeThem) {
  std::string out;
  auto said = [&](const std::string& args) {
    out.clear();
    const int status = Tool(args, &out);
    return status;
  };
  EXPECT_EQ(said("l " + Quote(zip)), 0);
  EXPECT_NE(out.find("4 item(s)"), std::string::npos) << out;
  EXPECT_EQ(said(Quote(zip)), 0);  // an archive alone is listed
  EXPECT_NE(out.find("4 item(s)"), std::string::npos) << out;
  EXPECT_EQ(said("t " + Quote(zip)), 0);
  EXPECT_NE(out.find("No errors detected"), std::string::npos) << out;
  EXPECT_EQ(said("t -q " + Quote(zip)), 0);
  EXPECT_EQ(out, "");
  EXPECT_EQ(said("x -v " + Quote(zip) + " -d " + Quote(dir / "x")), 0);
  EXPECT_NE(out.find("docs/a.txt\n"), std::string::npos) << out;
  EXPECT_EQ(testutil::ReadFile(dir / "x/docs/a.txt"), "alpha");
  // "e" and -j extract without folders; a name met again is an existing file.
  EXPECT_EQ(said("e " + Quote(zip) + " -d " + Quote(dir / "e")), 0);
  EXPECT_EQ(testutil::Entries(dir / "e"), (std::vector<std::string>{"a.txt", "b.log", "été.txt"}));
  WriteInTree(dir / "j/a.txt", "mine");
  EXPECT_EQ(said("extract -j " + Quote(zip) + " docs -d " + Quote(dir / "j")), 0);
  EXPECT_EQ(testutil::ReadFile(dir / "j/a.txt"), "mine");
  EXPECT_NE(out.find("1 item(s) skipped: the file exists"), std::string::npos) << out;
  const std::string in_j = "cd " + Quote(dir / "j") + " && " + Quote(kTool), n = Quote(dir / "n.zip");
  EXPECT_EQ(Sh(in_j + " a ../n.zip a.txt"), 0);
  EXPECT_EQ(Sh(in_j + " u ../n.zip a.txt"), 0);
  EXPECT_EQ(said("rn " + n + " a.txt b.txt"), 0);
  EXPECT_EQ(said("l " + n + " b.txt"), 0);
  EXPECT_EQ(said("d " + n + " b.txt"), 0);
  EXPECT_EQ(said("l " + n + " b.txt"), 1);
  EXPECT_EQ(said("help extract"), 0);
  EXPECT_NE(out.find("--stdout"), std::string::npos) << out;
  EXPECT_NE(out.find("--junk-paths"), std::string::npos) << out;
}

TEST_F(CliTest, LongListingAgreesWithUnzipAnd7Zip) {
  const std::string src = dir / "src";
  WriteInTree(src + "/text.txt", std::string(5000, 'a'));
  testutil::WriteFile(src + "/random.bin", testutil::RandomBytes(4000, 3));
  const std::string in_src = "cd " + Quote(src) + " && " + Quote(kTool);
  ASSERT_EQ(Sh(in_src + " add ../v.zip text.txt -9"), 0);
  ASSERT_EQ(Sh(in_src + " add ../v.zip random.bin -0"), 0);
  ASSERT_EQ(Sh(in_src + " add ../c.zip text.txt -p pw"), 0);
  ASSERT_EQ(Sh(in_src + " add ../c.zip random.bin -p pw --aes 256"), 0);
  std::string v, c;
  ASSERT_EQ(Tool("list -v " + Quote(dir / "v.zip"), &v), 0);
  ASSERT_EQ(Tool("list -v " + Quote(dir / "c.zip"), &c), 0);
  auto line_of = [](const std::string& listing, const std::string& name) {
    std::istringstream in(listing);
    std::string line;
    while (std::getline(in, line))
      if (line.ends_with(" " + name)) return line;
    return std::string();
  };
  auto upper = [](std::string text) {
    for (auto& ch : text) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    return text;
  };
  struct Expect {
    std::string listing, zip, name, method, crypto;
  };
  for (const Expect& e :
       {Expect{v, "v.zip", "text.txt", "Deflate", "-"}, Expect{v, "v.zip", "random.bin", "Stored", "-"},
        Expect{c, "c.zip", "text.txt", "Deflate", "classic"}, Expect{c, "c.zip", "random.bin", "Stored", "AES-256"}}) {
    SCOPED_TRACE(e.zip + " " + e.name);
    const std::string line = line_of(e.listing, e.name);
    std::string unzip, seven;
    Sh("unzip -Z -v " + Quote(dir / e.zip) + " " + e.name, &unzip);
    Sh("7zz l -slt " + Quote(dir / e.zip) + " " + e.name, &seven);
    // The CRC-32 the headers hold (0 for AES items, which AE-2 checks by
    // their authentication code instead; 7-Zip then shows none).
    const std::string label = "32-bit CRC value (hex):";
    const size_t at = unzip.find(label);
    ASSERT_NE(at, std::string::npos) << unzip;
    const std::string crc = unzip.substr(unzip.find_first_not_of(' ', at + label.size()), 8);
    EXPECT_NE(line.find(" " + crc + " "), std::string::npos) << line << unzip;
    EXPECT_NE(seven.find(e.crypto == "AES-256" ? "CRC = \n" : "CRC = " + upper(crc)), std::string::npos) << seven;
    EXPECT_NE(line.find(" " + e.method + " "), std::string::npos) << line;
    EXPECT_NE(line.find(" " + e.crypto + " "), std::string::npos) << line;
    // 7-Zip names the same encryption and method.
    const std::string seven_method = e.crypto == "classic" ? "ZipCrypto " : e.crypto == "AES-256" ? "AES-256 " : "";
    EXPECT_NE(seven.find("Method = " + seven_method + (e.method == "Stored" ? "Store" : "Deflate")), std::string::npos)
        << seven;
  }
  // An item that grew (by its AES header and code) shows by how much.
  EXPECT_NE(line_of(c, "random.bin").find("  -0.7% "), std::string::npos) << c;
}
