// Archives written by the component, checked by the peers; archives made by
// the peers, changed by the component.
#include <gtest/gtest.h>

#include "arcfold/arcfold.h"
#include "test_util.h"

using testutil::Quote;
using testutil::Sh;

namespace {

const std::string kTool = ARCFOLD_CLI;
const std::string kScripts = std::string(ARCFOLD_TEST_DATA) + "/../scripts";

class WriteInteropTest : public ::testing::Test {
 protected:
  void SetUp() override {
    src = dir / "src";
    // Text, random bytes, an empty file, an empty folder, nested folders, and
    // names in several scripts.
    ASSERT_EQ(Sh("mkdir -p " + Quote(src) + "/a/b " + Quote(src) + "/empty && cd " + Quote(src) +
                 " && seq 1 30000 > a/numbers.txt && head -c 150000 /dev/urandom > a/b/random.bin"
                 " && : > zero.txt && printf 'árvíz' > 'a/árvíztűrő tükörfúrógép.txt'"
                 " && printf 'cjk' > '日本語.txt' && printf 'emoji' > 'emoji-😀.txt'"),
              0);
  }
  int Tool(const std::string& args, std::string* out = nullptr) {
    return Sh(Quote(kTool) + " " + args + " </dev/null 2>&1", out);
  }
  // Every peer tests the archive and extracts the same tree as the source.
  void ExpectPeersAgree(const std::string& zip, const std::string& password = "", bool unzip_can = true) {
    std::string out;
    if (unzip_can) {
      EXPECT_EQ(Sh("unzip -tq " + (password.empty() ? "" : "-P " + password + " ") + Quote(zip) + " 2>&1", &out), 0)
          << out;
    }
    EXPECT_EQ(Sh("7zz t " + (password.empty() ? "" : "-p" + password + " ") + Quote(zip) + " >/dev/null 2>&1"), 0)
        << zip;
    if (!password.empty()) return;
    std::string py = dir / "py", bsd = dir / "bsd";
    Sh("rm -rf " + Quote(py) + " " + Quote(bsd) + " && mkdir -p " + Quote(bsd));
    EXPECT_EQ(
        Sh("python3 " + Quote(kScripts + "/zipcheck.py") + " read " + Quote(zip) + " " + Quote(py) + " 2>&1", &out), 0)
        << out;
    EXPECT_EQ(Sh("diff -r " + Quote(src) + " " + Quote(py + "/src")), 0) << "python's extraction differs";
    EXPECT_EQ(Sh("bsdtar -xf " + Quote(zip) + " -C " + Quote(bsd) + " 2>&1", &out), 0) << out;
    EXPECT_EQ(Sh("diff -r " + Quote(src) + " " + Quote(bsd + "/src")), 0) << "bsdtar's extraction differs";
  }
  testutil::TempDir dir;
  std::string src;
};

}  // namespace

TEST_F(WriteInteropTest, EveryModeReadsBackInEveryPeer) {
  // A file of several chunks at every mode, so that chunks compressed apart
  // (on two cores, where allowed) join into one stream: text, noise, text.
  ASSERT_EQ(
      Sh("cd " + Quote(src) + " && { seq 1 300000; head -c 1200000 /dev/urandom; seq 5 7 2000000; } > chunks.bin"), 0);
  for (const char* level : {"-0", "-1", "-2", "-3", "-4", "-5", "-6", "-7", "-8", "-9"}) {
    SCOPED_TRACE(level);
    std::string zip = dir / (std::string("m") + level + ".zip");
    ASSERT_EQ(Sh("cd " + Quote(dir.path()) + " && " + Quote(kTool) + " add " + level + " -r " + Quote(zip) + " src"),
              0);
    ExpectPeersAgree(zip);
  }
}

TEST_F(WriteInteropTest, EncryptedArchivesOpenWithThePassword) {
  std::string classic = dir / "classic.zip";
  ASSERT_EQ(Sh("cd " + Quote(dir.path()) + " && " + Quote(kTool) + " add -r -p secret " + Quote(classic) + " src"), 0);
  ExpectPeersAgree(classic, "secret");
  for (const char* bits : {"128", "192", "256"}) {
    SCOPED_TRACE(bits);
    std::string aes = dir / (std::string("aes") + bits + ".zip");
    ASSERT_EQ(Sh("cd " + Quote(dir.path()) + " && " + Quote(kTool) + " add -r -p secret --aes " + bits + " " +
                 Quote(aes) + " src"),
              0);
    ExpectPeersAgree(aes, "secret", false);  // unzip has no AES
    std::string out = dir / (std::string("x") + bits);
    ASSERT_EQ(Sh("7zz x -psecret -o" + Quote(out) + " " + Quote(aes) + " >/dev/null"), 0);
    EXPECT_EQ(Sh("diff -r " + Quote(src) + " " + Quote(out + "/src")), 0);
    EXPECT_NE(Sh("7zz t -pwrong " + Quote(aes) + " >/dev/null 2>&1"), 0);
  }
}

