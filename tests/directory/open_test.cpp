// Reading directories: end record search, ZIP64, stubs, recovery, rewrite.
#include <gtest/gtest.h>

#include "arcfold/arcfold.h"
#include "codec/crc32.h"
#include "directory/dir_manager.h"
#include "directory/name_codec.h"
#include "test_util.h"

using namespace arcfold;
using testutil::BuildZip;
using testutil::RawEntry;
using testutil::W;

class OpenTest : public ::testing::Test {
 protected:
  // Opens bytes as an archive; returns the native error, or 0 on success.
  int Open(const std::string& bytes, bool damaged_ok = true) {
    testutil::WriteFile(dir / "t.zip", bytes);
    a.CloseArchive();
    a.OpenDamagedArchives = damaged_ok;
    a.SetFileName(W(dir / "t.zip"));
    try {
      a.OpenArchive();
    } catch (const EAFException& e) {
      return e.NativeError();
    }
    return 0;
  }
  std::vector<std::string> Names() {
    std::vector<std::string> out;
    for (int i = 0; i < a.ItemCount(); ++i) out.push_back(testutil::U(a.Item(i).ItemName));
    return out;
  }
  std::string Extracted(const std::string& name) {
    a.SetBaseDir(W(dir / "out"));
    a.ExtractFiles(W(name));
    return testutil::ReadFile(dir / ("out/" + name));
  }
  using V = std::vector<std::string>;
  testutil::TempDir dir;
  TArcfold a;
  std::vector<RawEntry> two = {{.name = "one.txt", .data = "first item"},
                               {.name = "two.txt", .data = std::string(5000, 'z'), .method = 8}};
};

TEST_F(OpenTest, PlainArchive) {
  ASSERT_EQ(Open(BuildZip(two, "the comment")), 0);
  EXPECT_EQ(Names(), (V{"one.txt", "two.txt"}));
  EXPECT_EQ(a.ArchiveComment(), "the comment");
  EXPECT_EQ(a.DirManager()->StubLength(), 0);
  EXPECT_FALSE(a.DirManager()->Recovered());
  EXPECT_EQ(Extracted("two.txt"), std::string(5000, 'z'));
}

TEST_F(OpenTest, NoSignatureAtAllIsError35) {
  EXPECT_EQ(Open("this is not a zip archive at all"), 35);
  EXPECT_EQ(Open(""), 35);
  EXPECT_FALSE(a.Active());
}

TEST_F(OpenTest, NoEndRecordWithDamagedOpeningOffIs48) {
  std::string zip = BuildZip(two);
  EXPECT_EQ(Open(zip.substr(0, zip.size() - 10), false), 48);
}

TEST_F(OpenTest, TailCutOffRecoversFromLocalHeaders) {
  std::string zip = BuildZip(two);
  ASSERT_EQ(Open(zip.substr(0, zip.size() - 30)), 0);
  EXPECT_TRUE(a.DirManager()->Recovered());
  EXPECT_EQ(Names(), (V{"one.txt", "two.txt"}));
  EXPECT_EQ(Extracted("two.txt"), std::string(5000, 'z'));
}

TEST_F(OpenTest, ZeroedDirectoryRecovers) {
  std::string zip = BuildZip(two);
  size_t cd = zip.find(std::string("PK\x01\x02", 4));
  std::fill(zip.begin() + cd, zip.end() - 22, '\0');
  ASSERT_EQ(Open(zip), 0);
  EXPECT_EQ(Names(), (V{"one.txt", "two.txt"}));
}

TEST_F(OpenTest, FfffEntriesWithoutZip64Recovers) {
  std::string zip = BuildZip(two);
  zip[zip.size() - 22 + 8] = zip[zip.size() - 22 + 9] = zip[zip.size() - 22 + 10] = zip[zip.size() - 22 + 11] = '\xFF';
  ASSERT_EQ(Open(zip), 0);
  EXPECT_TRUE(a.DirManager()->Recovered());
  EXPECT_EQ(Names().size(), 2u);
}

