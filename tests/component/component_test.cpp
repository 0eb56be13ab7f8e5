#include <gtest/gtest.h>
#include <locale.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "arcfold/arcfold.h"
#include "directory/dir_manager.h"
#include "platform/files.h"
#include "test_util.h"

using namespace arcfold;
using testutil::NativeOf;
using testutil::W;

TEST(ComponentDefaults, TArcfoldConstruction) {
  TArcfold a;
  EXPECT_EQ(a.CompressionLevel(), clFastest);
  EXPECT_EQ(a.CompressionMode(), 1);
  EXPECT_EQ(a.CompressionMethod(), 8);
  EXPECT_EQ(a.Zip64Mode(), zmDisabled);
  EXPECT_EQ(a.SpanningMode(), smNone);
  EXPECT_EQ(a.EncryptionMethod(), caPkzipClassic);
  EXPECT_FALSE(a.InMemory());
  EXPECT_FALSE(a.UnicodeFilenames());
  EXPECT_FALSE(a.ExtractCorruptedFiles());
  EXPECT_TRUE(a.OpenDamagedArchives);
  EXPECT_TRUE(a.StandardSignatures());
  EXPECT_EQ(a.Options().OverwriteMode, omAlways);
  EXPECT_EQ(a.Options().StorePath, spRelativePath);
  EXPECT_EQ(a.Options().ShareMode, smShareDenyNone);
  EXPECT_EQ(a.Options().SearchAttr, 10431);
  EXPECT_TRUE(a.Options().Recurse && a.Options().CreateDirs && a.Options().ReplaceReadOnly &&
              a.Options().SetAttributes && a.Options().FlushBuffers && a.Options().OEMFileNames);
  EXPECT_EQ(a.SpanningOptions().VolumeSize, vsAutoDetect);
  EXPECT_EQ(a.VolumeInfo().VolumeNumber, -1);
  EXPECT_FALSE(a.Active());
}

TEST(ComponentDefaults, BaseClassAloneUsesAlternativeSetAndAutoZip64) {
  TAFBaseArchiver b;
  EXPECT_EQ(b.Zip64Mode(), zmAuto);
  EXPECT_FALSE(b.StandardSignatures());
  EXPECT_EQ(b.Signatures().local, 0x05045C61u);
  EXPECT_EQ(b.Signatures().end, 0x06054141u);
  EXPECT_EQ(b.CompressionMethod(), 0xFFFF);
}

TEST(ComponentProperties, CompressionLevelAndModeCouple) {
  TArcfold a;
  a.SetCompressionMode(4);
  EXPECT_EQ(a.CompressionLevel(), clNormal);
  a.SetCompressionLevel(clNormal);
  EXPECT_EQ(a.CompressionMode(), 6);
  a.SetCompressionMode(0);
  EXPECT_EQ(a.CompressionLevel(), clNone);
  EXPECT_EQ(a.CompressionMethod(), 0);
  a.SetCompressionMode(3);
  EXPECT_EQ(a.CompressionLevel(), clFastest);
  a.SetCompressionLevel(clMax);
  EXPECT_EQ(a.CompressionMode(), 9);
  EXPECT_EQ(a.CompressionMethod(), 8);
  try {
    a.SetCompressionMode(10);
    FAIL();
  } catch (const EAFException& e) {
    EXPECT_EQ(e.NativeError(), 5);
  }
  EXPECT_EQ(a.CompressionMode(), 9);
  EXPECT_EQ(a.CompressionLevel(), clMax);
}

TEST(ComponentProperties, VersionIgnoresLocaleAndWrites) {
  TArcfold a;
  const char* old = setlocale(LC_NUMERIC, nullptr);
  std::string saved = old ? old : "C";
  setlocale(LC_NUMERIC, "de_DE.UTF-8");
  a.SetCurrentVersion(u"9.99");
  EXPECT_EQ(a.CurrentVersion(), u"6.94 ");
  setlocale(LC_NUMERIC, saved.c_str());
}

