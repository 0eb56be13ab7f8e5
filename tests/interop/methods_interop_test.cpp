// Items compressed with bzip2, LZMA, xz and zstd: made by the peers and read
// here, written here and read by every peer that knows the method.
#include <gtest/gtest.h>

#include "arcfold/arcfold.h"
#include "test_util.h"

using testutil::Quote;
using testutil::Sh;

namespace {

const std::string kTool = ARCFOLD_CLI;
const std::string kScripts = std::string(ARCFOLD_TEST_DATA) + "/../scripts";

class MethodsInteropTest : public ::testing::Test {
 protected:
  void SetUp() override {
    src = dir / "src";
    // Text that compresses, random bytes that do not (over several of the
    // decoder's chunks), an empty file, nested folders.
    ASSERT_EQ(Sh("mkdir -p " + Quote(src) + "/a/b && cd " + Quote(src) +
                 " && seq 1 300000 > a/numbers.txt && head -c 400000 /dev/urandom > a/b/random.bin"
                 " && : > zero.txt && head -c 70000 /dev/zero | tr '\\0' 'x' > a/b/xs.txt"),
              0);
  }
  int Tool(const std::string& args, std::string* out = nullptr) {
    return Sh("cd " + Quote(dir.path()) + " && " + Quote(kTool) + " " + args + " </dev/null 2>&1", out);
  }
  // Extracts with the tool into a fresh folder; the tree must be the source's.
  void ExpectToolExtractsSource(const std::string& zip, const std::string& password = "") {
    const std::string out = dir / "out";
    Sh("rm -rf " + Quote(out));
    std::string said;
    EXPECT_EQ(Tool("x " + (password.empty() ? "" : "-p " + password + " ") + Quote(zip) + " -d " + Quote(out), &said),
              0)
        << zip << "\n"
        << said;
    EXPECT_EQ(Sh("diff -r " + Quote(src) + " " + Quote(out + "/src")), 0) << zip;
  }
  testutil::TempDir dir;
  std::string src;
};

// The peers that read a method: 7-Zip for all, libarchive for all,
// Python's zipfile for bzip2 and LZMA.
struct Written {
  const char* method;
  int code;
  int version_needed;
  bool python_reads;
};

}  // namespace

TEST_F(MethodsInteropTest, PeerMadeItemsDecodeToTheirSources) {
  const std::string in_dir = "cd " + Quote(dir.path()) + " && ";
  const struct {
    const char* name;
    std::string make;  // run in the folder above src
    const char* password;
  } kMade[] = {
      {"infozip-bzip2.zip", "zip -q -r -Z bzip2 infozip-bzip2.zip src", ""},
      {"7z-bzip2.zip", "7zz a -tzip -mm=BZip2 7z-bzip2.zip src", ""},
      {"7z-lzma.zip", "7zz a -tzip -mm=LZMA 7z-lzma.zip src", ""},
      {"7z-lzma-eos.zip", "7zz a -tzip -mm=LZMA:eos 7z-lzma-eos.zip src", ""},
      {"7z-xz.zip", "7zz a -tzip -mm=XZ 7z-xz.zip src", ""},
      {"python-bzip2.zip", "python3 " + Quote(kScripts + "/pyzip.py") + " method python-bzip2.zip src bzip2", ""},
      {"python-lzma.zip", "python3 " + Quote(kScripts + "/pyzip.py") + " method python-lzma.zip src lzma", ""},
      {"zstd.zip", "python3 " + Quote(kScripts + "/pyzip.py") + " external zstd.zip src 93 zstd -q -c", ""},
      {"xz.zip", "python3 " + Quote(kScripts + "/pyzip.py") + " external xz.zip src 95 xz -c", ""},
      {"7z-bzip2-aes.zip", "7zz a -tzip -psecret -mem=AES256 -mm=BZip2 7z-bzip2-aes.zip src", "secret"},
      {"7z-lzma-aes.zip", "7zz a -tzip -psecret -mem=AES128 -mm=LZMA 7z-lzma-aes.zip src", "secret"},
      {"7z-xz-classic.zip", "7zz a -tzip -psecret -mem=ZipCrypto -mm=XZ 7z-xz-classic.zip src", "secret"},
      {"7z-lzma-classic.zip", "7zz a -tzip -psecret -mem=ZipCrypto -mm=LZMA 7z-lzma-classic.zip src", "secret"},
  };
  for (const auto& m : kMade) {
    SCOPED_TRACE(m.name);
    ASSERT_EQ(Sh(in_dir + m.make + " >/dev/null"), 0);
    ExpectToolExtractsSource(dir / m.name, m.password);
    // The decoder's own check: damage inside the data fails the item.
    std::string listed;
    EXPECT_EQ(Tool("t " + std::string(*m.password ? "-p secret " : "") + Quote(dir / m.name), &listed), 0) << listed;
  }
  // PPMd stays unknown: its item fails, its neighbours are extracted.
  ASSERT_EQ(Sh(in_dir + "7zz a -tzip -mm=PPMd mixed.zip src/a/numbers.txt >/dev/null && "
                        "7zz a -tzip -mm=BZip2 mixed.zip src/a/b src/zero.txt >/dev/null"),
            0);
  std::string said;
  EXPECT_EQ(Tool("x " + Quote(dir / "mixed.zip") + " -d mixed", &said), 1) << said;
  EXPECT_NE(said.find("src/a/numbers.txt"), std::string::npos) << said;
  EXPECT_NE(said.find("unsupported compression format"), std::string::npos) << said;
  EXPECT_EQ(Sh("cmp " + Quote(src + "/a/b/random.bin") + " " + Quote(dir / "mixed/src/a/b/random.bin")), 0);
  EXPECT_EQ(Sh("test -e " + Quote(dir / "mixed/src/a/numbers.txt")), 1);
  std::string listing;
  EXPECT_EQ(Tool("l -v " + Quote(dir / "mixed.zip"), &listing), 0);
  EXPECT_NE(listing.find("PPMd"), std::string::npos) << listing;
  EXPECT_NE(listing.find("BZip2"), std::string::npos) << listing;
}