TEST_F(OpenTest, CommentWithEndSignatureAndAppendedBytes) {
  // A fake record inside the comment that fails validation (its directory
  // would start before the file) must not hide the real one.
  std::string fake = std::string("PK\x05\x06", 4) + std::string(8, '\0') + std::string("\x10\x00\x00\x00", 4) +
                     std::string("\xFF\xFF\x00\x00", 4) + std::string(2, '\0');
  ASSERT_EQ(Open(BuildZip(two, "xx" + fake + "yy") + "APPENDED GARBAGE"), 0);
  EXPECT_EQ(Names(), (V{"one.txt", "two.txt"}));
  EXPECT_FALSE(a.DirManager()->Recovered());
}

TEST_F(OpenTest, StubWithAndWithoutAdjustedOffsets) {
  std::string stub = "MZ" + std::string(3000, 's');
  ASSERT_EQ(Open(BuildZip(two, "", stub, true)), 0);
  EXPECT_EQ(a.DirManager()->StubLength(), 3002);
  EXPECT_EQ(a.Item(0).LocalHeaderOffset(), 3002);
  EXPECT_EQ(Extracted("two.txt"), std::string(5000, 'z'));

  ASSERT_EQ(Open(BuildZip(two, "", stub, false)), 0);
  EXPECT_EQ(a.DirManager()->StubLength(), 3002);
  EXPECT_EQ(a.Item(0).LocalHeaderOffset(), 3002);  // shifted by the stub
  EXPECT_EQ(Extracted("one.txt"), "first item");
}

TEST_F(OpenTest, EmptyArchiveStubLengthIsEndRecordPosition) {
  ASSERT_EQ(Open(BuildZip({}, "", "STUB")), 0);
  EXPECT_EQ(a.ItemCount(), 0);
  EXPECT_EQ(a.DirManager()->StubLength(), 4);
}

TEST_F(OpenTest, ShortStreamHasNoEndRecord) { EXPECT_EQ(Open("PK\x05\x06"), 35); }

TEST_F(OpenTest, Zip64LocatorWithoutRecordIsError40) {
  std::string zip = BuildZip(two);
  std::string locator =
      std::string("PK\x06\x07", 4) + std::string(4, '\0') + std::string(8, '\0') + "\x01" + std::string(3, '\0');
  std::string end = zip.substr(zip.size() - 22);
  zip = zip.substr(0, zip.size() - 22) + locator + end;
  EXPECT_EQ(Open(zip), 40);
}

TEST_F(OpenTest, CountLargerThanDirectoryDoesNotAllocateMillions) {
  std::string zip = BuildZip(two);
  // A ZIP64 end record claiming 2^32-1 entries in a few bytes of directory.
  size_t cd = zip.find(std::string("PK\x01\x02", 4));
  std::string z64 = std::string("PK\x06\x06", 4);
  auto put = [](std::string& s, uint64_t v, int n) {
    for (int i = 0; i < n; ++i) s += static_cast<char>(v >> (8 * i));
  };
  put(z64, 44, 8);
  put(z64, 45, 2);
  put(z64, 45, 2);
  put(z64, 0, 4);
  put(z64, 0, 4);
  put(z64, 0xFFFFFFFF, 8);
  put(z64, 0xFFFFFFFF, 8);
  put(z64, zip.size() - 22 - cd, 8);
  put(z64, cd, 8);
  std::string loc = std::string("PK\x06\x07", 4);
  put(loc, 0, 4);
  put(loc, zip.size() - 22, 8);
  put(loc, 1, 4);
  std::string end = zip.substr(zip.size() - 22);
  zip = zip.substr(0, zip.size() - 22) + z64 + loc + end;
  ASSERT_EQ(Open(zip), 0);
  EXPECT_TRUE(a.DirManager()->Recovered());
  EXPECT_EQ(Names().size(), 2u);
}

TEST_F(OpenTest, SizesAddingUpPastTheFileIs57WhenStrict) {
  std::vector<RawEntry> lying = two;
  std::string zip = BuildZip(lying);
  // Claim a huge compressed size in the central header of item 0.
  size_t cd = zip.find(std::string("PK\x01\x02", 4));
  zip[cd + 20] = zip[cd + 21] = zip[cd + 22] = '\x7F';
  EXPECT_EQ(Open(zip, false), 57);
}

