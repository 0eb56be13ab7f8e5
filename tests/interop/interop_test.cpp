// Archives made by the real peer tools at test time, read and extracted by
// the component; archives made by the component checked by the peers.
#include <fmt/format.h>
#include <gtest/gtest.h>

#include "arcfold/arcfold.h"
#include "directory/dir_manager.h"
#include "test_util.h"

using namespace arcfold;
using testutil::Quote;
using testutil::Sh;
using testutil::W;

namespace {

const std::string kScripts = std::string(ARCFOLD_TEST_DATA) + "/../scripts";

class InteropTest : public ::testing::Test {
 protected:
  void SetUp() override {
    src = dir / "src";
    // A small mixed tree: text, random bytes, an empty file, an empty folder,
    // a read-only file, nested folders, a 70 KB stored-friendly file.
    ASSERT_EQ(Sh("mkdir -p " + Quote(src) + "/a/b " + Quote(src) + "/empty && cd " + Quote(src) +
                 " && seq 1 20000 > a/numbers.txt && head -c 150000 /dev/urandom > a/b/random.bin"
                 " && : > zero.txt && echo readonly > ro.txt && chmod 444 ro.txt"
                 " && head -c 70000 /dev/zero | tr '\\0' 'x' > a/b/xs.txt"
                 " && touch -d '2021-06-15 10:20:30' a/numbers.txt"),
              0);
  }

  // Lists the archive with Python's zipfile and with the component; they must agree.
  void ExpectSameListing(const std::string& zip) {
    std::string py;
    ASSERT_EQ(Sh("python3 " + Quote(kScripts + "/zipinfo.py") + " " + Quote(zip), &py), 0);
    TArcfold a;
    a.SetFileName(W(zip));
    a.OpenArchive(fmOpenRead);
    std::string ours;
    for (int i = 0; i < a.ItemCount(); ++i) {
      const TDirItem& it = a.Item(i);
      uint16_t d = it.HeaderImage.Date(), t = it.HeaderImage.Time();
      ours += fmt::format("{}|{}|{}|{:08x}|{:04}-{:02}-{:02} {:02}:{:02}:{:02}\n", testutil::U(it.ItemName),
                          it.UncompressedSize(), it.CompressedSize(), it.HeaderImage.Crc32(), ((d >> 9) & 0x7F) + 1980,
                          (d >> 5) & 0xF, d & 0x1F, t >> 11, (t >> 5) & 0x3F, (t & 0x1F) * 2);
    }
    EXPECT_EQ(ours, py) << zip;
  }

  // Extracts with the component and with unzip; the trees must be identical.
  void ExpectSameExtraction(const std::string& zip, const std::string& password = "") {
    std::string ours = dir / "ours", theirs = dir / "theirs";
    Sh("rm -rf " + Quote(ours) + " " + Quote(theirs));
    EXPECT_EQ(testutil::ExtractAll(zip, ours, password), std::vector<std::string>{}) << zip;
    std::string pw = password.empty() ? "" : " -P " + Quote(password);
    ASSERT_EQ(Sh("unzip -qo" + pw + " " + Quote(zip) + " -d " + Quote(theirs) + " 2>&1"), 0);
    std::string m1, m2;
    Sh("python3 " + Quote(kScripts + "/manifest.py") + " " + Quote(ours), &m1);
    Sh("python3 " + Quote(kScripts + "/manifest.py") + " " + Quote(theirs), &m2);
    ExpectSameTrees(m1, m2, zip);
  }

  // Writing the directory of an opened archive again gives the same bytes:
  // every header field, the name, every extra field and the end record.
  void ExpectSameDirectoryWhenRewritten(const std::string& zip) {
    std::string bytes = testutil::ReadFile(zip);
    TArcfold a;
    a.SetFileName(W(zip));
    a.OpenArchive(fmOpenRead);
    ASSERT_FALSE(a.DirManager()->Recovered());
    int64_t start = a.DirManager()->DirectoryOffset();
    TMemoryStream copy;
    copy.WriteBuffer(bytes.data(), start);
    a.DirManager()->WriteDirectory(&copy);
    EXPECT_EQ(std::string(copy.Data().begin(), copy.Data().end()), bytes) << zip;
  }

