// Extraction to disk: targets, folders, overwrite rules, damage and safety.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "arcfold/arcfold.h"
#include "arcfold/crc32.h"
#include "platform/files.h"
#include "test_util.h"

using namespace arcfold;
using testutil::BuildZip;
using testutil::Exists;
using testutil::RawEntry;
using testutil::ReadFile;
using testutil::W;

class ExtractTest : public ::testing::Test {
 protected:
  void OpenZip(const std::vector<RawEntry>& entries) {
    testutil::WriteFile(dir / "t.zip", BuildZip(entries));
    a.CloseArchive();
    a.SetFileName(W(dir / "t.zip"));
    a.OpenArchive();
    a.SetBaseDir(W(out));
    a.OnProcessFileFailure = [this](TAFBaseArchiver*, const afp::WideString& name, TAFProcessOperation, int native,
                                    int, const afp::WideString&, TAFAction& action) {
      failures.push_back({testutil::U(name), native});
      action = fxaIgnore;
    };
  }
  testutil::TempDir dir;
  std::string out = dir / "out";
  TArcfold a;
  std::vector<std::pair<std::string, int>> failures;
};

TEST_F(ExtractTest, FoldersFilesTimesAndAttributes) {
  OpenZip({{.name = "docs/", .data = "", .external = 0x10},
           {.name = "docs/a.txt", .data = "alpha", .method = 8},
           {.name = "ro.txt", .data = "read only", .external = 0x21, .time = 0x7A2F, .date = 0x5A88}});
  a.ExtractFiles(u"*.*");
  EXPECT_TRUE(failures.empty());
  EXPECT_EQ(ReadFile(out + "/docs/a.txt"), "alpha");
  struct stat st;
  ASSERT_EQ(::stat((out + "/ro.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0222, 0u);
  EXPECT_EQ(afp::GetFileDosDateTime(W(out + "/ro.txt")), static_cast<int32_t>((0x5A88u << 16) | 0x7A2F));
}

TEST_F(ExtractTest, ExistingReadOnlyTargetReplacedOnlyWithReplaceReadOnly) {
  OpenZip({{.name = "ro.txt", .data = "new", .external = 0x21}});
  a.ExtractFiles(u"*.*");
  auto make_old = [&] {
    ::chmod((out + "/ro.txt").c_str(), 0644);
    testutil::WriteFile(out + "/ro.txt", "old");
    ::chmod((out + "/ro.txt").c_str(), 0444);
  };
  make_old();
  a.Options().ReplaceReadOnly = false;
  a.ExtractFiles(u"*.*");
  EXPECT_EQ(ReadFile(out + "/ro.txt"), "old");
  a.Options().ReplaceReadOnly = true;
  a.ExtractFiles(u"*.*");
  EXPECT_EQ(ReadFile(out + "/ro.txt"), "new");
  EXPECT_TRUE(failures.empty());
}

TEST_F(ExtractTest, OverwriteModes) {
  OpenZip({{.name = "f.txt", .data = "archive", .time = 0x0000, .date = 0x5021}});  // 2020-01-01 00:00
  ::mkdir(out.c_str(), 0777);
  auto reset = [&](uint16_t date) {
    testutil::WriteFile(out + "/f.txt", "disk");
    afp::SetFileDosDateTime(W(out + "/f.txt"), date, 0);
  };
  a.Options().OverwriteMode = omNever;
  reset(0x5021);
  a.ExtractFiles(u"*.*");
  EXPECT_EQ(ReadFile(out + "/f.txt"), "disk");

  a.Options().OverwriteMode = omIfNewer;  // replaces only an older file
  reset(0x5021);                          // same time: passed over
  a.ExtractFiles(u"*.*");
  EXPECT_EQ(ReadFile(out + "/f.txt"), "disk");
  reset(0x4E21);  // 2019: older
  a.ExtractFiles(u"*.*");
  EXPECT_EQ(ReadFile(out + "/f.txt"), "archive");

  a.Options().OverwriteMode = omIfOlder;  // replaces only a newer file
  reset(0x4E21);
  a.ExtractFiles(u"*.*");
  EXPECT_EQ(ReadFile(out + "/f.txt"), "disk");
  reset(0x5221);  // 2021: newer
  a.ExtractFiles(u"*.*");
  EXPECT_EQ(ReadFile(out + "/f.txt"), "archive");

  a.Options().OverwriteMode = omAlways;
  reset(0x5221);
  a.ExtractFiles(u"*.*");
  EXPECT_EQ(ReadFile(out + "/f.txt"), "archive");
}

TEST_F(ExtractTest, CreateDirsOffFlattensIntoDestination) {
  OpenZip({{.name = "x/a.txt", .data = "from x"}, {.name = "y/a.txt", .data = "from y"}});
  a.Options().CreateDirs = false;
  a.ExtractFiles(u"*.*");
  // The destination must exist without CreateDirs: every item fails with 19.
  EXPECT_EQ(failures.size(), 2u);
  EXPECT_EQ(failures[0].second, 19);
  failures.clear();
  ::mkdir(out.c_str(), 0777);
  a.Options().OverwriteMode = omNever;
  a.ExtractFiles(u"*.*");
  EXPECT_TRUE(failures.empty());
  EXPECT_EQ(ReadFile(out + "/a.txt"), "from x");
  EXPECT_FALSE(Exists(out + "/x"));
}

TEST_F(ExtractTest, CorruptedItemFailsWith8AndLeavesNoFile) {
  OpenZip({{.name = "good1.txt", .data = "fine"},
           {.name = "bad.txt", .data = std::string(100000, 'q'), .method = 8, .crc = 0x12345678},
           {.name = "good2.txt", .data = "also fine"}});
  a.ExtractFiles(u"*.*");
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_EQ(failures[0], (std::pair<std::string, int>{"bad.txt", 8}));
  EXPECT_FALSE(Exists(out + "/bad.txt"));
  EXPECT_EQ(ReadFile(out + "/good2.txt"), "also fine");

  failures.clear();
  a.SetExtractCorruptedFiles(true);
  a.ExtractFiles(u"bad.txt");
  EXPECT_TRUE(failures.empty());
  EXPECT_EQ(ReadFile(out + "/bad.txt"), std::string(100000, 'q'));
}

TEST_F(ExtractTest, SizeLieStopsAtDeclaredSize) {
  // 50 MB of zeros deflate to ~50 KB; the header claims 10 bytes.
  OpenZip({{.name = "bomb.bin", .data = std::string(50 << 20, '\0'), .method = 8, .usize = 10},
           {.name = "stored.bin", .data = std::string(200000, 's'), .usize = 100}});
  a.ExtractFiles(u"*.*");
  ASSERT_EQ(failures.size(), 2u);
  EXPECT_EQ(failures[0].second, 8);
  EXPECT_EQ(failures[1].second, 8);
  EXPECT_FALSE(Exists(out + "/bomb.bin"));
  EXPECT_FALSE(Exists(out + "/stored.bin"));
}

TEST_F(ExtractTest, HostileNamesWriteNothingOutside) {
  OpenZip({{.name = "../escape.txt", .data = "x"},
           {.name = "a/../../escape2.txt", .data = "x"},
           {.name = "/abs/escape3.txt", .data = "x"},
           {.name = "\\abs\\escape4.txt", .data = "x"},
           {.name = "C:/escape5.txt", .data = "x"},
           {.name = "//server/share/escape6.txt", .data = "x"},
           {.name = "fine/../inside.txt", .data = "x"},
           {.name = "ok.txt", .data = "ok"}});
  a.ExtractFiles(u"*.*");
  EXPECT_EQ(failures.size(), 7u);
  for (const auto& f : failures) EXPECT_EQ(f.second, 19) << f.first;
  EXPECT_EQ(ReadFile(out + "/ok.txt"), "ok");
  std::string listing;
  testutil::Sh("find " + testutil::Quote(dir.path()) + " -name 'escape*' -o -name 'inside*'", &listing);
  EXPECT_EQ(listing, "");
}

TEST_F(ExtractTest, HandlerChosenNamesAreTrusted) {
  OpenZip({{.name = "a.txt", .data = "redirected"}});
  std::string elsewhere = dir / "elsewhere.txt";
  a.OnExtractFile = [&](TAFBaseArchiver*, afp::WideString& name, uint32_t& attr, const std::string&) {
    EXPECT_EQ(name, u"a.txt");
    name = W("../elsewhere.txt");
    attr = 0;
  };
  a.ExtractFiles(u"*.*");
  EXPECT_TRUE(failures.empty());
  EXPECT_EQ(ReadFile(elsewhere), "redirected");
}

TEST_F(ExtractTest, UnixModesMaskedAndLinksWrittenAsFiles) {
  RawEntry exe{.name = "run.sh", .data = "#!/bin/sh\n", .external = (0104755u << 16), .version_made = 0x0314};
  RawEntry link{.name = "link", .data = "/etc/passwd", .external = (0120777u << 16), .version_made = 0x0314};
  OpenZip({exe, link});
  a.ExtractFiles(u"*.*");
  EXPECT_TRUE(failures.empty());
  struct stat st;
  ASSERT_EQ(::lstat((out + "/run.sh").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0755u);
  ASSERT_EQ(::lstat((out + "/link").c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(ReadFile(out + "/link"), "/etc/passwd");
}

TEST_F(ExtractTest, ExistingLinkAtTargetIsReplacedNotFollowed) {
  OpenZip({{.name = "t.txt", .data = "content"}});
  ::mkdir(out.c_str(), 0777);
  std::string victim = dir / "victim.txt";
  testutil::WriteFile(victim, "untouched");
  ASSERT_EQ(::symlink(victim.c_str(), (out + "/t.txt").c_str()), 0);
  a.ExtractFiles(u"*.*");
  EXPECT_EQ(ReadFile(victim), "untouched");
  EXPECT_EQ(ReadFile(out + "/t.txt"), "content");
}

TEST_F(ExtractTest, WorkingFolderCapturedAtFirstRun) {
  OpenZip({{.name = "w.txt", .data = "w"}});
  a.SetBaseDir(u"");
  std::string cwd = testutil::U(afp::GetCurrentDir());
  ::mkdir((dir / "first").c_str(), 0777);
  ::mkdir((dir / "second").c_str(), 0777);
  ASSERT_TRUE(afp::SetCurrentDir(W(dir / "first")));
  a.ExtractFiles(u"*.*");
  ASSERT_TRUE(afp::SetCurrentDir(W(dir / "second")));
  a.Options().OverwriteMode = omAlways;
  testutil::WriteFile(dir / "first/w.txt", "old");
  a.ExtractFiles(u"*.*");
  afp::SetCurrentDir(W(cwd));
  EXPECT_EQ(ReadFile(dir / "first/w.txt"), "w");
  EXPECT_FALSE(Exists(dir / "second/w.txt"));
}

TEST_F(ExtractTest, StrayBytesAfterDeflateAndDeflate64) {
  RawEntry stray{.name = "s.txt", .data = testutil::Deflate("payload") + "JUNKJUNK", .method = 8, .raw = true,
                 .crc = Crc32("payload", 7), .usize = 7};
  RawEntry d64{.name = "d64.bin", .data = "xxxx", .method = 9, .raw = true};
  OpenZip({stray, d64});
  a.ExtractFiles(u"*.*");
  EXPECT_EQ(ReadFile(out + "/s.txt"), "payload");
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_EQ(failures[0].second, 55);
  EXPECT_FALSE(Exists(out + "/d64.bin"));
}

TEST_F(ExtractTest, EncryptedItemWithoutPasswordIsSkippedCleanly) {
  OpenZip({{.name = "secret.txt", .data = std::string(12, 'h') + "ciphertext", .flags = 1, .crc = 0}});
  afp::SafeAnswerPrompts no_one_there;
  a.PromptUI = &no_one_there;
  a.ExtractFiles(u"*.*");
  EXPECT_TRUE(failures.empty());
  EXPECT_FALSE(Exists(out + "/secret.txt"));
}

TEST_F(ExtractTest, TestingWritesNothing) {
  OpenZip({{.name = "a.txt", .data = "a"}, {.name = "b.txt", .data = "b", .crc = 1}});
  a.TestFiles(u"*.*");
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_EQ(failures[0].first, "b.txt");
  EXPECT_FALSE(Exists(out));
}

TEST_F(ExtractTest, FolderThatCannotBeCreatedIsError20) {
  OpenZip({{.name = "blocked/a.txt", .data = "a"}, {.name = "free/b.txt", .data = "b"}});
  ::mkdir(out.c_str(), 0777);
  testutil::WriteFile(out + "/blocked", "a file where the folder should be");
  a.ExtractFiles(u"*.*");
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_EQ(failures[0], (std::pair<std::string, int>{"blocked\\a.txt", 20}));
  EXPECT_EQ(ReadFile(out + "/free/b.txt"), "b");
}
