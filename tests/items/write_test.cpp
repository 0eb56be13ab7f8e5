// Adding, deleting and renaming items: the encode pipeline, transactions,
// and a commit that leaves the archive whole whatever happens.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <random>

#include "arcfold/arcfold.h"
#include "codec/encode.h"
#include "platform/files.h"
#include "test_util.h"

using namespace arcfold;
using testutil::NativeOf;
using testutil::ReadFile;
using testutil::W;

namespace {

// Bytes that compress somewhat: text with some noise.
std::string Mixed(size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s;
  s.reserve(size);
  while (s.size() < size) s += "line " + std::to_string(rng() % 1000) + (rng() % 7 ? " text\n" : "\x01\xff\n");
  s.resize(size);
  return s;
}

// A stream that says it is bigger than what it delivers.
class ShortStream : public TStream {
 public:
  explicit ShortStream(int64_t claimed) : claimed_(claimed) {}
  int64_t Read(void* buffer, int64_t count) override {
    int64_t n = std::clamp<int64_t>(9 - pos_, 0, count);
    std::memcpy(buffer, "only this" + pos_, static_cast<size_t>(n));
    pos_ += n;
    return n;
  }
  int64_t Write(const void*, int64_t) override { return 0; }
  int64_t Seek(int64_t offset, SeekOrigin origin) override {
    pos_ = origin == SeekOrigin::Begin ? offset : origin == SeekOrigin::Current ? pos_ + offset : claimed_ + offset;
    return pos_;
  }
  int64_t Size() override { return claimed_; }
  void SetSize(int64_t) override {}

 private:
  int64_t claimed_;
  int64_t pos_ = 0;
};

// A source read front to back only, as a pipe is: it cannot be read twice.
class OneWayStream : public TStream {
 public:
  explicit OneWayStream(std::string data) : data_(std::move(data)) {}
  int64_t Read(void* buffer, int64_t count) override {
    const int64_t n = std::clamp<int64_t>(static_cast<int64_t>(data_.size()) - pos_, 0, count);
    std::memcpy(buffer, data_.data() + pos_, static_cast<size_t>(n));
    pos_ += n;
    return n;
  }
  int64_t Write(const void*, int64_t) override { return 0; }
  int64_t Seek(int64_t, SeekOrigin) override { return pos_; }  // stays where it is
  int64_t Size() override { return static_cast<int64_t>(data_.size()); }
  void SetSize(int64_t) override {}

 private:
  std::string data_;
  int64_t pos_ = 0;
};

std::string TemporaryFilesIn(const std::string& folder) { return testutil::FindNamed(folder, {".arcfold-"}); }

class WriteTest : public ::testing::Test {
 protected:
  void Create(const std::vector<std::pair<std::string, std::string>>& items) {
    TArcfold w;
    w.SetFileName(W(zip));
    w.OpenArchive();
    w.BeginUpdate();
    for (const auto& [name, data] : items) w.AddFromBuffer(W(name), data.data(), static_cast<int64_t>(data.size()));
    w.EndUpdate();
    w.CloseArchive();
  }
  // name -> content of every item, extracted by the component.
  std::map<std::string, std::string> Contents(const std::string& password = "") {
    std::string out = dir / "read";
    testutil::RemoveAll(out);
    EXPECT_EQ(testutil::ExtractAll(zip, out, password), std::vector<std::string>{});
    std::map<std::string, std::string> m;
    TArcfold r;
    r.SetFileName(W(zip));
    r.OpenArchive(fmOpenRead);
    for (int i = 0; i < r.ItemCount(); ++i) {
      std::string name = testutil::U(r.Item(i).ItemName);
      if (!r.Item(i).IsDirectory()) m[name] = ReadFile(out + "/" + name);
    }
    return m;
  }
  testutil::TempDir dir;
  std::string zip = dir / "w.zip";
};

}  // namespace

TEST_F(WriteTest, EveryModeAndChunkBoundaryReadsBack) {
  // Sizes around the chunk of the fast modes (512 KiB) and of the others (1 MiB).
  std::vector<std::pair<std::string, std::string>> items;
  for (size_t size : {size_t{1}, size_t{1000}, size_t{0x80000}, size_t{0x80001}, size_t{0x100000}, size_t{2500000}})
    items.push_back({"s" + std::to_string(size), Mixed(size, static_cast<unsigned>(size))});
  for (int mode = 0; mode <= 9; ++mode) {
    SCOPED_TRACE(mode);
    testutil::RemoveAll(zip);
    TArcfold w;
    w.SetCompressionMode(mode);
    w.SetFileName(W(zip));
    w.OpenArchive();
    w.BeginUpdate();
    for (const auto& [name, data] : items) w.AddFromBuffer(W(name), data.data(), static_cast<int64_t>(data.size()));
    w.EndUpdate();
    // Mode 0 under deflate: stored deflate blocks, not method 0. (The
    // largest item: a single byte grows when deflated and is stored.)
    EXPECT_EQ(w.Item(w.ItemCount() - 1).HeaderImage.Method(), mode == 0 ? kMethodStored : kMethodDeflate);
    w.CloseArchive();
    auto got = Contents();
    for (const auto& [name, data] : items) EXPECT_EQ(got[name], data) << name;
  }
}