  // Manifests must agree line by line; times may differ by one 2-second
  // step, since 7-Zip's exact NTFS times are read here while unzip on Unix
  // rounds to the DOS time.
  static void ExpectSameTrees(const std::string& ours, const std::string& theirs, const std::string& what) {
    auto split = [](const std::string& s, char sep) {
      std::vector<std::string> out;
      size_t start = 0, end;
      while ((end = s.find(sep, start)) != std::string::npos) {
        out.push_back(s.substr(start, end - start));
        start = end + 1;
      }
      out.push_back(s.substr(start));
      return out;
    };
    auto a = split(ours, '\n'), b = split(theirs, '\n');
    ASSERT_EQ(a.size(), b.size()) << what << "\n" << ours << "\n---\n" << theirs;
    EXPECT_GT(a.size(), 1u);
    for (size_t i = 0; i < a.size(); ++i) {
      auto fa = split(a[i], '|'), fb = split(b[i], '|');
      ASSERT_EQ(fa.size(), fb.size()) << a[i] << " vs " << b[i];
      for (size_t k = 0; k < fa.size(); ++k) {
        if (k == 3)
          EXPECT_LE(std::abs(std::stoll(fa[k]) - std::stoll(fb[k])), 1) << a[i] << " vs " << b[i];
        else
          EXPECT_EQ(fa[k], fb[k]) << what;
      }
    }
  }

  testutil::TempDir dir;
  std::string src;
};

}  // namespace

TEST_F(InteropTest, InfoZipPlainStoredMaxAndComment) {
  for (std::string flags : {"-r", "-r0", "-r9"}) {
    std::string zip = dir / ("z" + flags + ".zip");
    ASSERT_EQ(Sh("cd " + Quote(src) + " && zip -q " + flags + " " + Quote(zip) + " ."), 0);
    ExpectSameListing(zip);
    ExpectSameExtraction(zip);
    ExpectSameDirectoryWhenRewritten(zip);
  }
  std::string zip = dir / "zc.zip";
  ASSERT_EQ(
      Sh("cd " + Quote(src) + " && zip -qr " + Quote(zip) + " . && echo 'archive comment' | zip -qz " + Quote(zip)), 0);
  TArcfold a;
  a.SetFileName(W(zip));
  a.OpenArchive(fmOpenRead);
  EXPECT_EQ(a.ArchiveComment(), "archive comment");
}

TEST_F(InteropTest, InfoZipSelfExtractorStubAdjusted) {
  std::string zip = dir / "sfx.zip", exe = dir / "sfx.exe";
  ASSERT_EQ(Sh("cd " + Quote(src) + " && zip -qr " + Quote(zip) + " . && head -c 12345 /dev/urandom | tr -d 'P' > " +
               Quote(exe) + " && cat " + Quote(zip) + " >> " + Quote(exe) + " && zip -qA " + Quote(exe)),
            0);
  TArcfold a;
  a.SetFileName(W(exe));
  a.OpenArchive(fmOpenRead);
  EXPECT_FALSE(a.DirManager()->Recovered());
  EXPECT_GT(a.DirManager()->StubLength(), 12000);
  a.CloseArchive();
  ExpectSameExtraction(exe);
}

