// Extraction to disk: targets, folders, overwrite rules, damage and safety.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "arcfold/arcfold.h"
#include "codec/crc32.h"
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
  void OpenZip(const std::vector<RawEntry>& entries) { OpenBytes(BuildZip(entries)); }
  // Opens the bytes as t.zip; failures are recorded and answered Ignore.
  void OpenBytes(const std::string& bytes) {
    testutil::WriteFile(dir / "t.zip", bytes);
    a.CloseArchive();
    a.SetFileName(W(dir / "t.zip"));
    a.OpenArchive();
    a.SetBaseDir(W(out));
    a.OnProcessFileFailure = [this](TAFBaseArchiver*, const afp::WideString& name, TAFProcessOperation, int native, int,
                                    const afp::WideString&, TAFAction& action) {
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
  EXPECT_TRUE(afp::GetFileAttributes(W(out + "/ro.txt")) & afp::kAttrReadOnly);
  EXPECT_EQ(afp::GetFileDosDateTime(W(out + "/ro.txt")), static_cast<int32_t>((0x5A88u << 16) | 0x7A2F));
}

TEST_F(ExtractTest, ExistingReadOnlyTargetReplacedOnlyWithReplaceReadOnly) {
  OpenZip({{.name = "ro.txt", .data = "new", .external = 0x21}});
  a.ExtractFiles(u"*.*");
  auto make_old = [&] {
    afp::SetFileAttributes(W(out + "/ro.txt"), 0);
    testutil::WriteFile(out + "/ro.txt", "old");
    afp::SetFileAttributes(W(out + "/ro.txt"), afp::kAttrReadOnly);
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
  testutil::MakeDir(out);
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
  testutil::MakeDir(out);
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
  // Where there are no drives "C:" is a folder like any other, below the
  // destination.
  EXPECT_EQ(failures.size(), afp::kDriveLetters ? 7u : 6u);
  for (const auto& f : failures) EXPECT_EQ(f.second, 19) << f.first;
  EXPECT_EQ(ReadFile(out + "/ok.txt"), "ok");
  if (!afp::kDriveLetters) {
    EXPECT_EQ(ReadFile(out + "/C:/escape5.txt"), "x");
    testutil::RemoveAll(out + "/C:");
  }
  EXPECT_EQ(testutil::FindNamed(dir.path(), {"escape", "inside"}), "");
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

#ifndef _WIN32  // Unix modes and symbolic links
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
#endif

#ifndef _WIN32  // Unix modes and symbolic links
TEST_F(ExtractTest, ExistingLinkAtTargetIsReplacedNotFollowed) {
  OpenZip({{.name = "t.txt", .data = "content"}});
  testutil::MakeDir(out);
  std::string victim = dir / "victim.txt";
  testutil::WriteFile(victim, "untouched");
  ASSERT_EQ(::symlink(victim.c_str(), (out + "/t.txt").c_str()), 0);
  a.ExtractFiles(u"*.*");
  EXPECT_EQ(ReadFile(victim), "untouched");
  EXPECT_EQ(ReadFile(out + "/t.txt"), "content");
}
#endif

TEST_F(ExtractTest, WorkingFolderCapturedAtFirstRun) {
  OpenZip({{.name = "w.txt", .data = "w"}});
  a.SetBaseDir(u"");
  std::string cwd = testutil::U(afp::GetCurrentDir());
  testutil::MakeDir((dir / "first"));
  testutil::MakeDir((dir / "second"));
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
  RawEntry stray{.name = "s.txt",
                 .data = testutil::Deflate("payload") + "JUNKJUNK",
                 .method = 8,
                 .raw = true,
                 .crc = Crc32("payload", 7),
                 .usize = 7};
  // A short deflate stream is Deflate64 too (no long lengths, no far distances).
  RawEntry d64{.name = "d64.bin",
               .data = testutil::Deflate("payload64") + "JUNK",
               .method = 9,
               .raw = true,
               .crc = Crc32("payload64", 9),
               .usize = 9};
  OpenZip({stray, d64});
  a.ExtractFiles(u"*.*");
  EXPECT_EQ(ReadFile(out + "/s.txt"), "payload");
  EXPECT_EQ(ReadFile(out + "/d64.bin"), "payload64");
  EXPECT_TRUE(failures.empty());
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
  testutil::MakeDir(out);
  testutil::WriteFile(out + "/blocked", "a file where the folder should be");
  a.ExtractFiles(u"*.*");
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_EQ(failures[0], (std::pair<std::string, int>{"blocked\\a.txt", 20}));
  EXPECT_EQ(ReadFile(out + "/free/b.txt"), "b");
}

namespace {
// An Info-ZIP unicode path field (0x7075) carrying utf8 for header_name.
std::string UnicodePathField(const std::string& header_name, const std::string& utf8) {
  std::string f = "\x75\x70";
  uint16_t size = static_cast<uint16_t>(5 + utf8.size());
  f += static_cast<char>(size & 0xFF);
  f += static_cast<char>(size >> 8);
  f += '\x01';
  uint32_t crc = Crc32(header_name.data(), header_name.size());
  for (int k = 0; k < 4; ++k) f += static_cast<char>((crc >> (8 * k)) & 0xFF);
  return f + utf8;
}

// Files under folder whose names start with ".arcfold-" (left-over temporary files).
std::string TemporaryFilesIn(const std::string& folder) { return testutil::FindNamed(folder, {".arcfold-"}); }
}  // namespace

TEST_F(ExtractTest, EmptyAndDotSegmentsNeverDropTheDestination) {
  // Run from a folder of its own: an item that lost its destination would
  // land here, as ".bashrc" once landed in a home folder.
  std::string cwd = dir / "cwd";
  testutil::MakeDir(cwd);
  afp::WideString was = afp::GetCurrentDir();
  ASSERT_TRUE(afp::SetCurrentDir(W(cwd)));
  OpenZip({{.name = ".//.bashrc", .data = "rc"},
           {.name = "a//b.txt", .data = "b"},
           {.name = "sub/./x", .data = "x"},
           {.name = "plain.txt", .data = "p", .central_extra = UnicodePathField("plain.txt", "via//field.txt")}});
  a.ExtractFiles(u"*.*");
  afp::SetCurrentDir(was);
  EXPECT_TRUE(failures.empty());
  EXPECT_EQ(ReadFile(out + "/.bashrc"), "rc");
  EXPECT_EQ(ReadFile(out + "/a/b.txt"), "b");
  EXPECT_EQ(ReadFile(out + "/sub/x"), "x");
  EXPECT_EQ(ReadFile(out + "/via/field.txt"), "p");
  EXPECT_TRUE(testutil::Entries(cwd).empty());
}

TEST_F(ExtractTest, NamesWithControlCharactersAreRefused) {
  OpenZip({{.name = std::string("safe\0evil.txt", 13), .data = "n"},
           {.name = "bell\a.txt", .data = "b"},
           {.name = "ok.txt", .data = "ok"}});
  a.ExtractFiles(u"*.*");
  ASSERT_EQ(failures.size(), 2u);
  for (const auto& f : failures) EXPECT_EQ(f.second, 19);
  EXPECT_FALSE(Exists(out + "/safe"));
  EXPECT_EQ(ReadFile(out + "/ok.txt"), "ok");
}

#ifndef _WIN32  // Unix modes and symbolic links
TEST_F(ExtractTest, LinksInsideTheDestinationAreNotWrittenThrough) {
  OpenZip({{.name = "sub/x.txt", .data = "x"}, {.name = "deep/sub/y.txt", .data = "y"}});
  std::string elsewhere = dir / "elsewhere";
  testutil::MakeDir(elsewhere);
  testutil::MakeDir(out);
  testutil::MakeDir((out + "/deep"));
  ASSERT_EQ(::symlink(elsewhere.c_str(), (out + "/sub").c_str()), 0);
  ASSERT_EQ(::symlink(elsewhere.c_str(), (out + "/deep/sub").c_str()), 0);
  a.ExtractFiles(u"*.*");
  ASSERT_EQ(failures.size(), 2u);
  for (const auto& f : failures) EXPECT_EQ(f.second, 19);
  EXPECT_FALSE(Exists(elsewhere + "/x.txt"));
  EXPECT_FALSE(Exists(elsewhere + "/y.txt"));
  // Allowed on request: the caller made the links and means them.
  failures.clear();
  a.Options().AllowLinksInDestination = true;
  a.ExtractFiles(u"*.*");
  EXPECT_TRUE(failures.empty());
  EXPECT_EQ(ReadFile(elsewhere + "/x.txt"), "x");
  EXPECT_EQ(ReadFile(elsewhere + "/y.txt"), "y");
}
#endif

TEST_F(ExtractTest, FolderEntriesEndingInBackslashAreFolders) {
  OpenZip({{.name = "win\\", .data = ""}, {.name = "win\\inner\\", .data = ""}, {.name = "after.txt", .data = "a"}});
  a.ExtractFiles(u"*.*");
  EXPECT_TRUE(failures.empty());
  EXPECT_EQ(afp::GetPathType(W(out + "/win/inner")), afp::PathType::Directory);
  EXPECT_EQ(ReadFile(out + "/after.txt"), "a");
}

TEST_F(ExtractTest, FailedReplacementKeepsTheExistingFile) {
  RawEntry bad_crc{.name = "crc.txt", .data = "new content", .crc = 1};
  RawEntry corrupt{.name = "stream.txt", .data = "\xFF\xFF\xFF garbage", .method = 8, .raw = true, .usize = 50};
  RawEntry encrypted{.name = "locked.txt", .data = std::string(12, 'h') + "ciphertext", .flags = 1, .crc = 0};
  OpenZip({bad_crc, corrupt, encrypted});
  testutil::MakeDir(out);
  for (const char* f : {"crc.txt", "stream.txt", "locked.txt"}) testutil::WriteFile(out + "/" + f, "precious");
  a.Options().OverwriteMode = omAlways;
  a.OnPassword = [](TAFBaseArchiver*, const afp::WideString&, std::string&, bool& skip) { skip = true; };
  a.ExtractFiles(u"*.*");
  EXPECT_EQ(failures.size(), 2u);
  for (const char* f : {"crc.txt", "stream.txt", "locked.txt"}) EXPECT_EQ(ReadFile(out + "/" + f), "precious") << f;
  EXPECT_EQ(TemporaryFilesIn(out), "");
}

TEST_F(ExtractTest, SkippedPasswordDoesNotExcuseALaterDamagedItem) {
  std::string zip = BuildZip({{.name = "locked.txt", .data = std::string(12, 'h') + "ciphertext", .flags = 1, .crc = 0},
                              {.name = "gone.txt", .data = "data"}});
  // The second item's local header lies past the end of the file.
  size_t c2 = zip.rfind(std::string("PK\x01\x02", 4));
  zip[c2 + 42] = zip[c2 + 43] = zip[c2 + 44] = '\x7F';
  OpenBytes(zip);
  a.OnPassword = [](TAFBaseArchiver*, const afp::WideString&, std::string&, bool& skip) { skip = true; };
  a.TestFiles(u"*.*");
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_EQ(failures[0], (std::pair<std::string, int>{"gone.txt", 8}));
}

TEST_F(ExtractTest, OverlappingItemsAreRefusedUnlessAllowed) {
  // Three central entries share one local header: the shape of a zip bomb.
  std::string zip = BuildZip({{.name = "k.txt", .data = "kernel", .method = 8}});
  size_t cd = zip.find(std::string("PK\x01\x02", 4));
  std::string central = zip.substr(cd, zip.size() - 22 - cd);
  std::string body = zip.substr(0, cd);
  std::string c2 = central, c3 = central;
  c2.replace(46, 5, "k2.tx");
  c3.replace(46, 5, "k3.tx");
  std::string all_central = central + c2 + c3;
  std::string end = zip.substr(zip.size() - 22);
  end[8] = end[10] = 3;
  uint32_t size = static_cast<uint32_t>(all_central.size());
  for (int k = 0; k < 4; ++k) end[12 + k] = static_cast<char>((size >> (8 * k)) & 0xFF);
  OpenBytes(body + all_central + end);
  ASSERT_EQ(a.ItemCount(), 3);
  a.ExtractFiles(u"*.*");
  EXPECT_EQ(failures.size(), 3u);
  EXPECT_FALSE(Exists(out + "/k.txt"));
  failures.clear();
  a.Options().AllowOverlappingItems = true;
  a.ExtractFiles(u"*.*");
  EXPECT_TRUE(failures.empty());
  EXPECT_EQ(ReadFile(out + "/k3.tx"), "kernel");
}

TEST_F(ExtractTest, CancelFromFileProgressStopsTheRunWithoutAnOverallHandler) {
  OpenZip({{.name = "big.bin", .data = std::string(300000, 'z'), .method = 8}, {.name = "next.txt", .data = "n"}});
  a.OnFileProgress = [](TAFBaseArchiver*, const afp::WideString&, double, TAFProcessOperation, TAFProgressPhase phase,
                        bool& cancel) { cancel = phase == ppProcess; };
  a.ExtractFiles(u"*.*");
  EXPECT_TRUE(a.CancelFlag());
  EXPECT_FALSE(Exists(out + "/big.bin"));
  EXPECT_FALSE(Exists(out + "/next.txt"));
  EXPECT_EQ(TemporaryFilesIn(dir.path()), "");
}

TEST_F(ExtractTest, ProgressBelongsToItsRun) {
  OpenZip({{.name = "a.txt", .data = "a"}});
  a.ExtractFiles(u"*.*");
  int events = 0;
  a.OnFileProgress = [&](TAFBaseArchiver*, const afp::WideString&, double, TAFProcessOperation, TAFProgressPhase,
                         bool&) { ++events; };
  TNullStream sink;
  a.DecodeItem(0, sink);
  EXPECT_EQ(events, 0);
}

TEST(ExtractLifecycle, ItemRunOnANeverOpenedComponentIsError13) {
  TArcfold a;
  EXPECT_EQ(testutil::NativeOf([&] { a.ProcessMarkedItems(poExtract, -1); }), 13);
}