TEST_F(WriteInteropTest, Zip64AlwaysAndAStubInFront) {
  std::string z64 = dir / "z64.zip";
  ASSERT_EQ(Sh("cd " + Quote(dir.path()) + " && " + Quote(kTool) + " add -r --zip64 always " + Quote(z64) + " src"), 0);
  ExpectPeersAgree(z64);
  std::string stub = dir / "stub.bin", sfx = dir / "sfx.zip";
  testutil::WriteFile(stub, std::string(4096, 'S'));
  ASSERT_EQ(Sh("cd " + Quote(dir.path()) + " && " + Quote(kTool) + " add -r --sfx " + Quote(stub) + " " + Quote(sfx) +
               " src"),
            0);
  EXPECT_EQ(testutil::ReadFile(sfx).substr(0, 4096), std::string(4096, 'S'));
  ExpectPeersAgree(sfx);
}

TEST_F(WriteInteropTest, ChangesToPeerArchivesKeepEveryOtherItemByteForByte) {
  std::string py_stream = dir / "py-stream.zip";
  ASSERT_EQ(Sh("python3 " + Quote(kScripts + "/pyzip.py") + " stream " + Quote(py_stream) + " " + Quote(src)), 0);
  const std::pair<std::string, std::string> makers[] = {
      {"infozip", "zip -qr {} src"}, {"7zip", "7zz a -tzip {} src >/dev/null"}, {"python-stream", ""}};
  for (const auto& [maker, command] : makers) {
    SCOPED_TRACE(maker);
    std::string zip = dir / (maker + ".zip");
    if (command.empty()) {
      Sh("cp " + Quote(py_stream) + " " + Quote(zip));
    } else {
      std::string c = command;
      c.replace(c.find("{}"), 2, Quote(zip));
      ASSERT_EQ(Sh("cd " + Quote(dir.path()) + " && " + c), 0);
    }
    std::string original = dir / (maker + "-original.zip");
    Sh("cp " + Quote(zip) + " " + Quote(original));
    const std::string victim = maker == "python-stream" ? "zero.txt" : "src/zero.txt";
    const std::string moved = maker == "python-stream" ? "a/numbers.txt" : "src/a/numbers.txt";
    std::string out;
    ASSERT_EQ(Tool("delete " + Quote(zip) + " " + Quote(victim), &out), 0) << out;
    ASSERT_EQ(Tool("rename " + Quote(zip) + " " + Quote(moved) + " renamed.txt", &out), 0) << out;
    // update replaces one item from a newer file and adds a new one.
    const std::string updated = maker == "python-stream" ? "a/b/random.bin" : "src/a/b/random.bin";
    std::string stage = dir / ("stage-" + maker);
    ASSERT_EQ(Sh("mkdir -p " + Quote(stage + "/" + updated.substr(0, updated.rfind('/'))) +
                 " && head -c 5000 /dev/urandom > " + Quote(stage + "/" + updated) + " && touch -d '2040-01-01' " +
                 Quote(stage + "/" + updated) + " && echo fresh > " + Quote(stage + "/fresh.txt")),
              0);
    ASSERT_EQ(Sh("cd " + Quote(stage) + " && " + Quote(kTool) + " update " + Quote(zip) + " " + Quote(updated) +
                     " fresh.txt </dev/null 2>&1",
                 &out),
              0)
        << out;
    // move stores a file and removes it from the disk.
    testutil::WriteFile(stage + "/moved-in.txt", "moved");
    ASSERT_EQ(Sh("cd " + Quote(stage) + " && " + Quote(kTool) + " move " + Quote(zip) + " moved-in.txt </dev/null 2>&1",
                 &out),
              0)
        << out;
    EXPECT_FALSE(testutil::Exists(stage + "/moved-in.txt"));
    EXPECT_EQ(Sh("python3 " + Quote(kScripts + "/zipcheck.py") + " kept " + Quote(original) + " " + Quote(zip) + " " +
                     Quote(victim) + " " + Quote(moved) + " " + Quote(updated) + " 2>&1",
                 &out),
              0)
        << out;
    EXPECT_EQ(Sh("python3 " + Quote(kScripts + "/zipcheck.py") + " read " + Quote(zip) + " 2>&1", &out), 0) << out;
    EXPECT_EQ(Sh("unzip -tq " + Quote(zip) + " 2>&1", &out), 0) << out;
    std::string listing;
    Tool("list " + Quote(zip), &listing);
    EXPECT_NE(listing.find("renamed.txt"), std::string::npos);
    EXPECT_NE(listing.find("fresh.txt"), std::string::npos);
    EXPECT_NE(listing.find("moved-in.txt"), std::string::npos);
    EXPECT_EQ(Sh("cd " + Quote(stage) + " && unzip -p " + Quote(zip) + " " + Quote(updated) + " | cmp - " +
                 Quote(stage + "/" + updated)),
              0);
    EXPECT_EQ(listing.find(" " + victim + "\n"), std::string::npos);
  }
}