// Without a ZIP64 record an end record field at its escape value is a value:
// Info-ZIP counts exactly 65,535 items as 0xFFFF, and every peer reads an
// archive whose directory disk or entries-on-disk field holds 0xFFFF.
TEST_F(InteropTest, InfoZipEscapeValuesWithoutZip64AreValues) {
  // 65,535 empty files: on tmpfs, where there is one, they cost a second
  // instead of many on a loaded disk.
  std::string zip = dir / "65535.zip";
  ASSERT_EQ(Sh("d=$(mktemp -d -p /dev/shm 2>/dev/null || mktemp -d -p " + Quote(dir.path()) +
               ") && cd \"$d\" && seq -f f%g 65535 | xargs touch && zip -qr " + Quote(zip) +
               " .; rc=$?; rm -rf \"$d\"; exit $rc"),
            0);
  {
    TArcfold a;
    a.SetFileName(W(zip));
    a.OpenArchive(fmOpenRead);
    EXPECT_FALSE(a.DirectoryRebuilt());
    EXPECT_FALSE(a.DirManager()->IsZip64());
    EXPECT_EQ(a.ItemCount(), 65535);
    int failures = 0;
    a.OnProcessFileFailure = [&](TAFBaseArchiver*, const afp::WideString&, TAFProcessOperation, int, int,
                                 const afp::WideString&, TAFAction& act) {
      ++failures;
      act = fxaIgnore;
    };
    a.TestFiles(u"*.*");
    EXPECT_EQ(failures, 0);
  }
  std::string small = dir / "small.zip";
  ASSERT_EQ(Sh("cd " + Quote(src) + " && zip -qr " + Quote(small) + " ."), 0);
  const std::string bytes = testutil::ReadFile(small);
  const size_t end = bytes.rfind(std::string("PK\x05\x06", 4));
  for (size_t field : {6u, 8u}) {  // the directory's disk, the entries on this disk
    std::string mutant = bytes;
    mutant[end + field] = mutant[end + field + 1] = '\xFF';
    std::string zip = dir / ("m" + std::to_string(field) + ".zip");
    testutil::WriteFile(zip, mutant);
    TArcfold a;
    a.SetFileName(W(zip));
    a.OpenArchive(fmOpenRead);
    EXPECT_FALSE(a.DirectoryRebuilt()) << field;
    a.CloseArchive();
    ExpectSameExtraction(zip);
  }
}

TEST_F(InteropTest, InfoZipUnicodeNames) {
  ASSERT_EQ(Sh("cd " + Quote(src) + " && echo hu > 'árvíztűrő.txt' && echo gr > 'αβγ.txt'"), 0);
  std::string zip = dir / "u.zip";
  ASSERT_EQ(Sh("cd " + Quote(src) + " && LC_ALL=C.UTF-8 zip -qr " + Quote(zip) + " ."), 0);
  // Info-ZIP keeps the raw UTF-8 bytes without flag bit 11 and adds its
  // Unicode Path field (which Python ignores): the names must still come out right.
  TArcfold a;
  a.SetFileName(W(zip));
  a.OpenArchive(fmOpenRead);
  int found = 0;
  for (int i = 0; i < a.ItemCount(); ++i)
    found += a.Item(i).ItemName == W("árvíztűrő.txt") || a.Item(i).ItemName == W("αβγ.txt");
  EXPECT_EQ(found, 2);
  a.CloseArchive();
  ExpectSameExtraction(zip);
}

TEST_F(InteropTest, SevenZip) {
  std::string seven = testutil::SevenZip();
  if (seven.empty()) GTEST_SKIP() << "7-Zip not installed";
  ASSERT_EQ(Sh("cd " + Quote(src) + " && echo hu > 'árvíztűrő.txt'"), 0);
  for (std::string m : {"-mm=Deflate", "-mx=0"}) {
    std::string zip = dir / ("7" + m + ".zip");
    ASSERT_EQ(Sh("cd " + Quote(src) + " && " + seven + " a -tzip -bd -bso0 " + m + " " + Quote(zip) + " ."), 0);
    ExpectSameListing(zip);
    ExpectSameExtraction(zip);
  }
}

