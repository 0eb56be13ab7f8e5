// The platform layer's file services, the same expectations on every
// system: what the library relies on when it extracts, replaces and dates
// files, whatever calls stand behind them.
#include "platform/files.h"

#include <gtest/gtest.h>

#include <algorithm>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "platform/codepage.h"
#include "platform/file_io.h"
#include "test_util.h"

namespace {

using testutil::W;

class FilesTest : public ::testing::Test {
 protected:
  testutil::TempDir dir;
  std::string Path(const std::string& name) const { return dir / name; }
};

TEST_F(FilesTest, DosTimesComeBackAsTheyWereSetAndFilesKeepTheirAttributes) {
  const std::string f = Path("dated.txt");
  testutil::WriteFile(f, "x");
  // 2019-07-14 13:45:58 local time; DOS times hold even seconds.
  const uint16_t date = ((2019 - 1980) << 9) | (7 << 5) | 14, time = (13 << 11) | (45 << 5) | 29;
  ASSERT_TRUE(afp::SetFileDosDateTime(W(f), date, time));
  EXPECT_EQ(afp::GetFileDosDateTime(W(f)), static_cast<int32_t>((uint32_t{date} << 16) | time));
  EXPECT_EQ(afp::UnixToDosDateTime(afp::DosDateTimeToUnix(date, time)), (uint32_t{date} << 16) | time);

  ASSERT_TRUE(afp::SetFileAttributes(W(f), afp::kAttrReadOnly));
  EXPECT_TRUE(afp::GetFileAttributes(W(f)) & afp::kAttrReadOnly);
  ASSERT_TRUE(afp::SetFileAttributes(W(f), 0));
  EXPECT_FALSE(afp::GetFileAttributes(W(f)) & afp::kAttrReadOnly);
  EXPECT_EQ(afp::GetFileAttributes(W(Path("missing"))), afp::kInvalidAttributes);
  EXPECT_TRUE(afp::GetFileAttributes(W(dir.path())) & afp::kAttrDirectory);
#ifdef _WIN32
  // Windows keeps hidden and system for real.
  ASSERT_TRUE(afp::SetFileAttributes(W(f), afp::kAttrHidden | afp::kAttrSystem));
  EXPECT_EQ(afp::GetFileAttributes(W(f)) & (afp::kAttrHidden | afp::kAttrSystem), afp::kAttrHidden | afp::kAttrSystem);
#endif
}

TEST_F(FilesTest, OpeningCreatingAndReplacingFiles) {
  std::string why;
  EXPECT_EQ(afp::OpenFile(W(dir.path()), afp::FileOpen::Read, &why), afp::kNoFile);
  EXPECT_FALSE(why.empty());
  why.clear();
  EXPECT_EQ(afp::OpenFile(W(Path("missing")), afp::FileOpen::Read, &why), afp::kNoFile);
  EXPECT_FALSE(why.empty());

  const std::string target = Path("target.txt"), temp = Path("temp.tmp");
  testutil::WriteFile(target, "old contents");
  EXPECT_EQ(afp::OpenFile(W(target), afp::FileOpen::CreateNew, nullptr), afp::kNoFile);
  afp::FileHandle h = afp::OpenFile(W(temp), afp::FileOpen::CreateNew, nullptr);
  ASSERT_NE(h, afp::kNoFile);
  // Positioned writes past the end, a read back, and the size.
  EXPECT_EQ(afp::WriteFileAt(h, "new", 3, 5), 3);
  EXPECT_EQ(afp::WriteFileAt(h, "12345", 5, 0), 5);
  char back[8] = {};
  EXPECT_EQ(afp::ReadFileAt(h, back, 8, 0), 8);
  EXPECT_EQ(std::string(back, 8), "12345new");
  EXPECT_EQ(afp::ReadFileAt(h, back, 8, 8), 0);
  EXPECT_EQ(afp::FileSizeOf(h), 8);
  EXPECT_TRUE(afp::SetFileSizeOf(h, 5));
  EXPECT_EQ(afp::FileSizeOf(h), 5);
  afp::CloseFile(h);
  // Opened with its stamp in one look: a folder is refused as OpenFile
  // refuses it, and the stamp is the one a look by name gives.
  afp::FileStamp stamp;
  EXPECT_EQ(afp::OpenFileStamped(W(dir.path()), stamp), afp::kNoFile);
  EXPECT_EQ(afp::OpenFileStamped(W(Path("missing")), stamp), afp::kNoFile);
  h = afp::OpenFileStamped(W(temp), stamp);
  ASSERT_NE(h, afp::kNoFile);
  EXPECT_EQ(stamp, afp::GetFileStamp(W(temp)));
  EXPECT_EQ(stamp.size, 5);
  afp::CloseFile(h);

  // The replacement takes the name of the file that is there, in one step,
  // read-only or not.
  ASSERT_TRUE(afp::SetFileAttributes(W(target), afp::kAttrReadOnly));
  ASSERT_TRUE(afp::ReplaceFile(W(temp), W(target)));
  EXPECT_EQ(testutil::ReadFile(target), "12345");
  EXPECT_FALSE(testutil::Exists(temp));
  ASSERT_TRUE(afp::RenameFile(W(target), W(Path("renamed.txt"))));
  EXPECT_EQ(testutil::Entries(dir.path()), std::vector<std::string>{"renamed.txt"});
  // A listing that tells what its entries are says what a look at each
  // says.
  ASSERT_TRUE(afp::CreateDir(W(Path("folder"))));
  const std::vector<afp::DirEntry> entries = afp::ListDirectoryEntries(W(dir.path()));
  EXPECT_EQ(entries.size(), 2u);
  for (const afp::DirEntry& e : entries) {
    const afp::PathType looked = afp::GetPathType(W(Path(testutil::U(e.name))));
    EXPECT_NE(looked, afp::PathType::None) << testutil::U(e.name);
    if (e.type != afp::PathType::None) {
      EXPECT_EQ(e.type, looked) << testutil::U(e.name);
    }
  }
  // A listing with each entry's info finds what a look at it by its path
  // finds: links followed, one that leads nowhere found as nothing, and
  // names no path leads to (a "\" read as a separator, bytes that are not
  // UTF-8) found as nothing too.
  ASSERT_TRUE(afp::SetFileAttributes(W(Path("renamed.txt")), afp::kAttrReadOnly));
#ifndef _WIN32
  ASSERT_EQ(::symlink("renamed.txt", Path("link.txt").c_str()), 0);
  ASSERT_EQ(::symlink("missing", Path("broken").c_str()), 0);
  testutil::WriteFile(Path("back\\slash.txt"), "x");
  testutil::WriteFile(Path("\xff.txt"), "x");
#endif
  for (const afp::DirEntry& e : afp::ListDirectoryInfo(W(dir.path()))) {
    const afp::FileInfo looked = afp::GetFileInfo(W(Path(testutil::U(e.name))));
    ASSERT_EQ(e.info.exists, looked.exists) << testutil::U(e.name);
    EXPECT_EQ(e.info.directory, looked.directory) << testutil::U(e.name);
    EXPECT_EQ(e.info.attributes, looked.attributes) << testutil::U(e.name);
    EXPECT_EQ(e.info.dos_time, looked.dos_time) << testutil::U(e.name);
    EXPECT_EQ(e.info.unix_mode, looked.unix_mode) << testutil::U(e.name);
  }
#ifndef _WIN32
  EXPECT_TRUE(afp::DeleteFile(W(Path("link.txt"))));
  EXPECT_TRUE(afp::DeleteFile(W(Path("broken"))));
  EXPECT_EQ(::unlink(Path("back\\slash.txt").c_str()), 0);
  EXPECT_EQ(::unlink(Path("\xff.txt").c_str()), 0);
#endif
  ASSERT_TRUE(afp::SetFileAttributes(W(Path("renamed.txt")), 0));
  EXPECT_TRUE(afp::RemoveDir(W(Path("folder"))));
  EXPECT_TRUE(afp::DeleteFile(W(Path("renamed.txt"))));
  EXPECT_FALSE(afp::DeleteFile(W(dir.path())));  // a folder is not a file
}

// Temporary names land inside the folder given with or without its final
// separator; those of processes that no longer run are deleted by the next
// look at the folder, and nothing else is.
TEST_F(FilesTest, TemporaryNamesStayInTheirFolderAndDeadProcessesLeaveNone) {
  const std::string sub = Path("sub");
  testutil::MakeDir(sub);
  auto slashed = [](std::string s) {
    std::replace(s.begin(), s.end(), '\\', '/');
    return s;
  };
  const std::string bare = slashed(testutil::U(afp::UniqueTempName(W(sub))));
  EXPECT_EQ(bare.rfind(slashed(sub) + "/.arcfold-", 0), 0u) << bare;
  EXPECT_EQ(slashed(testutil::U(afp::UniqueTempName(W(sub + "/")))).rfind(slashed(sub) + "/.arcfold-", 0), 0u);

  const std::string own = slashed(testutil::U(afp::UniqueTempName(W(sub))));
  testutil::WriteFile(own, "ours, still running");
  // Process ids beyond any system's range belong to nobody.
  testutil::WriteFile(sub + "/.arcfold-2147483600-3.tmp", "left by a killed run");
  testutil::WriteFile(sub + "/.arcfold-x-3.tmp", "not one of ours");
  testutil::WriteFile(sub + "/keep.txt", "a file");
  EXPECT_TRUE(afp::ProcessExists(static_cast<int64_t>(std::stoll(own.substr(own.find(".arcfold-") + 9)))));
  EXPECT_FALSE(afp::ProcessExists(2147483600));
  afp::RemoveDeadTempFiles(W(sub));
  const std::string own_name = own.substr(own.find_last_of('/') + 1);
  EXPECT_EQ(testutil::Entries(sub), (std::vector<std::string>{own_name, ".arcfold-x-3.tmp", "keep.txt"}));
}

TEST_F(FilesTest, FoldersDeeperThanTheClassicPathLimit) {
  // 300 characters and more below the temporary folder: Windows needs its
  // long-path form for these, and the layer gives it.
  std::string deep = dir.path();
  for (int i = 0; i < 8; ++i) deep += "/" + std::string(40, static_cast<char>('a' + i));
  ASSERT_GT(deep.size(), 300u);
  ASSERT_TRUE(afp::ForceDirectories(W(deep)));
  EXPECT_TRUE(afp::DirectoryExists(W(deep)));
  const std::string file = deep + "/Árvíztűrő tükörfúrógép.txt";
  afp::FileHandle h = afp::OpenFile(W(file), afp::FileOpen::Create, nullptr);
  ASSERT_NE(h, afp::kNoFile);
  EXPECT_EQ(afp::WriteFileAt(h, "mély", 5, 0), 5);
  afp::CloseFile(h);
  EXPECT_TRUE(afp::FileExists(W(file)));
  EXPECT_EQ(afp::ListDirectory(W(deep)), std::vector<afp::WideString>{W("Árvíztűrő tükörfúrógép.txt")});
  EXPECT_GE(afp::FreeDiskSpace(W(deep + "/not-yet")), 0);
  EXPECT_TRUE(afp::DeleteFile(W(file)));
  EXPECT_TRUE(afp::RemoveDir(W(deep)));
  // A file in the way is not a folder.
  testutil::WriteFile(Path("plain"), "");
  EXPECT_FALSE(afp::ForceDirectories(W(Path("plain/sub"))));
}

TEST(CodePagesTest, HungarianLettersInTheOemAndAnsiPagesAndTheirCase) {
  // The same bytes whatever converter built the tables.
  EXPECT_EQ(afp::CodePage::Get(852).Decode("\x8B\xFB\x8A\xEB"), u"őűŐŰ");
  EXPECT_EQ(afp::CodePage::Get(1250).Decode("\xF5\xFB\xD5\xDB"), u"őűŐŰ");
  EXPECT_EQ((afp::CodePagePair{1250, 852}.OemToAnsi("\x8B")), "\xF5");
  bool lossless = true;
  EXPECT_EQ(afp::CodePage::Get(852).Encode(u"a–b", &lossless), "a?b");
  EXPECT_FALSE(lossless);
  EXPECT_EQ(afp::UpperCase(u"árvíztűrő"), u"ÁRVÍZTŰRŐ");
  EXPECT_EQ(afp::LowerCase(u"TÜKÖRFÚRÓGÉP"), u"tükörfúrógép");
  EXPECT_TRUE(afp::CharsEqualIgnoreCase(u'ő', u'Ő'));
  EXPECT_FALSE(afp::CharsEqualIgnoreCase(u'o', u'ő'));
  EXPECT_THROW(afp::CodePage::Get(12345), std::invalid_argument);  // no such page
}

}  // namespace