TEST_F(WriteInteropTest, ItemsOfOneNameOrOfNamesDifferingInCaseKeepTheirOwnData) {
  // Pairs like these are in the Linux kernel tree; Python writes a name twice.
  const std::string pyzip = "python3 " + Quote(kScripts + "/pyzip.py");
  ASSERT_EQ(Sh("cd " + Quote(dir.path()) +
               " && mkdir k && printf upper > k/xt_CONNMARK.h && printf lower > "
               "k/xt_connmark.h && printf other > other.txt"),
            0);
  auto dump = [&](const std::string& zip) {
    std::string out;
    EXPECT_EQ(Sh(pyzip + " dump " + Quote(zip), &out), 0) << zip;
    return out;
  };
  std::string out;
  const std::string ours = dir / "ours.zip";
  ASSERT_EQ(Sh("cd " + Quote(dir.path()) + " && " + Quote(kTool) + " add -r " + Quote(ours) + " k"), 0);
  EXPECT_EQ(dump(ours), "k/=\nk/xt_CONNMARK.h=upper\nk/xt_connmark.h=lower\n");
  ASSERT_EQ(Tool("extract " + Quote(ours) + " -d " + Quote(dir / "x"), &out), 0) << out;
  EXPECT_EQ(Sh("diff -r " + Quote(dir / "k") + " " + Quote(dir / "x/k")), 0);

  const std::string pair = dir / "pair.zip", dup = dir / "dup.zip";
  ASSERT_EQ(Sh("cd " + Quote(dir.path()) + " && zip -qr pair.zip k"), 0);
  ASSERT_EQ(Sh(pyzip + " members " + Quote(dup) + " a.txt one b.txt two a.txt three 2>/dev/null"), 0);
  struct Change {
    std::string archive, command, after;
  };
  const Change changes[] = {
      {pair, "add {} other.txt", "k/=\nk/xt_CONNMARK.h=upper\nk/xt_connmark.h=lower\nother.txt=other\n"},
      {pair, "delete {} k/xt_connmark.h", "k/=\nk/xt_CONNMARK.h=upper\n"},
      {pair, "rename {} k/xt_CONNMARK.h k/upper.h", "k/=\nk/upper.h=upper\nk/xt_connmark.h=lower\n"},
      {dup, "add {} other.txt", "a.txt=one\nb.txt=two\na.txt=three\nother.txt=other\n"},
      {dup, "delete {} b.txt", "a.txt=one\na.txt=three\n"},
      {dup, "rename {} b.txt c.txt", "a.txt=one\nc.txt=two\na.txt=three\n"},
  };
  for (const auto& change : changes) {
    SCOPED_TRACE(change.command + " on " + change.archive);
    const std::string zip = dir / "changed.zip";
    std::string command = change.command;
    command.replace(command.find("{}"), 2, Quote(zip));
    ASSERT_EQ(Sh("cp " + Quote(change.archive) + " " + Quote(zip) + " && cd " + Quote(dir.path()) + " && " +
                     Quote(kTool) + " " + command + " </dev/null 2>&1",
                 &out),
              0)
        << out;
    EXPECT_EQ(dump(zip), change.after);
    EXPECT_EQ(Sh("unzip -tq " + Quote(zip) + " 2>&1", &out), 0) << out;
  }
}