// 7-Zip's Deflate64, what it and Windows write for large files: a file with
// repeats 50000 bytes back and long runs, one that does not compress, the
// mixed tree; plain, classic and AES. The tool gives back the tree.
TEST_F(InteropTest, SevenZipDeflate64PlainClassicAndAes) {
  std::string seven = testutil::SevenZip();
  if (seven.empty()) GTEST_SKIP() << "7-Zip not installed";
  ASSERT_EQ(Sh("cd " + Quote(src) +
               " && head -c 50000 /dev/urandom > a/block && cat a/block a/block a/block > a/far.bin && rm a/block"
               " && head -c 300000 /dev/zero >> a/far.bin && seq 1 200000 >> a/far.bin"),
            0);
  std::string want;
  ASSERT_EQ(Sh("python3 " + Quote(kScripts + "/manifest.py") + " " + Quote(src), &want), 0);
  for (std::string m : {"", " -psecret", " -psecret -mem=AES256"}) {
    std::string zip = dir / ("d64" + std::to_string(m.size()) + ".zip"), out = dir / "out";
    ASSERT_EQ(
        Sh("cd " + Quote(src) + " && " + seven + " a -tzip -bd -bso0 -mm=Deflate64" + m + " " + Quote(zip) + " ."), 0);
    Sh("rm -rf " + Quote(out));
    ASSERT_EQ(Sh(Quote(ARCFOLD_CLI) + " extract -q -p secret " + Quote(zip) + " -d " + Quote(out)), 0) << zip;
    std::string got;
    Sh("python3 " + Quote(kScripts + "/manifest.py") + " " + Quote(out), &got);
    ExpectSameTrees(got, want, zip);
  }
}

TEST_F(InteropTest, Bsdtar) {
  if (Sh("command -v bsdtar >/dev/null") != 0) GTEST_SKIP() << "bsdtar not installed";
  std::string zip = dir / "bt.zip";
  ASSERT_EQ(Sh("cd " + Quote(src) + " && bsdtar --format zip -cf " + Quote(zip) + " ."), 0);
  ExpectSameListing(zip);
  ExpectSameExtraction(zip);
}

TEST_F(InteropTest, PythonZip64DescriptorsAndUtf8) {
  for (std::string mode : {"zip64", "stream"}) {
    std::string zip = dir / (mode + ".zip");
    ASSERT_EQ(Sh("python3 " + Quote(kScripts + "/pyzip.py") + " " + mode + " " + Quote(zip) + " " + Quote(src)), 0);
    ExpectSameListing(zip);
    ExpectSameExtraction(zip);
  }
  std::string zip = dir / "utf8.zip";
  ASSERT_EQ(Sh("python3 " + Quote(kScripts + "/pyzip.py") + " utf8 " + Quote(zip)), 0);
  ExpectSameListing(zip);
  ExpectSameExtraction(zip);
}

TEST_F(InteropTest, PythonDataDescriptorsRecoveredWithoutDirectory) {
  std::string zip = dir / "stream.zip";
  ASSERT_EQ(Sh("python3 " + Quote(kScripts + "/pyzip.py") + " stream " + Quote(zip) + " " + Quote(src)), 0);
  std::string bytes = testutil::ReadFile(zip);
  size_t cd = bytes.find(std::string("PK\x01\x02", 4));
  testutil::WriteFile(zip, bytes.substr(0, cd));
  TArcfold a;
  a.SetFileName(W(zip));
  a.OpenArchive(fmOpenRead);
  EXPECT_TRUE(a.DirManager()->Recovered());
  EXPECT_EQ(a.ItemCount(), 5);
  a.SetBaseDir(W(dir / "rec"));
  int failures = 0;
  a.OnProcessFileFailure = [&](TAFBaseArchiver*, const afp::WideString&, TAFProcessOperation, int, int,
                               const afp::WideString&, TAFAction& act) {
    ++failures;
    act = fxaIgnore;
  };
  a.ExtractFiles(u"*.*");
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(testutil::ReadFile(dir / "rec/a/numbers.txt"), testutil::ReadFile(src + "/a/numbers.txt"));
}