// Items of several chunks share buffers and deflaters from one item to the
// next: items added at other levels in the same transaction, and another
// archive written by a handler while an item is half written, get their own.
TEST_F(WriteTest, ItemsOfSeveralChunksShareNothingWithOtherLevelsOrArchives) {
  const std::string data = Mixed(2500000, 21), inner_data = Mixed(2500000, 22);
  const std::string inner_zip = dir / "inner.zip";
  TArcfold w;
  w.SetFileName(W(zip));
  w.OpenArchive();
  w.BeginUpdate();
  for (int mode : {1, 9, 1}) {
    w.SetCompressionMode(mode);
    w.AddFromBuffer(W("m" + std::to_string(w.ItemCount()) + "-" + std::to_string(mode)), data.data(),
                    static_cast<int64_t>(data.size()));
  }
  bool inner_written = false;
  w.OnFileProgress = [&](TAFBaseArchiver*, const afp::WideString&, double progress, TAFProcessOperation,
                         TAFProgressPhase phase, bool&) {
    if (phase != ppProcess || progress <= 0 || inner_written) return;
    inner_written = true;
    TArcfold inner;
    inner.SetFileName(W(inner_zip));
    inner.OpenArchive();
    inner.SetCompressionMode(6);
    inner.AddFromBuffer(u"inner", inner_data.data(), static_cast<int64_t>(inner_data.size()));
    inner.CloseArchive();
  };
  w.EndUpdate();
  ASSERT_TRUE(inner_written);
  for (int fast : {0, 2}) EXPECT_LT(w.Item(1).CompressedSize(), w.Item(fast).CompressedSize() * 9 / 10);
  w.CloseArchive();
  for (const auto& [name, got] : Contents()) EXPECT_EQ(got, data) << name;
  zip = inner_zip;
  EXPECT_EQ(Contents()["inner"], inner_data);
}

// The caller's tuning turns each fast path on or off whatever the
// environment says, and none of them changes a result: what is written with
// every fast path reads back with none of them, and the other way round.
TEST_F(WriteTest, TuningSwitchesChangeNoResult) {
  const std::string data = Mixed(2500000, 11);
  auto write = [&](const TAFTuning& tuning, const std::string& password) {
    testutil::RemoveAll(zip);
    TArcfold w;
    w.Options().Tuning = tuning;
    w.SetFileName(W(zip));
    w.OpenArchive();
    if (!password.empty()) {
      w.SetPassword(password);
      w.SetEncryptionMethod(caAES_256);
    }
    w.AddFromBuffer(u"big", data.data(), static_cast<int64_t>(data.size()));
    w.CloseArchive();
  };
  auto read = [&](const TAFTuning& tuning, const std::string& password) {
    TArcfold r;
    r.Options().Tuning = tuning;
    r.SetFileName(W(zip));
    r.OpenArchive(fmOpenRead);
    r.SetPassword(password);
    TMemoryStream out;
    r.DecodeItem(0, out);
    return std::string(out.Data().begin(), out.Data().end());
  };
  const TAFTuning fast{tsOn, tsOn, tsOn, tsOn}, reference{tsOff, tsOff, tsOff, tsOff};
  for (const std::string password : {"", "pw"}) {
    for (const auto& [writer, reader] : {std::pair{fast, reference}, std::pair{reference, fast}}) {
      SCOPED_TRACE(password + (writer.Parallel == tsOn ? " fast writer" : " reference writer"));
      write(writer, password);
      EXPECT_EQ(read(reader, password), data);
    }
  }
}