TEST_F(WriteInteropTest, AnItemOver4GiBFromASparseFile) {
#ifdef ARCFOLD_SANITIZED
  GTEST_SKIP() << "4.5 GB through the sanitizers takes minutes; the release tree runs it";
#endif
  // 4.5 GB of holes and a few bytes at the end: quick to read, small to store.
  std::string big = dir / "sparse.bin", zip = dir / "big.zip";
  ASSERT_EQ(Sh("truncate -s 4500M " + Quote(big) + " && echo tail >> " + Quote(big)), 0);
  std::string out;
  ASSERT_EQ(Tool("add -1 " + Quote(zip) + " " + Quote(big), &out), 0) << out;
  EXPECT_EQ(Sh("7zz t " + Quote(zip) + " >/dev/null 2>&1"), 0);
  EXPECT_EQ(Sh("python3 -c \"import zipfile,sys; z=zipfile.ZipFile(sys.argv[1]); i=z.infolist()[0];"
               " sys.exit(0 if i.file_size == 4718592005 and z.testzip() is None else 1)\" " +
               Quote(zip)),
            0);
  // Without ZIP64 the item is refused: an existing archive stays as it was,
  // a new one is not left behind.
  std::string small = dir / "small.zip";
  ASSERT_EQ(Tool("add " + Quote(small) + " " + Quote(src + "/zero.txt")), 0);
  const std::string before = testutil::ReadFile(small);
  EXPECT_EQ(Tool("add --zip64 never " + Quote(small) + " " + Quote(big), &out), 1);
  EXPECT_NE(out.find("Native error: 00043"), std::string::npos) << out;
  EXPECT_TRUE(testutil::ReadFile(small) == before);
  EXPECT_EQ(Tool("add --zip64 never " + Quote(dir / "new.zip") + " " + Quote(big)), 1);
  EXPECT_FALSE(testutil::Exists(dir / "new.zip"));
}

TEST_F(WriteInteropTest, UnixModesTravelWithTheItems) {
  // A script, a read-only file, a private file and a private folder.
  const std::string modes = dir / "modes", zip = dir / "modes.zip";
  auto output = [](const std::string& command) {
    std::string out;
    Sh(command + " </dev/null 2>&1", &out);
    return out;
  };
  ASSERT_EQ(Sh("mkdir -p " + Quote(modes) + "/private && cd " + Quote(modes) +
               " && printf '#!/bin/sh\\necho ran\\n' > run.sh && echo ro > ro.txt && echo mine > mine.txt"
               " && chmod 755 run.sh && chmod 444 ro.txt && chmod 600 mine.txt && chmod 700 private"),
            0);
  ASSERT_EQ(Sh("cd " + Quote(modes) + " && " + Quote(kTool) + " add -r " + Quote(zip) +
               " run.sh ro.txt mine.txt private </dev/null"),
            0);
  // Python's view: the Unix host, the mode above, the DOS bits below.
  EXPECT_EQ(output("python3 -c \"import zipfile,sys\n"
                   "for i in zipfile.ZipFile(sys.argv[1]).infolist():"
                   " print(i.filename, i.create_system, oct(i.external_attr >> 16), hex(i.external_attr & 0xFF))\" " +
                   Quote(zip)),
            "run.sh 3 0o100755 0x20\n"
            "ro.txt 3 0o100444 0x21\n"
            "mine.txt 3 0o100600 0x20\n"
            "private/ 3 0o40700 0x10\n");
  EXPECT_NE(output("zipinfo " + Quote(zip)).find("-rwxr-xr-x  2.0 unx"), std::string::npos);
  // unzip and the tool itself give the files their modes back.
  for (const std::string& extract : {std::string("unzip -q -d "), Quote(kTool) + " extract -d "}) {
    SCOPED_TRACE(extract);
    const std::string x = dir / "x";
    testutil::RemoveAll(x);
    EXPECT_EQ(output(extract + Quote(x) + " " + Quote(zip)), "");
    EXPECT_EQ(output("cd " + Quote(x) + " && stat -c '%n %a' run.sh ro.txt mine.txt && ./run.sh"),
              "run.sh 755\nro.txt 444\nmine.txt 600\nran\n");
  }
}

