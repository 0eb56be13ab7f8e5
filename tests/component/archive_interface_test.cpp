// arcfold::Archive, the value-typed interface: archives opened from memory,
// entries found by name, data pulled in small pieces, and every failure
// (password, damage, cancel, an abandoned change) an exception that leaves
// nothing behind.
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <sstream>
#include <stdexcept>

#include "arcfold/archive.h"
#include "test_util.h"

namespace {

using arcfold::Archive;
using arcfold::EAFException;
using arcfold::Encryption;
using testutil::TempDir;

std::span<const std::byte> BytesOf(const std::string& s) {
  return std::as_bytes(std::span<const char>(s.data(), s.size()));
}

// Pulls the whole entry through a reader, piece bytes at a time.
std::string PullAll(arcfold::EntryReader& reader, size_t piece) {
  std::string out, buffer(piece, '\0');
  while (size_t got = reader.read(buffer.data(), piece)) out.append(buffer, 0, got);
  return out;
}

// Bytes that compress (text) followed by bytes that do not: several of the
// reader's buffers full.
std::string Content() {
  std::string s;
  for (int i = 0; s.size() < 700000; ++i) s += "line " + std::to_string(i) + " of the log\n";
  return s + testutil::RandomBytes(400000, 7);
}

TEST(ArchiveInterface, ReadsFromMemoryFindsByNameAndPullsInSmallPieces) {
  TempDir dir;
  const std::string content = Content();
  {
    Archive archive = Archive::create(dir / "a.zip");
    archive.change()
        .add("big.log", content)
        .add("sub/aes.bin", content, {.level = 1, .encryption = Encryption::aes256, .password = "pw"})
        .commit();
  }
  // A peer's archive with a fixed DOS time (2025-01-01 12:00) and a folder.
  testutil::WriteFile(dir / "peer.zip", testutil::BuildZip({{.name = "dir/", .external = 0x10},
                                                            {.name = "dir/x.txt", .data = "peer", .method = 8}}));

  const std::string bytes = testutil::ReadFile(dir / "a.zip");
  Archive memory = Archive::open(BytesOf(bytes));
  std::vector<std::string> names;
  for (const arcfold::Entry& e : memory) names.push_back(e.name);
  EXPECT_EQ(names, (std::vector<std::string>{"big.log", "sub/aes.bin"}));

  const std::optional<arcfold::Entry> big = memory.find("big.log");
  const std::optional<arcfold::Entry> aes = memory.find("sub\\aes.bin");
  ASSERT_TRUE(big && aes);
  EXPECT_FALSE(memory.find("sub/missing.bin"));
  EXPECT_EQ(big->size, content.size());
  EXPECT_LT(big->compressed_size, big->size);
  EXPECT_EQ(big->method, 8);
  EXPECT_EQ(big->encryption, Encryption::none);
  EXPECT_EQ(aes->encryption, Encryption::aes256);

  auto plain = memory.reader(*big);
  EXPECT_EQ(PullAll(plain, 7), content);
  EXPECT_EQ(plain.read(nullptr, 1), 0u);  // stays at its end
  memory.set_password("pw");
  auto secret = memory.reader(*aes);
  EXPECT_EQ(PullAll(secret, 4093), content);
  EXPECT_EQ(memory.read_string(*aes), content);

  // A reader left half-way is stopped by the next use of its archive.
  auto left = memory.reader(*big);
  char piece[16];
  ASSERT_EQ(left.read(piece, sizeof piece), sizeof piece);
  EXPECT_EQ(memory.read_bytes(*big).size(), content.size());
  EXPECT_THROW(left.read(piece, sizeof piece), arcfold::Cancelled);

  Archive peer = Archive::open(dir / "peer.zip");
  const arcfold::Entry folder = peer.at(0);
  EXPECT_TRUE(folder.is_directory);
  const std::time_t t = std::chrono::system_clock::to_time_t(peer.at(1).modified);
  const std::tm local = *std::localtime(&t);
  EXPECT_EQ((std::vector<int>{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min}),
            (std::vector<int>{2025, 1, 1, 12, 0}));
  EXPECT_EQ(peer.read_string(peer.at(1)), "peer");
}

TEST(ArchiveInterface, WrongPasswordAndDamageThrowAndGiveNoBytes) {
  TempDir dir;
  // The salt is fixed: with a random one a wrong password passes the
  // two-byte verifier once in 65,536 runs.
  testutil::WriteFile(dir / "aes.zip",
                      testutil::BuildZip({testutil::AesEntry("secret.txt", "the secret", "right", 128)}));
  Archive aes = Archive::open(dir / "aes.zip");
  const arcfold::Entry secret = aes.at(0);
  for (const char* password : {"", "wrong"}) {
    aes.set_password(password);
    EXPECT_EQ(testutil::NativeOf([&] { aes.read_string(secret); }), 67) << password;
    auto reader = aes.reader(secret);
    char byte;
    EXPECT_EQ(testutil::NativeOf([&] { reader.read(&byte, 1); }), 67) << password;
    EXPECT_THROW(aes.extract(dir / "out"), EAFException) << password;
    EXPECT_EQ(testutil::Entries(dir / "out"), std::vector<std::string>{}) << password;
  }

  // The data of a damaged entry decodes to its end, where its CRC fails.
  testutil::WriteFile(
      dir / "bad.zip",
      testutil::BuildZip({{.name = "bad.txt", .data = std::string(300000, 'x'), .method = 8, .crc = 0x12345678}}));
  Archive bad = Archive::open(dir / "bad.zip");
  EXPECT_EQ(testutil::NativeOf([&] { bad.read_string(bad.at(0)); }), 8);
  auto reader = bad.reader(bad.at(0));
  std::string pulled;
  EXPECT_THROW(pulled = PullAll(reader, 1000), EAFException);
  EXPECT_EQ(testutil::NativeOf([&] { bad.extract(dir / "bad"); }), 8);
  EXPECT_EQ(testutil::Entries(dir / "bad"), std::vector<std::string>{});
}

TEST(ArchiveInterface, CancelFromProgressLeavesNoFile) {
  TempDir dir;
  const std::string content = testutil::RandomBytes(3000000, 11);
  {
    Archive archive = Archive::create(dir / "a.zip");
    archive.change().add("one.bin", content).commit();
  }
  Archive archive = Archive::open(dir / "a.zip");
  int reports = 0;
  // Cancelled half-way through the entry's data, not before it starts.
  EXPECT_THROW(archive.extract(dir / "out",
                               [&](const arcfold::Progress& p) {
                                 ++reports;
                                 return p.entry_percent == 0 || p.entry_percent >= 100;
                               }),
               arcfold::Cancelled);
  EXPECT_GE(reports, 2);
  EXPECT_EQ(testutil::Entries(dir / "out"), std::vector<std::string>{});

  std::vector<double> overall;
  archive.extract(dir / "out", [&](const arcfold::Progress& p) { return overall.push_back(p.overall_percent), true; });
  EXPECT_EQ(testutil::ReadFile(dir / "out/one.bin"), content);
  ASSERT_FALSE(overall.empty());
  EXPECT_EQ(overall.back(), 100.0);
}

TEST(ArchiveInterface, ChangeAbandonedByAnExceptionLeavesTheArchiveUnchanged) {
  TempDir dir;
  testutil::MakeDir(dir / "tree/sub");
  testutil::WriteFile(dir / "tree/sub/f.txt", "file");
  {
    Archive archive = Archive::create(dir / "a.zip");
    archive.change().add("a.txt", "alpha").add("b.txt", "beta").add("sub/a.txt", "other alpha").commit();
  }
  const std::string before = testutil::ReadFile(dir / "a.zip");
  Archive archive = Archive::open(dir / "a.zip");
  try {
    auto change = archive.change();
    change.add("new.txt", "new").remove(*archive.find("a.txt")).add_file(dir / "tree");
    throw std::runtime_error("the caller fails half-way");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(testutil::ReadFile(dir / "a.zip"), before);
  EXPECT_EQ(archive.size(), 3u);
  EXPECT_TRUE(archive.find("a.txt"));
  EXPECT_FALSE(archive.find("new.txt"));

  // The archive takes changes again, from every kind of source; a plain
  // name removes that entry only.
  std::istringstream stream("from a stream");
  int calls = 0;
  archive.change()
      .add("s.txt", stream)
      .add("c.txt", [&](void* buffer, size_t) { return calls++ ? 0 : (std::memcpy(buffer, "cb", 2), size_t{2}); })
      .add_file(dir / "tree", "t")
      .remove("a.txt")
      .commit();
  Archive reopened = Archive::open(dir / "a.zip");
  std::vector<std::string> names;
  for (const arcfold::Entry& e : reopened) names.push_back(e.name);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"b.txt", "c.txt", "s.txt", "sub/a.txt", "t/", "t/sub/", "t/sub/f.txt"}));
  EXPECT_EQ(reopened.read_string(*reopened.find("s.txt")), "from a stream");
  EXPECT_EQ(reopened.read_string(*reopened.find("c.txt")), "cb");
  EXPECT_EQ(reopened.read_string(*reopened.find("t/sub/f.txt")), "file");
}

}  // namespace