// Files read and deflated ahead on a second core give the archive, byte for
// byte, and the events, one by one, of a commit that keeps to the calling
// thread: small files, an empty one, one that does not compress (stored),
// one of several chunks, folders, and a file gone since it was added, whose
// failure comes in its turn. (zlib: its output depends on nothing but the
// input. The file of several chunks does not compress, so that it is stored
// whichever core deflated which chunk.)
TEST_F(WriteTest, FilesReadAheadChangeNoByteAndNoEvent) {
  const std::string src = dir / "tree";
  for (int d = 0; d < 3; ++d) testutil::MakeDir(src + "/d" + std::to_string(d));
  auto file = [&](int i) { return src + "/d" + std::to_string(i % 3) + "/f" + std::to_string(i) + ".txt"; };
  std::mt19937 rng(3);
  std::string noise(0x180001, '\0');
  for (char& c : noise) c = static_cast<char>(rng());
  testutil::WriteFile(src + "/d0/empty.txt", "");
  testutil::WriteFile(src + "/d1/noise.bin", noise.substr(0, 3000));
  testutil::WriteFile(src + "/d2/large.bin", noise);
  for (int i = 0; i < 150; ++i) testutil::WriteFile(file(i), Mixed(static_cast<size_t>(i) * 37 % 5000, i));
  auto write = [&](TAFTuningSwitch parallel, TAFCompressionMethod method, int mode, std::vector<std::string>& log) {
    testutil::WriteFile(src + "/gone.txt", "back for the next run");
    testutil::RemoveAll(zip);
    TArcfold w;
    w.Options().Tuning = {parallel, tsOn, tsOff, tsOn};
    w.Options().CompressionMethod = method;
    w.SetCompressionMode(mode);
    w.SetFileName(W(zip));
    w.SetBaseDir(W(src));
    w.OnFileProgress = [&log](TAFBaseArchiver*, const afp::WideString& n, double p, TAFProcessOperation,
                              TAFProgressPhase ph, bool&) {
      log.push_back("file " + testutil::U(n) + " " + std::to_string(ph) + " " + std::to_string(p));
    };
    w.OnOverallProgress = [&log](TAFBaseArchiver*, double p, TAFProcessOperation, TAFProgressPhase ph, bool&) {
      log.push_back("overall " + std::to_string(ph) + " " + std::to_string(p));
    };
    w.OnProcessFileFailure = [&log](TAFBaseArchiver*, const afp::WideString& n, TAFProcessOperation, int native, int,
                                    const afp::WideString&, TAFAction& action) {
      log.push_back("failure " + testutil::U(n) + " " + std::to_string(native));
      action = fxaIgnore;
    };
    w.OpenArchive();
    w.BeginUpdate();
    w.AddFiles(u"*");
    testutil::RemoveAll(src + "/gone.txt");
    w.EndUpdate();
    w.CloseArchive();
    return ReadFile(zip);
  };
  // Deflate, and the slow methods, whose files the commit and the helper
  // compress side by side, whole.
  const std::pair<TAFCompressionMethod, int> kWays[] = {{cmDeflate, 1}, {cmDeflate, 6}, {cmBZip2, 9}, {cmLZMA, 2}};
  for (const auto& [method, mode] : kWays) {
    if (!CompressionMethodAvailable(method)) continue;
    SCOPED_TRACE(std::to_string(method) + " " + std::to_string(mode));
    std::vector<std::string> ahead_log, reference_log;
    const std::string ahead = write(tsOn, method, mode, ahead_log);
    const std::string reference = write(tsOff, method, mode, reference_log);
    EXPECT_TRUE(ahead == reference);
    EXPECT_EQ(ahead_log, reference_log);
    EXPECT_EQ(std::count_if(reference_log.begin(), reference_log.end(),
                            [](const std::string& e) { return e.rfind("failure", 0) == 0; }),
              1);
  }
}

TEST_F(WriteTest, EmptySourcesAreStoredWithoutData) {
  TArcfold w;
  w.SetFileName(W(zip));
  w.OpenArchive();
  w.AddFromBuffer(u"plain", "", 0);
  w.SetPassword("pw");
  w.AddFromBuffer(u"classic", "", 0);
  w.SetEncryptionMethod(caAES_256);
  w.AddFromBuffer(u"aes", "", 0);
  std::filesystem::create_directory(dir / "folder");
  w.SetBaseDir(W(dir.path()));
  w.AddFiles(u"folder");
  const TDirItem& plain = w.Item(0);
  EXPECT_EQ(plain.HeaderImage.Method(), kMethodStored);
  EXPECT_EQ(plain.CompressedSize(), 0);
  EXPECT_EQ(plain.HeaderImage.Crc32(), 0u);
  EXPECT_EQ(w.Item(1).CompressedSize(), 12);           // the classic header only
  EXPECT_EQ(w.Item(2).CompressedSize(), 16 + 2 + 10);  // salt, verifier, code
  w.CloseArchive();
  auto got = Contents("pw");
  EXPECT_EQ(got.size(), 3u);
  for (const auto& [name, data] : got) EXPECT_EQ(data, "") << name;
  // One local header per item: a second one would be found again by a
  // rebuild from the local headers.
  std::string bytes = ReadFile(zip);
  size_t local_headers = 0;
  for (size_t at = bytes.find("PK\x03\x04"); at != std::string::npos; at = bytes.find("PK\x03\x04", at + 1))
    ++local_headers;
  EXPECT_EQ(local_headers, 4u);
}