TEST(ComponentProperties, SpanningOptionsAndVolumeInfo) {
  TArcfold a;
  a.SpanningOptions().SetCustomVolumeSize(1000);
  EXPECT_EQ(a.SpanningOptions().CustomVolumeSize(), 65536);
  a.SpanningOptions().VolumeSize = vs1_44MB;
  EXPECT_EQ(a.SpanningOptions().LimitOf(0), 1457664);
  a.SpanningOptions().FirstVolumeSize = 1000;
  EXPECT_EQ(a.SpanningOptions().LimitOf(0), 1000);
  EXPECT_EQ(a.SpanningOptions().LimitOf(1), 1457664);

  TAFVolumeNumberInfo last, other;
  last.LastVolumeNumber = 3;
  last.MarkLast();
  other.LastVolumeNumber = 3;
  other.SetNumber(3);
  EXPECT_TRUE(last.SameVolume(other));
  other.SetNumber(2);
  EXPECT_FALSE(last.SameVolume(other));
  TAFVolumeNumberInfo first, first2;
  first.MarkFirst();
  first2.SetNumber(0);
  EXPECT_TRUE(first.SameVolume(first2));
  TAFVolumeNumberInfo unknown1, unknown2;
  EXPECT_TRUE(unknown1.SameVolume(unknown2));
  unknown2.Kind = vkFirst;
  EXPECT_FALSE(unknown1.SameVolume(unknown2));
}

TEST(ComponentProperties, OptionsAssignCopiesEveryField) {
  TAFOptions a, b;
  b.Recurse = false;
  b.OverwriteMode = omIfNewer;
  b.ShareMode = smShareExclusive;
  b.SearchAttr = 5;
  a.Assign(b);
  EXPECT_FALSE(a.Recurse);
  EXPECT_EQ(a.OverwriteMode, omIfNewer);
  EXPECT_EQ(a.ShareMode, smShareExclusive);
  EXPECT_EQ(a.SearchAttr, 5);
}

TEST(ComponentProperties, NullStreamDiscards) {
  TNullStream n;
  char buf[4] = {1, 2, 3, 4};
  EXPECT_EQ(n.Write(buf, 4), 4);
  EXPECT_EQ(n.Read(buf, 4), 4);
  EXPECT_EQ(buf[0], 1);
  EXPECT_EQ(n.Seek(100, SeekOrigin::Begin), 0);
  EXPECT_EQ(n.Size(), 0);
}

class LifecycleTest : public ::testing::Test {
 protected:
  testutil::TempDir dir;
  TArcfold a;
};

TEST_F(LifecycleTest, BlankNamesAndMissingFiles) {
  a.SetFileName(W(dir.path() + "/"));
  EXPECT_EQ(NativeOf([&] { a.OpenArchive(); }), 9);
  EXPECT_EQ(NativeOf([&] { a.OpenArchive(fmOpenRead); }), 10);
  a.SetFileName(W(dir / "missing.zip"));
  EXPECT_EQ(NativeOf([&] { a.OpenArchive(fmOpenRead); }), 12);
  a.SetInMemory(true);
  EXPECT_EQ(NativeOf([&] { a.OpenArchive(fmOpenRead); }), 12);
  testutil::WriteFile(dir / "x.zip", "");
  a.SetFileName(W(dir / "x.zip"));
  EXPECT_EQ(NativeOf([&] { a.OpenArchive(fmOpenRead); }), 28);
  EXPECT_FALSE(a.Active());
}

TEST_F(LifecycleTest, GuardsOnItemOperations) {
  EXPECT_EQ(NativeOf([&] { a.ExtractFiles(u"*.*"); }), 13);
  a.SetFileName(W(dir / "new.zip"));
  a.OpenArchive();
  a.BeginUpdate();
  EXPECT_EQ(NativeOf([&] { a.ExtractFiles(u"*.*"); }), 26);
  a.EndUpdate();
  a.ExtractFiles(u"*.*");
}