TEST_F(OpenTest, TrailingExtraBytesAndUnknownFieldsKept) {
  std::vector<RawEntry> e = {
      {.name = "x", .data = "1", .central_extra = std::string("\x34\x12\x02\x00\xAB\xCD\x01", 7)}};
  ASSERT_EQ(Open(BuildZip(e)), 0);
  ASSERT_EQ(a.Item(0).ExtraFields.size(), 1u);
  EXPECT_EQ(a.Item(0).ExtraFields[0].Id, 0x1234);
}

TEST_F(OpenTest, UnicodeFieldsPreferOwnOverInfoZip) {
  auto own_field = BuildUnicodeNameField(u"own.txt");
  std::string own(own_field.begin(), own_field.end());
  std::string header = "raw.txt";
  std::string izp = std::string("\x75\x70", 2);
  std::string body = "\x01";
  uint32_t crc = Crc32(header.data(), header.size());
  for (int i = 0; i < 4; ++i) body += static_cast<char>(crc >> (8 * i));
  body += "infozip.txt";
  izp += static_cast<char>(body.size());
  izp += '\0';
  izp += body;
  ASSERT_EQ(Open(BuildZip({{.name = header, .data = "d", .central_extra = izp + own}})), 0);
  EXPECT_EQ(Names(), (V{"own.txt"}));
  ASSERT_EQ(Open(BuildZip({{.name = header, .data = "d", .central_extra = izp}})), 0);
  EXPECT_EQ(Names(), (V{"infozip.txt"}));
}

TEST_F(OpenTest, RewrittenDirectoryIsByteIdentical) {
  std::vector<RawEntry> e = two;
  e[0].central_extra = std::string("\x34\x12\x03\x00xyz", 7);
  e.push_back({.name = "dir/", .data = "", .external = 0x10});
  std::string zip = BuildZip(e, "archive comment");
  ASSERT_EQ(Open(zip), 0);
  TMemoryStream copy;
  size_t cd = zip.find(std::string("PK\x01\x02", 4));
  copy.WriteBuffer(zip.data(), static_cast<int64_t>(cd));
  a.DirManager()->WriteDirectory(&copy);
  std::string rewritten(copy.Data().begin(), copy.Data().end());
  EXPECT_EQ(rewritten, zip);
}

TEST_F(OpenTest, EndRecordCountingFewerEntriesStillListsEveryItem) {
  std::vector<RawEntry> three = {
      {.name = "a.txt", .data = "a"}, {.name = "b.txt", .data = "b"}, {.name = "hidden.txt", .data = "h"}};
  std::string zip = BuildZip(three);
  size_t end = zip.size() - 22;
  zip[end + 8] = zip[end + 10] = 1;  // one entry declared, three in the directory's size
  ASSERT_EQ(Open(zip), 0);
  EXPECT_EQ(Names(), (V{"a.txt", "b.txt", "hidden.txt"}));
  EXPECT_TRUE(a.DirManager()->ExtraEntriesFound());
}

TEST_F(OpenTest, RecoveryKeepsEmptyNamesEmptyFilesAndCutShortItems) {
  std::string zip = BuildZip({{.name = "first.txt", .data = "1"},
                              {.name = "", .data = "nameless"},
                              {.name = "empty.txt", .data = ""},
                              {.name = "folder/", .data = ""},
                              {.name = "last.txt", .data = std::string(400, 'L')}});
  // No directory, and the last item cut short.
  ASSERT_EQ(Open(zip.substr(0, zip.find("last.txt") + 200)), 0);
  ASSERT_TRUE(a.DirManager()->Recovered());
  EXPECT_EQ(Names(), (V{"first.txt", "", "empty.txt", "folder/", "last.txt"}));
  EXPECT_FALSE(a.Item(2).IsDirectory());
  EXPECT_TRUE(a.Item(3).IsDirectory());
  std::vector<std::string> failed;
  a.OnProcessFileFailure = [&](TAFBaseArchiver*, const afp::WideString& name, TAFProcessOperation, int, int,
                               const afp::WideString&, TAFAction& action) {
    failed.push_back(testutil::U(name));
    action = fxaIgnore;
  };
  a.SetBaseDir(W(dir / "out"));
  a.ExtractFiles(u"*.*");
  EXPECT_EQ(testutil::ReadFile(dir / "out/empty.txt"), "");
  EXPECT_EQ(testutil::ReadFile(dir / "out/first.txt"), "1");
  // The nameless item cannot be written and the cut one cannot be decoded:
  // both are reported, neither passes silently.
  EXPECT_EQ(failed, (V{"", "last.txt"}));
}