TEST_F(WriteTest, EncryptedItemsReadBackOnlyWithThePassword) {
  const std::string data = Mixed(300000, 7);
  for (TAFCryptoAlgorithm alg : {caPkzipClassic, caAES_128, caAES_192, caAES_256}) {
    SCOPED_TRACE(static_cast<int>(alg));
    testutil::RemoveAll(zip);
    TArcfold w;
    w.SetFileName(W(zip));
    w.OpenArchive();
    w.SetPassword("correct horse");
    w.SetEncryptionMethod(alg);
    w.AddFromBuffer(u"secret.txt", data.data(), static_cast<int64_t>(data.size()));
    // AE-2 leaves the CRC out; classic needs it for its check byte.
    if (alg != caPkzipClassic) {
      EXPECT_EQ(w.Item(0).HeaderImage.Crc32(), 0u);
    }
    w.CloseArchive();
    EXPECT_EQ(Contents("correct horse")["secret.txt"], data);
    EXPECT_EQ(ReadFile(zip).find("line 1"), std::string::npos);  // no plaintext in the archive
  }
}

TEST_F(WriteTest, DataThatGrowsWhenDeflatedIsStored) {
  // Noise over several chunks of the fast mode (deflated on two cores where
  // allowed), noise of one chunk, a single byte; then text that compresses,
  // and (unencrypted: encryption reads twice anyway) noise from a source
  // that cannot be read twice: both stay deflated.
  const std::string noise = testutil::RandomBytes(1300000, 3), chunk = testutil::RandomBytes(100000, 4),
                    text = Mixed(300000, 5);
  struct Case {
    TAFCryptoAlgorithm algorithm;
    std::string password;
    int64_t overhead;  // encryption header and code around the data
  };
  for (const Case& c : {Case{caPkzipClassic, "", 0}, Case{caPkzipClassic, "pw", 12}, Case{caAES_256, "pw", 28}}) {
    SCOPED_TRACE(c.password + " " + std::to_string(c.algorithm));
    testutil::RemoveAll(zip);
    TArcfold w;
    w.SetFileName(W(zip));
    w.OpenArchive();
    w.SetPassword(c.password);
    w.SetEncryptionMethod(c.algorithm);
    w.BeginUpdate();
    w.AddFromBuffer(u"noise.bin", noise.data(), static_cast<int64_t>(noise.size()));
    w.AddFromBuffer(u"chunk.bin", chunk.data(), static_cast<int64_t>(chunk.size()));
    w.AddFromBuffer(u"one.txt", "1", 1);
    w.AddFromBuffer(u"text.txt", text.data(), static_cast<int64_t>(text.size()));
    if (c.password.empty()) w.AddFromStream(u"pipe.bin", new OneWayStream(chunk), true);
    w.EndUpdate();
    ASSERT_EQ(w.ItemCount(), c.password.empty() ? 5 : 4);
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(w.Item(i).ActualMethod, kMethodStored) << i;
      EXPECT_EQ(w.Item(i).CompressedSize(), w.Item(i).UncompressedSize() + c.overhead) << i;
    }
    EXPECT_EQ(w.Item(3).ActualMethod, kMethodDeflate);
    if (c.password.empty()) {
      EXPECT_EQ(w.Item(4).ActualMethod, kMethodDeflate);
    }
    w.CloseArchive();
    std::map<std::string, std::string> expected{
        {"noise.bin", noise}, {"chunk.bin", chunk}, {"one.txt", "1"}, {"text.txt", text}};
    if (c.password.empty()) expected["pipe.bin"] = chunk;
    EXPECT_EQ(Contents(c.password), expected);
#ifndef _WIN32
    const std::string seven = testutil::SevenZip();
    if (!seven.empty()) {
      EXPECT_EQ(testutil::Sh(seven + " t -p" + c.password + " " + testutil::Quote(zip) + " >/dev/null 2>&1"), 0);
    }
    if (c.password.empty()) {
      std::string methods;
      testutil::Sh(
          "python3 -c \"import zipfile,sys;"
          " print([i.compress_type for i in zipfile.ZipFile(sys.argv[1]).infolist()])\" " +
              testutil::Quote(zip),
          &methods);
      EXPECT_EQ(methods, "[0, 0, 0, 8, 8]\n");
    }
#endif
  }
}

TEST_F(WriteTest, SourcesThatLieAboutTheirSize) {
  Create({{"keep.txt", "kept"}});
  const std::string before = ReadFile(zip);
  TArcfold w;
  w.SetFileName(W(zip));
  w.OpenArchive();
  std::vector<int> failures;
  w.OnProcessFileFailure = [&](TAFBaseArchiver*, const afp::WideString&, TAFProcessOperation, int native, int,
                               const afp::WideString&, TAFAction& action) {
    failures.push_back(native);
    action = fxaIgnore;
  };
  // Shorter than it says: error 34, the item is left out.
  w.AddFromStream(u"short.bin", new ShortStream(1000), true);
  EXPECT_EQ(failures, std::vector<int>{34});
  EXPECT_EQ(w.ItemCount(), 1);
  // Too big for an archive without ZIP64: error 43 before a byte is read,
  // and the archive stays as it was.
  w.SetZip64Mode(zmDisabled);
  w.AddFromStream(u"huge.bin", new ShortStream(int64_t{5} << 30), true);
  EXPECT_EQ(failures, (std::vector<int>{34, 43}));
  w.CloseArchive();
  EXPECT_TRUE(ReadFile(zip) == before);
  EXPECT_EQ(TemporaryFilesIn(dir.path()), "");
}