// An item that carries data is a file, whatever folder marks it has (the
// DOS folder bit, a name ending in a backslash): extracted under its name,
// and tested by its data.
TEST_F(InteropTest, PythonItemsWithDataAreFilesWhateverTheirFolderMarks) {
  std::string zip = dir / "marks.zip";
  ASSERT_EQ(Sh("python3 " + Quote(kScripts + "/pyzip.py") + " foldermarks " + Quote(zip)), 0);
  std::vector<std::pair<std::string, int>> failures;
  auto open = [&](TArcfold& a) {
    a.SetFileName(W(zip));
    a.OpenArchive(fmOpenRead);
    a.SetBaseDir(W(dir / "marks"));
    a.OnProcessFileFailure = [&](TAFBaseArchiver*, const afp::WideString& name, TAFProcessOperation, int native, int,
                                 const afp::WideString&, TAFAction& act) {
      failures.push_back({testutil::U(name), native});
      act = fxaIgnore;
    };
  };
  {
    TArcfold a;
    open(a);
    a.ExtractFiles(u"*.*");
    EXPECT_TRUE(failures.empty());
    std::string marked;
    for (int i = 0; i < 40; ++i) marked += "data under a folder bit\n";
    EXPECT_EQ(testutil::ReadFile(dir / "marks/marked.bin"), marked);
    EXPECT_EQ(testutil::ReadFile(dir / "marks/back"), "data under a folder's name\n");
    EXPECT_EQ(testutil::ReadFile(dir / "marks/real/inner.txt"), "inside a real folder\n");
  }
  std::string bytes = testutil::ReadFile(zip);
  for (const char* data : {"data under a folder bit", "data under a folder's name"}) bytes[bytes.find(data)] ^= 1;
  testutil::WriteFile(zip, bytes);
  TArcfold a;
  open(a);
  a.TestFiles(u"*.*");
  EXPECT_EQ(failures, (std::vector<std::pair<std::string, int>>{{"marked.bin", 8}, {"back\\", 8}}));
}

TEST_F(InteropTest, PythonManyEntriesUseZip64EndRecords) {
  std::string zip = dir / "many.zip";
  ASSERT_EQ(Sh("python3 " + Quote(kScripts + "/pyzip.py") + " many " + Quote(zip) + " 70000"), 0);
  TArcfold a;
  a.SetFileName(W(zip));
  a.OpenArchive(fmOpenRead);
  EXPECT_TRUE(a.DirManager()->IsZip64());
  ASSERT_EQ(a.ItemCount(), 70000);
  EXPECT_EQ(a.Item(69999).ItemName, u"d69/f69999.txt");
  a.Options().Recurse = false;
  a.SetBaseDir(W(dir / "one"));
  a.ExtractFiles(afp::kCaseSensitiveNames ? u"d69/f69998.txt" : u"D69/F69998.TXT");
  EXPECT_EQ(testutil::ReadFile(dir / "one/d69/f69998.txt"), "69998");

  // Rewriting its directory keeps the ZIP64 end records and the peers' view.
  std::string copy = dir / "many-copy.zip";
  std::string bytes = testutil::ReadFile(zip);
  testutil::WriteFile(copy, bytes.substr(0, static_cast<size_t>(a.DirManager()->DirectoryOffset())));
  {
    TFileStream out(W(copy), fmOpenReadWrite);
    a.DirManager()->WriteDirectory(&out);
  }
  EXPECT_EQ(Sh("python3 " + Quote(kScripts + "/pyzip.py") + " test " + Quote(copy)), 0);
  EXPECT_EQ(Sh("unzip -tqq " + Quote(copy) + " >/dev/null 2>&1"), 0);
}

TEST_F(InteropTest, EmptyCreatedArchivePassesPeers) {
  std::string zip = dir / "empty.zip";
  {
    TArcfold a;
    a.SetFileName(W(zip));
    a.OpenArchive();
  }
  EXPECT_EQ(Sh("python3 " + Quote(kScripts + "/pyzip.py") + " test " + Quote(zip)), 0);
  std::string out;
  // unzip reports an empty archive with status 1 ("zipfile is empty"), not an error.
  int rc = Sh("unzip -t " + Quote(zip) + " 2>&1", &out);
  EXPECT_TRUE(rc == 0 || rc == 1) << out;
  EXPECT_EQ(out.find("error"), std::string::npos) << out;
  std::string seven = testutil::SevenZip();
  if (!seven.empty()) {
    EXPECT_EQ(Sh(seven + " t " + Quote(zip) + " >/dev/null 2>&1"), 0);
  }
}