TEST_F(OpenTest, RecoveryTakesTheFirstDescriptorAfterEachHeader) {
  std::vector<RawEntry> streamed;
  for (int i = 0; i < 50; ++i)
    streamed.push_back({.name = "s" + std::to_string(i), .data = std::string(10 + i, 'a' + i % 26), .flags = 8});
  std::string zip = BuildZip(streamed);
  ASSERT_EQ(Open(zip.substr(0, zip.find(std::string("PK\x01\x02", 4)))), 0);
  ASSERT_EQ(a.ItemCount(), 50);
  for (int i = 0; i < 50; ++i) EXPECT_EQ(a.Item(i).UncompressedSize(), 10 + i) << i;
}

// The directory reader as a commit or a volume switch drives it: it reads
// whatever stream its volume source holds now (a commit replaces the
// archive's stream, a set changes volumes) and keeps none of its own.
namespace {
class OneStreamSource : public TAFVolumeSource, public TAFDirSettings {
 public:
  TStream* CurrentStream() override { return stream.get(); }
  TAFVolumeNumberInfo& VolumeInfo() override { return info; }
  TAFSpanningMode VolumeSpanning() const override { return smNone; }
  void SelectVolume(const TAFVolumeNumberInfo&) override {}
  void SelectFollowingVolume() override {}
  const TAFSignatureSet& Signatures() const override { return signatures; }
  bool StandardSignatures() const override { return true; }
  bool OpenDamaged() const override { return false; }
  bool OemNames() const override { return false; }
  const afp::CodePagePair& NameCodePages() const override { return code_pages; }
  const afp::WideString& StubFile() const override { return no_stub; }
  int64_t FirstVolumeLimit() const override { return -1; }

  void Hold(const std::string& bytes) {
    stream = std::make_unique<TMemoryStream>();
    stream->WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  }
  std::unique_ptr<TMemoryStream> stream;
  TAFVolumeNumberInfo info;
  TAFSignatureSet signatures = TAFSignatureSet::Standard();
  afp::CodePagePair code_pages = afp::DefaultCodePages();
  afp::WideString no_stub;
};
}  // namespace

TEST_F(OpenTest, DirectoryIsReadFromTheStreamTheArchiveHoldsNow) {
  OneStreamSource source;
  source.Hold(BuildZip(two));
  TAFDirManager reader(source, source, false);
  reader.ReadDirectory();
  ASSERT_EQ(reader.Items().Count(), 2);
  // Replaced underneath, as a commit replaces the archive.
  source.Hold(BuildZip({{.name = "only.txt", .data = "x"}}, "new"));
  reader.ReadDirectory();
  ASSERT_EQ(reader.Items().Count(), 1);
  EXPECT_EQ(testutil::U(reader.Items().ItemRef(0).ItemName), "only.txt");
  EXPECT_EQ(reader.Comment(), "new");
  // With no volume open, reading fails as a read error, not as a crash.
  source.stream.reset();
  EXPECT_THROW(reader.ReadDirectory(), EReadError);
}

namespace {
// What a listing or an extraction takes from an item.
std::string Described(const TDirItem& it) {
  return testutil::U(it.ItemName) + "|" + std::to_string(it.LocalHeaderOffset()) + "|" +
         std::to_string(it.CompressedSize()) + "|" + std::to_string(it.UncompressedSize()) + "|" +
         std::to_string(it.HeaderImage.Crc32()) + "|" + std::to_string(it.ActualMethod) + "|" +
         std::to_string(it.CryptoAlgorithm) + "|" + it.Comment.Get() + "|" + std::to_string(it.ExtraFields.size());
}

// zip with ZIP64 end records (counting its entries) before its end record.
std::string WithZip64EndRecords(const std::string& zip, uint64_t entries) {
  auto put = [](std::string& s, uint64_t v, int n) {
    for (int i = 0; i < n; ++i) s += static_cast<char>(v >> (8 * i));
  };
  const size_t cd = zip.find(std::string("PK\x01\x02", 4)), end = zip.rfind(std::string("PK\x05\x06", 4));
  std::string z64 = std::string("PK\x06\x06", 4);
  put(z64, 44, 8);
  put(z64, 45, 2);
  put(z64, 45, 2);
  put(z64, 0, 4);
  put(z64, 0, 4);
  put(z64, entries, 8);
  put(z64, entries, 8);
  put(z64, end - cd, 8);
  put(z64, cd, 8);
  std::string loc = std::string("PK\x06\x07", 4);
  put(loc, 0, 4);
  put(loc, end, 8);
  put(loc, 1, 4);
  return zip.substr(0, end) + z64 + loc + zip.substr(end);
}
}  // namespace