TEST_F(WriteTest, MoreItemsThanTheClassicEndRecordCountsNeedZip64) {
  Create({{"keep.txt", "kept"}});
  const std::string before = ReadFile(zip);
  // 65,535 items and more are counted by the ZIP64 end records alone.
  constexpr int kItems = 0xFFFF;
  TArcfold w;
  w.SetFileName(W(zip));
  w.OpenArchive();
  ASSERT_EQ(w.Zip64Mode(), zmDisabled);
  w.BeginUpdate();
  for (int i = 1; i < kItems; ++i) w.AddFromBuffer(W("e/" + std::to_string(i)), "", 0);
  EXPECT_EQ(NativeOf([&] { w.EndUpdate(); }), 41);
  EXPECT_EQ(w.ItemCount(), 1);
  w.CloseArchive();
  EXPECT_TRUE(ReadFile(zip) == before);
  EXPECT_EQ(TemporaryFilesIn(dir.path()), "");
}

TEST_F(WriteTest, OneTransactionAddsDeletesAndRenames) {
  Create({{"a.txt", "alpha"}, {"b.txt", "beta"}, {"c.txt", "gamma"}});
  TArcfold w;
  w.SetFileName(W(zip));
  w.OpenArchive();
  EXPECT_EQ(NativeOf([&] { w.DeleteItem(0); }), 22);  // no transaction
  EXPECT_EQ(NativeOf([&] { w.PrepareItemFromFile(0, u"x"); }), 25);
  w.BeginUpdate();
  EXPECT_EQ(NativeOf([&] { w.DeleteItem(7); }), 21);
  EXPECT_EQ(NativeOf([&] { w.PrepareItemFromFile(7, u"x"); }), 24);
  w.DeleteFiles(u"b.txt");
  w.RenameFile(u"c.txt", u"dir/renamed.txt");
  w.RenameFile(u"dir/renamed.txt", u"dir/final.txt");
  w.AddFromBuffer(u"d.txt", "delta", 5);
  EXPECT_EQ(NativeOf([&] { w.RenameFile(u"a.txt", u"d.txt"); }), 59);
  if (!afp::kCaseSensitiveNames) {
    EXPECT_EQ(NativeOf([&] { w.RenameFile(u"a.txt", u"D.TXT"); }), 59);  // names ignore case there
  }
  w.SetArchiveComment("changed in one go");
  w.EndUpdate();
  EXPECT_EQ(w.ArchiveComment(), "changed in one go");
  w.CloseArchive();
  auto got = Contents();
  EXPECT_EQ(got,
            (std::map<std::string, std::string>{{"a.txt", "alpha"}, {"dir/final.txt", "gamma"}, {"d.txt", "delta"}}));
}

TEST_F(WriteTest, NamesLongerThan254BytesAreKeptWhole) {
  std::string long_name;
  while (long_name.size() < 600) long_name += "árvíztűrő-";
  long_name += ".txt";
  Create({{long_name, "long"}});
  TArcfold r;
  r.SetFileName(W(zip));
  r.OpenArchive(fmOpenRead);
  EXPECT_EQ(testutil::U(r.Item(0).ItemName), long_name);
}

TEST_F(WriteTest, InMemoryArchivesAreSavedWhole) {
  TArcfold w;
  w.SetInMemory(true);
  w.OpenArchive();
  w.AddFromBuffer(u"m.txt", "memory", 6);
  w.AddFromBuffer(u"n.txt", "more", 4);
  w.DeleteFiles(u"m.txt");
  w.SetFileName(W(zip));
  w.SetInMemory(false);
  w.CloseArchive();
  EXPECT_EQ(Contents(), (std::map<std::string, std::string>{{"n.txt", "more"}}));
}