TEST_F(LifecycleTest, CreatingAndClosingLeavesEmptyZip) {
  a.SetFileName(W(dir / "new.zip"));
  int opened = 0;
  a.AfterOpen = [&](TAFBaseArchiver*) { ++opened; };
  a.OpenArchive();
  EXPECT_EQ(a.OpenMode(), fmCreate);
  EXPECT_EQ(opened, 1);
  EXPECT_TRUE(a.Active());
  a.CloseArchive();
  a.CloseArchive();
  std::string bytes = testutil::ReadFile(dir / "new.zip");
  ASSERT_EQ(bytes.size(), 22u);
  EXPECT_EQ(bytes.substr(0, 4), std::string("PK\x05\x06", 4));
  EXPECT_EQ(bytes.substr(4), std::string(18, '\0'));
}

TEST_F(LifecycleTest, ReadOnlyArchiveOpensInMode64) {
  testutil::WriteFile(dir / "ro.zip", testutil::BuildZip({{.name = "a.txt", .data = "hi"}}));
  ::chmod((dir / "ro.zip").c_str(), 0444);
  ::chmod(dir.path().c_str(), 0755);
  // Root may write a read-only file; the check runs in a child that has
  // given up root for "nobody" when the tests run as root (as CI does).
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(3);
    TArcfold ro;
    ro.SetFileName(W(dir / "ro.zip"));
    try {
      ro.OpenArchive();
    } catch (...) {
      ::_exit(2);
    }
    ::_exit(ro.OpenMode() == (fmOpenRead | fmShareDenyNone) && ro.ItemCount() == 1 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(LifecycleTest, ExistingArchiveOpensInMode34) {
  testutil::WriteFile(dir / "rw.zip", testutil::BuildZip({{.name = "a.txt", .data = "hi"}}));
  a.SetFileName(W(dir / "rw.zip"));
  a.OpenArchive();
  EXPECT_EQ(a.OpenMode(), fmOpenReadWrite | fmShareDenyWrite);
  EXPECT_EQ(a.ItemCount(), 1);
}

TEST_F(LifecycleTest, SpanningModeRefusedWhileOpen) {
  a.SetFileName(W(dir / "new.zip"));
  a.OpenArchive();
  EXPECT_THROW(a.SetSpanningMode(smSplitting), std::runtime_error);
  try {
    a.SetSpanningMode(smSplitting);
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Cannot set spanning mode on open archive");
  }
  EXPECT_EQ(a.SpanningMode(), smNone);
}

TEST_F(LifecycleTest, InMemorySwitching) {
  a.SetInMemory(true);
  a.OpenArchive();
  EXPECT_EQ(a.ItemCount(), 0);
  a.SetFileName(W(dir.path() + "/"));
  EXPECT_EQ(NativeOf([&] { a.SetInMemory(false); }), 29);
  a.SetFileName(W(dir / "saved.zip"));
  a.SetInMemory(false);
  EXPECT_FALSE(a.InMemory());
  EXPECT_TRUE(a.Active());
  a.CloseArchive();
  EXPECT_TRUE(testutil::Exists(dir / "saved.zip"));
}

TEST_F(LifecycleTest, FileArchiveTakenIntoMemoryAndBackKeepsItsItems) {
  const std::string bytes = testutil::BuildZip({{.name = "a.txt", .data = "alpha"}, {.name = "b.txt", .data = "beta"}});
  testutil::WriteFile(dir / "f.zip", bytes);
  a.SetFileName(W(dir / "f.zip"));
  a.OpenArchive();
  a.SetInMemory(true);
  EXPECT_TRUE(a.Active());
  EXPECT_EQ(a.ItemCount(), 2);
  a.SetInMemory(false);
  EXPECT_EQ(a.ItemCount(), 2);
  a.CloseArchive();
  EXPECT_EQ(testutil::ReadFile(dir / "f.zip"), bytes);
}

TEST_F(LifecycleTest, DestroyingOpenComponentCloses) {
  {
    TArcfold b;
    b.SetFileName(W(dir / "d.zip"));
    b.OpenArchive();
  }
  EXPECT_EQ(testutil::ReadFile(dir / "d.zip").size(), 22u);
}