TEST_F(OpenTest, WalkingTheDirectoryGivesTheItemsOfTheWholeOpen) {
  // A ZIP64 item: its central sizes in the ZIP64 field.
  std::string zip64_field =
      std::string("\x01\x00\x10\x00", 4) + std::string("\x05\0\0\0\0\0\0\0", 8) + std::string("\x05\0\0\0\0\0\0\0", 8);
  std::vector<RawEntry> varied = two;
  varied.push_back({.name = "big.bin", .data = "abcde", .central_extra = zip64_field});
  varied.push_back({.name = "dir/", .data = "", .external = 0x10});
  std::string with_big = BuildZip(varied, "comment");
  const size_t big = with_big.rfind(std::string("PK\x01\x02", 4), with_big.find("big.bin", with_big.find("dir/")));
  for (int k = 20; k < 28; ++k) with_big[big + k] = '\xFF';
  std::string undercounted = BuildZip(two);
  undercounted[undercounted.size() - 22 + 8] = undercounted[undercounted.size() - 22 + 10] = 1;
  std::string zeroed = BuildZip(two);
  std::fill(zeroed.begin() + static_cast<std::ptrdiff_t>(zeroed.find(std::string("PK\x01\x02", 4))), zeroed.end() - 22,
            '\0');
  const std::string stub = "MZ" + std::string(3000, 's');
  const std::string whole = BuildZip(two);
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"plain", with_big},
      {"zip64", WithZip64EndRecords(with_big, varied.size())},
      {"stub, offsets adjusted", BuildZip(two, "", stub, true)},
      {"stub, offsets not adjusted", BuildZip(two, "", stub, false)},
      {"undercounted", undercounted},
      {"zeroed directory", zeroed},
      {"no end record", whole.substr(0, whole.size() - 30)},
      {"empty", BuildZip({})}};
  for (const auto& [what, bytes] : cases) {
    ASSERT_EQ(Open(bytes), 0) << what;
    std::vector<std::string> opened;
    for (int i = 0; i < a.ItemCount(); ++i) opened.push_back(Described(a.Item(i)));
    const bool rebuilt = a.DirectoryRebuilt(), undercount = a.DirectoryUndercounted();
    a.CloseArchive();
    std::vector<std::string> walked;
    a.ListItems([&](const TDirItem& it) {
      walked.push_back(Described(it));
      return true;
    });
    EXPECT_EQ(walked, opened) << what;
    EXPECT_EQ(a.DirectoryRebuilt(), rebuilt) << what;
    EXPECT_EQ(a.DirectoryUndercounted(), undercount) << what;
    EXPECT_FALSE(a.Active()) << what;
  }
  // The walk stops when asked, and an open archive is walked from memory.
  ASSERT_EQ(Open(with_big), 0);
  int visited = 0;
  a.ListItems([&](const TDirItem&) { return ++visited < 2; });
  EXPECT_EQ(visited, 2);
  EXPECT_TRUE(a.Active());
  // Items are handed on as they are read: damage past the first header
  // comes after the items before it, as a read error.
  a.CloseArchive();
  std::string late = BuildZip(two);
  late[late.rfind(std::string("PK\x01\x02", 4))] = 'X';
  testutil::WriteFile(dir / "t.zip", late);
  std::vector<std::string> names;
  EXPECT_THROW(a.ListItems([&](const TDirItem& it) {
    names.push_back(testutil::U(it.ItemName));
    return true;
  }),
               EReadError);
  EXPECT_EQ(names, (V{"one.txt"}));
  EXPECT_FALSE(a.Active());
}