TEST_F(WriteTest, CancelAtAnyProgressEventLeavesTheArchiveAsItWas) {
  Create({{"a.txt", Mixed(200000, 1)}, {"b.txt", "beta"}});
  const std::string before = ReadFile(zip);
  const std::string big = Mixed(3000000, 2);
  for (int cancel_at = 0;; ++cancel_at) {
    SCOPED_TRACE(cancel_at);
    TArcfold w;
    w.SetFileName(W(zip));
    w.OpenArchive();
    int seen = 0;
    auto maybe_cancel = [&](bool& cancel) {
      if (seen++ == cancel_at) cancel = true;
    };
    w.OnFileProgress = [&](TAFBaseArchiver*, const afp::WideString&, double, TAFProcessOperation, TAFProgressPhase,
                           bool& cancel) { maybe_cancel(cancel); };
    w.OnOverallProgress = [&](TAFBaseArchiver*, double, TAFProcessOperation, TAFProgressPhase, bool& cancel) {
      maybe_cancel(cancel);
    };
    w.OnCopyTempFileProgress = [&](TAFBaseArchiver*, double, TAFProgressPhase, bool& cancel) { maybe_cancel(cancel); };
    w.BeginUpdate();
    w.DeleteFiles(u"b.txt");
    w.AddFromBuffer(u"big.bin", big.data(), static_cast<int64_t>(big.size()));
    w.EndUpdate();
    const bool cancelled = w.CancelFlag();
    w.CloseArchive();
    EXPECT_EQ(TemporaryFilesIn(dir.path()), "");
    if (!cancelled) {
      EXPECT_GT(cancel_at, 3);  // the commit did fire events to cancel at
      EXPECT_EQ(Contents()["big.bin"], big);
      break;
    }
    EXPECT_TRUE(ReadFile(zip) == before);
  }
}

#ifndef _WIN32  // folder permissions
// A folder the add may not read is not taken for an empty one: the add fails
// naming it, and the archive stays as it was. Root reads every folder, so
// the add runs in a child that gives up root.
TEST_F(WriteTest, AFolderThatCannotBeReadFailsTheAddNamingIt) {
  Create({{"a.txt", "kept"}});
  const std::string before = ReadFile(zip);
  std::filesystem::create_directories(dir / "t/closed");
  testutil::WriteFile(dir / "t/closed/f.txt", "never read");
  ASSERT_EQ(testutil::Sh("chmod -R a+rwX " + testutil::Quote(dir.path()) + " && chmod 000 " +
                         testutil::Quote(dir / "t/closed")),
            0);
  constexpr uid_t kNobody = 65534;
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::getuid() == 0 && (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) ::_exit(3);
    TArcfold w;
    w.SetFileName(W(zip));
    w.OpenArchive();
    w.SetBaseDir(W(dir.path()));
    try {
      w.AddFiles(u"t");
    } catch (const EAFException& e) {
      const bool named = std::string(e.what()).find("closed") != std::string::npos;
      ::_exit(e.NativeError() == NativeError::kCannotOpenFile && named ? 0 : 2);
    }
    ::_exit(1);  // added as if the folder were empty
  }
  int status = -1;
  ::waitpid(child, &status, 0);
  ::chmod((dir / "t/closed").c_str(), 0700);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(ReadFile(zip), before);
}
#endif

#ifndef _WIN32  // a file size limit stands in for a full disk
TEST_F(WriteTest, AFullFileSystemLeavesTheArchiveAsItWas) {
  // The file size limit stands in for a full disk: every write past it fails.
  // Random bytes do not compress: sizes on disk are what the limits expect.
  std::mt19937 rng(5);
  auto noise = [&](size_t n) {
    std::string s(n, '\0');
    for (auto& c : s) c = static_cast<char>(rng());
    return s;
  };
  Create({{"a.txt", noise(100000)}, {"b.txt", noise(100000)}});
  const std::string before = ReadFile(zip);
  testutil::WriteFile(dir / "new.bin", noise(400000));
  const std::string tool = ARCFOLD_CLI;
  // Appending writes in place, past the old items: the disk is full anywhere
  // from just after them to just before the new directory. Deleting writes
  // a new archive beside the old one: the disk fills anywhere in it. Every
  // write of the commit meets the limit at some step.
  std::vector<rlim_t> appends, rewrites;
  for (rlim_t at = before.size() + 1; at < before.size() + 400000; at += 8000) appends.push_back(at);
  for (rlim_t at = 1; at < 100000; at += 4000) rewrites.push_back(at);
  const std::pair<const char*, std::vector<rlim_t>> cases[] = {{"add", appends}, {"delete", rewrites}};
  for (const auto& [op, limits] : cases) {
    for (rlim_t limit : limits) {
      SCOPED_TRACE(std::string(op) + " with a limit of " + std::to_string(limit));
      pid_t child = ::fork();
      ASSERT_GE(child, 0);
      if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit r{limit, limit};
        ::setrlimit(RLIMIT_FSIZE, &r);
        int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 1);
        ::dup2(null, 2);
        if (std::string(op) == "add")
          ::execl(tool.c_str(), tool.c_str(), "add", zip.c_str(), (dir / "new.bin").c_str(),
                  static_cast<char*>(nullptr));
        else
          ::execl(tool.c_str(), tool.c_str(), "delete", zip.c_str(), "a.txt", static_cast<char*>(nullptr));
        ::_exit(127);
      }
      int status = 0;
      ::waitpid(child, &status, 0);
      EXPECT_NE(WEXITSTATUS(status), 0);
      EXPECT_TRUE(ReadFile(zip) == before);
      EXPECT_EQ(TemporaryFilesIn(dir.path()), "");
    }
  }
}
#endif