TEST_F(MethodsInteropTest, ItemsWrittenWithEachMethodReadInEveryPeerThatKnowsIt) {
  const Written kMethods[] = {
      {"bzip2", 12, 46, true}, {"lzma", 14, 63, true}, {"xz", 95, 63, false}, {"zstd", 93, 63, false}};
  // Plain at two levels, AES, classic, ZIP64 records, and a split set.
  const char* kWays[] = {"-1", "-9", "-6 -p secret --aes 256", "-3 -p secret", "--zip64 always", "--split 256k"};
  for (const Written& m : kMethods) {
    for (const char* way : kWays) {
      const std::string w = way;
      SCOPED_TRACE(std::string(m.method) + " " + w);
      const std::string zip = dir / "made.zip";
      Sh("rm -f " + Quote(dir.path()) + "/made.*");
      std::string said;
      ASSERT_EQ(Tool("add -r --method " + std::string(m.method) + " " + w + " made.zip src", &said), 0) << said;
      const bool encrypted = w.find("-p") != std::string::npos;
      const std::string password = encrypted ? "secret" : "";
      ExpectToolExtractsSource(zip, password);
      // The real method, also behind AES, and the reader version it needs.
      std::string listing;
      Tool("l --json " + Quote(zip), &listing);
      EXPECT_NE(listing.find("\"method\": " + std::to_string(m.code) + ","), std::string::npos) << listing;
      std::string versions;
      Sh("python3 -c 'import sys, zipfile; print(sorted({i.extract_version for i in zipfile.ZipFile(sys.argv[1])"
         ".infolist() if i.compress_type != 0}))' " +
             Quote(zip),
         &versions);
      if (w.find("split") == std::string::npos) {
        EXPECT_EQ(versions, "[" + std::to_string(m.version_needed) + "]\n") << versions;
      }
      EXPECT_EQ(Sh("7zz t " + (encrypted ? std::string("-psecret ") : "") + Quote(zip) + " >/dev/null 2>&1"), 0);
      const std::string by7z = dir / "by7z";
      Sh("rm -rf " + Quote(by7z));
      EXPECT_EQ(Sh("7zz x -y " + (encrypted ? std::string("-psecret ") : "") + "-o" + Quote(by7z) + " " + Quote(zip) +
                   " >/dev/null 2>&1"),
                0);
      EXPECT_EQ(Sh("diff -r " + Quote(src) + " " + Quote(by7z + "/src")), 0) << "7-Zip's extraction differs";
      if (encrypted || w.find("split") != std::string::npos) continue;
      const std::string bsd = dir / "bsd";
      Sh("rm -rf " + Quote(bsd) + " && mkdir -p " + Quote(bsd));
      EXPECT_EQ(Sh("bsdtar -xf " + Quote(zip) + " -C " + Quote(bsd) + " 2>&1", &said), 0) << said;
      EXPECT_EQ(Sh("diff -r " + Quote(src) + " " + Quote(bsd + "/src")), 0) << "bsdtar's extraction differs";
      if (!m.python_reads) continue;
      const std::string py = dir / "py";
      Sh("rm -rf " + Quote(py));
      EXPECT_EQ(
          Sh("python3 " + Quote(kScripts + "/zipcheck.py") + " read " + Quote(zip) + " " + Quote(py) + " 2>&1", &said),
          0)
          << said;
      EXPECT_EQ(Sh("diff -r " + Quote(src) + " " + Quote(py + "/src")), 0) << "python's extraction differs";
    }
  }
}