TEST_F(WriteInteropTest, NameEncodingsEveryPeerReads) {
  // OEM (CP437) or ANSI (CP1252) names, each with and without the
  // component's unicode-name field; names outside the page go as UTF-8.
  for (bool oem : {true, false}) {
    for (bool unicode_field : {false, true}) {
      SCOPED_TRACE(std::string(oem ? "oem" : "ansi") + (unicode_field ? " with" : " without") + " the field");
      std::string zip = dir / (std::string("names-") + (oem ? "oem" : "ansi") + (unicode_field ? "-u" : "") + ".zip");
      arcfold::TArcfold w;
      w.Options().OEMFileNames = oem;
      w.SetUnicodeFilenames(unicode_field);
      w.SetFileName(testutil::W(zip));
      w.SetBaseDir(testutil::W(dir.path()));
      w.OpenArchive();
      w.AddFiles(u"src");
      w.CloseArchive();
      ExpectPeersAgree(zip);
    }
  }
}

TEST_F(WriteInteropTest, ToolNamesBeyondAsciiAreUtf8UnlessOemNamesAsked) {
  // "Ünnepi étlap" fits the OEM page: unflagged, other readers would decode
  // it by a code page of their own (CP852 bytes read as CP437, ...).
  ASSERT_EQ(Sh("printf 'menu' > " + Quote(src + "/Ünnepi étlap.txt")), 0);
  auto files_with_flags = [&](const std::string& zip) {
    std::string out;
    Sh("python3 -c \"import zipfile,sys\n"
       "for i in sorted(zipfile.ZipFile(sys.argv[1]).infolist(), key=lambda i: i.filename):\n"
       " if not i.is_dir(): print(i.filename, ('utf8' if i.flag_bits & 0x800 else 'plain') + (' +u' if b'NUCX' in "
       "i.extra else ''))\" " +
           Quote(zip),
       &out);
    return out;
  };
  std::string portable = dir / "portable.zip", legacy = dir / "legacy.zip";
  ASSERT_EQ(Sh("cd " + Quote(dir.path()) + " && " + Quote(kTool) + " add -r " + Quote(portable) + " src"), 0);
  // Only the names beyond ASCII carry the unicode-name field (+u): a plain
  // name reads back the same without it.
  EXPECT_EQ(files_with_flags(portable),
            "src/a/b/random.bin plain\nsrc/a/numbers.txt plain\nsrc/a/árvíztűrő tükörfúrógép.txt utf8 +u\n"
            "src/emoji-😀.txt utf8 +u\nsrc/zero.txt plain\nsrc/Ünnepi étlap.txt utf8 +u\nsrc/日本語.txt utf8 +u\n");
  ExpectPeersAgree(portable);
  // unzip, 7-Zip and the tool list the same names.
  std::string unzip_names, sevenzip_names, tool_names;
  ASSERT_EQ(Sh("unzip -Z1 " + Quote(portable) + " | grep -v '/$' | LC_ALL=C sort", &unzip_names), 0);
  ASSERT_EQ(
      Sh("7zz l -slt " + Quote(portable) + " | awk '/^Path = /{p=substr($0,8)} /^Folder = -/{print p}' | LC_ALL=C sort",
         &sevenzip_names),
      0);
  ASSERT_EQ(Sh(Quote(kTool) + " list --json " + Quote(portable) +
                   " | python3 -c \"import json,sys\nfor i in json.load(sys.stdin):\n"
                   " if not i['name'].endswith('/'): print(i['name'])\" | LC_ALL=C sort",
               &tool_names),
            0);
  EXPECT_EQ(sevenzip_names, unzip_names);
  EXPECT_EQ(tool_names, unzip_names);
  // --oem-names keeps the legacy form for old readers: the name that fits
  // the page goes unflagged in its OEM bytes, the others as UTF-8 still.
  ASSERT_EQ(Sh("cd " + Quote(dir.path()) + " && " + Quote(kTool) + " add --oem-names -r " + Quote(legacy) + " src"), 0);
  EXPECT_EQ(files_with_flags(legacy),
            "src/a/b/random.bin plain\nsrc/a/numbers.txt plain\nsrc/a/árvíztűrő tükörfúrógép.txt utf8\n"
            "src/emoji-😀.txt utf8\nsrc/zero.txt plain\nsrc/Ünnepi étlap.txt plain\nsrc/日本語.txt utf8\n");
}