TEST_F(WriteTest, UpdateReplacesOnlyNewerFilesAndMoveRemovesWhatItStored) {
  const std::string src = dir / "src";
  testutil::MakeDir(src + "/d/e");
  testutil::WriteFile(src + "/old.txt", "v1");
  testutil::WriteFile(src + "/same.txt", "v1");
  TArcfold w;
  w.SetFileName(W(zip));
  w.SetBaseDir(W(src));
  w.OpenArchive();
  w.AddFiles(u"*.txt");
  afp::SetFileDosDateTime(W(src + "/old.txt"), 0x5021, 0);   // 2020: older than the item
  testutil::WriteFile(src + "/same.txt", "v2");              // now: newer than the item
  afp::SetFileDosDateTime(W(src + "/same.txt"), 0x7A21, 0);  // 2041
  testutil::WriteFile(src + "/fresh.txt", "new");
  testutil::WriteFile(src + "/old.txt", "v2 but older");
  afp::SetFileDosDateTime(W(src + "/old.txt"), 0x5021, 0);
  w.Options().OverwriteMode = omIfNewer;
  w.UpdateFiles(u"*.txt");
  // The item-driven form: each item against its file under a folder.
  testutil::WriteFile(src + "/fresh.txt", "newer still");
  afp::SetFileDosDateTime(W(src + "/fresh.txt"), 0x7A41, 0);  // 2041-02
  w.BeginUpdate();
  int at;
  ASSERT_TRUE(w.DirManager() != nullptr);
  for (at = 0; at < w.ItemCount() && testutil::U(w.Item(at).ItemName) != "fresh.txt"; ++at) {
  }
  EXPECT_EQ(NativeOf([&] { w.UpdateItemFromFile(99, u"x", W(src)); }), 24);
  w.UpdateItemFromFile(at, u"fresh.txt", W(src));
  w.EndUpdate();
  // A move stores the folder's files and then removes them, and the folders
  // they leave empty; what a mask left out stays on disk with its folder.
  testutil::WriteFile(src + "/d/a.txt", "a");
  testutil::WriteFile(src + "/d/e/b.txt", "b");
  testutil::WriteFile(src + "/d/e/keep.log", "not stored");
  w.Options().Recurse = true;
  w.MoveFiles(u"d", 10431, u"*.log");
  w.CloseArchive();
  auto got = Contents();
  EXPECT_EQ(got["old.txt"], "v1");
  EXPECT_EQ(got["same.txt"], "v2");
  EXPECT_EQ(got["fresh.txt"], "newer still");
  EXPECT_EQ(got["d/a.txt"], "a");
  EXPECT_EQ(got["d/e/b.txt"], "b");
  EXPECT_FALSE(got.count("d/e/keep.log"));
  EXPECT_FALSE(testutil::Exists(src + "/d/a.txt"));
  EXPECT_FALSE(testutil::Exists(src + "/d/e/b.txt"));
  EXPECT_EQ(ReadFile(src + "/d/e/keep.log"), "not stored");
}

TEST_F(WriteTest, ItemRunsDeleteAndUpdateMarkedItems) {
  Create({{"a.txt", "alpha"}, {"b.log", "beta"}, {"c.log", "gamma"}, {"d.txt", "delta"}});
  const std::string src = dir / "src";
  testutil::MakeDir(src);
  testutil::WriteFile(src + "/a.txt", "alpha from disk");
  TArcfold w;
  w.SetFileName(W(zip));
  w.SetBaseDir(W(src));
  w.OpenArchive();
  w.BeginUpdate();
  w.MarkItems(u"*.log", 10431, u"");
  w.ProcessMarkedItems(poDelete, -1);  // two neighbours: the second moves into the first's place
  w.MarkItems(u"*.txt", 10431, u"");
  w.Options().OverwriteMode = omAlways;
  w.ProcessMarkedItems(poUpdate, -1);  // a.txt has a file under BaseDir; d.txt has none and stays
  w.EndUpdate();
  w.CloseArchive();
  EXPECT_EQ(Contents(), (std::map<std::string, std::string>{{"a.txt", "alpha from disk"}, {"d.txt", "delta"}}));
}

// Two writers of one archive: the second waits for the first (or, told not
// to wait, fails naming the archive) and then builds on the archive the
// first one left, not on the directory it read before.
TEST_F(WriteTest, OneWriterAtATimeBuildsOnWhatTheOtherLeft) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows refuses the commit's rename while the waiting writer holds the old archive open";
#endif
  Create({{"a.txt", "alpha"}});
  TArcfold first, second;
  first.SetFileName(W(zip));
  second.SetFileName(W(zip));
  first.OpenArchive();
  second.OpenArchive();
  first.BeginUpdate();
  first.AddFromBuffer(u"first.txt", "1", 1);
  second.Options().WaitForOtherWriters = false;
  try {
    second.BeginUpdate();
    ADD_FAILURE() << "a second writer went ahead";
  } catch (const EAFException& e) {
    EXPECT_EQ(e.NativeError(), 36);
    EXPECT_NE(std::string(e.what()).find("w.zip"), std::string::npos) << e.what();
  }
  second.Options().WaitForOtherWriters = true;
  int busy = 0;
  second.OnArchiveBusy = [&](TAFBaseArchiver*, const afp::WideString&, bool&) {
    if (busy++ == 0) first.EndUpdate();  // the other writer finishes while this one waits
  };
  second.BeginUpdate();
  second.AddFromBuffer(u"second.txt", "2", 1);
  second.EndUpdate();
  EXPECT_GE(busy, 1);
  first.CloseArchive();
  second.CloseArchive();
  EXPECT_EQ(Contents(),
            (std::map<std::string, std::string>{{"a.txt", "alpha"}, {"first.txt", "1"}, {"second.txt", "2"}}));
}

// What a commit writes is never seen half done under the archive's name,
// nor by others: a new archive appears with its commit, the copy of a
// private archive is private from its first byte, a set's temporary file
// stays inside the temporary folder given without a final separator, and
// an archive written through a symbolic link is the one that changes.
TEST_F(WriteTest, CommitsShowOnlyWholeArchivesAndOnlyToTheirOwners) {
  TArcfold w;
  w.SetFileName(W(zip));
  w.OpenArchive();
  w.BeginUpdate();
  w.AddFromBuffer(u"a.txt", "alpha", 5);
  w.AddFromBuffer(u"b.txt", "beta", 4);
  bool seen_early = false;
  w.OnFileProgress = [&](TAFBaseArchiver*, const afp::WideString&, double, TAFProcessOperation, TAFProgressPhase,
                         bool&) { seen_early |= testutil::Exists(zip); };
  w.EndUpdate();
  w.CloseArchive();
  EXPECT_FALSE(seen_early);
  EXPECT_EQ(Contents(), (std::map<std::string, std::string>{{"a.txt", "alpha"}, {"b.txt", "beta"}}));

  const std::string temp = dir / "tmp";
  testutil::MakeDir(temp);
  TArcfold set;
  set.SetFileName(W(dir / "set.zip"));
  set.SetSpanningMode(smSplitting);
  set.SpanningOptions().VolumeSize = vsCustom;
  set.SpanningOptions().SetCustomVolumeSize(65536);
  set.SetTempDir(W(temp));
  set.OpenArchive(fmCreate);
  std::string made_in;
  set.OnFileProgress = [&](TAFBaseArchiver*, const afp::WideString&, double, TAFProcessOperation, TAFProgressPhase,
                           bool&) { made_in = TemporaryFilesIn(temp); };
  const std::string noise = testutil::RandomBytes(100000, 3);
  set.AddFromBuffer(u"n.bin", noise.data(), static_cast<int64_t>(noise.size()));
  set.CloseArchive();
  EXPECT_NE(made_in, "");
  EXPECT_EQ(TemporaryFilesIn(temp), "");
#ifndef _WIN32
  ASSERT_EQ(::chmod(zip.c_str(), 0600), 0);
  TArcfold d;
  d.SetFileName(W(zip));
  d.OpenArchive();
  int temp_mode = -1;
  d.OnCopyTempFileProgress = [&](TAFBaseArchiver*, double, TAFProgressPhase, bool&) {
    struct stat st {};
    std::string t = TemporaryFilesIn(dir.path());
    t = t.substr(0, t.find('\n'));
    if (temp_mode < 0 && !t.empty() && ::stat(t.c_str(), &st) == 0) temp_mode = st.st_mode & 0777;
  };
  d.DeleteFiles(u"b.txt");
  d.CloseArchive();
  EXPECT_EQ(temp_mode, 0600);
  struct stat st {};
  ASSERT_EQ(::stat(zip.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  const std::string link = dir / "link.zip";
  ASSERT_EQ(::symlink(zip.c_str(), link.c_str()), 0);
  TArcfold l;
  l.SetFileName(W(link));
  l.OpenArchive();
  l.AddFromBuffer(u"c.txt", "gamma", 5);
  l.CloseArchive();
  EXPECT_EQ(afp::GetPathType(W(link)), afp::PathType::Link);
  EXPECT_EQ(Contents(), (std::map<std::string, std::string>{{"a.txt", "alpha"}, {"c.txt", "gamma"}}));
#endif
}
