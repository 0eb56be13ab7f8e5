// Classic and AES encryption: known answers, composition details, and
// archives encrypted by Info-ZIP and 7-Zip.
#include <fmt/format.h>
#include <gtest/gtest.h>

#include <sstream>

#include "arcfold/arcfold.h"
#include "codec/crc32.h"
#include "crypto/aes_transform.h"
#include "crypto/classic_cipher.h"
#include "crypto/crypto_primitives.h"
#include "test_util.h"

using namespace arcfold;
using testutil::ClassicEntry;
using testutil::Quote;
using testutil::Sh;
using testutil::W;

namespace {

std::string Hex(const std::vector<uint8_t>& v) {
  std::string s;
  for (uint8_t b : v) s += fmt::format("{:02x}", b);
  return s;
}

std::vector<uint8_t> Pbkdf2(const std::string& pw, const std::string& salt, int it, size_t len) {
  return crypto::Pbkdf2HmacSha1(pw, reinterpret_cast<const uint8_t*>(salt.data()), salt.size(), it, len);
}

}  // namespace

TEST(CryptoPrimitives, Pbkdf2Rfc6070) {
  EXPECT_EQ(Hex(Pbkdf2("password", "salt", 1, 20)), "0c60c80f961f0e71f3a9b524af6012062fe037a6");
  EXPECT_EQ(Hex(Pbkdf2("password", "salt", 2, 20)), "ea6c014dc72d6f8ccd1ed92ace1d41f0d8de8957");
  EXPECT_EQ(Hex(Pbkdf2("password", "salt", 4096, 20)), "4b007901b765489abead49d926f721d065a429c1");
  EXPECT_EQ(Hex(Pbkdf2("passwordPASSWORDpassword", "saltSALTsaltSALTsaltSALTsaltSALTsalt", 4096, 25)),
            "3d2eec4fe41c849b80c8d83662c0e44a8b291a964cf2f07038");
  EXPECT_EQ(Hex(Pbkdf2(std::string("pass\0word", 9), std::string("sa\0lt", 5), 4096, 16)),
            "56fa6aa75548099dcc37d7f03425e0c3");
}

TEST(CryptoPrimitives, HmacSha1Rfc2202AndStreaming) {
  std::vector<uint8_t> key(20, 0x0b);
  crypto::HmacSha1 mac(key.data(), key.size());
  uint8_t out[20];
  mac.Mac(reinterpret_cast<const uint8_t*>("Hi There"), 8, out);
  EXPECT_EQ(Hex({out, out + 20}), "b617318655057264e28bc0b6fb378c8ef146be00");
  mac.Update(reinterpret_cast<const uint8_t*>("Hi "), 3);
  mac.Update(reinterpret_cast<const uint8_t*>("There"), 5);
  uint8_t streamed[20];
  mac.Final(streamed);
  EXPECT_EQ(Hex({streamed, streamed + 20}), Hex({out, out + 20}));
}

TEST(AesTransform, ExtraFieldBytes) {
  TAESCryptoTransform t(256, 2, 8);
  TExtraField f = t.BuildExtraField();
  std::vector<uint8_t> area = BuildExtraArea({f});
  EXPECT_EQ(Hex(area), "0199070002004145030800");
  EXPECT_EQ(TAESCryptoTransform(128, 2, 0).GetHeaderSize(), 10u);
  EXPECT_EQ(TAESCryptoTransform(192, 2, 0).GetHeaderSize(), 14u);
  EXPECT_EQ(TAESCryptoTransform(256, 2, 0).GetHeaderSize(), 18u);
}

TEST(AesTransform, CounterModeAcrossChunkBoundaries) {
  std::vector<uint8_t> plain(1000);
  for (size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<uint8_t>(i * 7);
  TAESCryptoTransform whole(256, 2, 8), pieces(256, 2, 8);
  whole.SetPassword("pw");
  // The same salt for the second transform: decrypt mode with its header.
  std::vector<uint8_t> one(plain.size());
  whole.EncryptBlock(plain.data(), 0, one.data(), 0, plain.size());
  TMemoryStream header;
  auto h = whole.GetHeader();
  header.WriteBuffer(h.data(), static_cast<int64_t>(h.size()));
  header.SetPosition(0);
  pieces.SetTransformMode(TAFCryptoTransform::kDecrypt);
  pieces.ReadHeader(header);
  ASSERT_TRUE(pieces.CheckPassword("pw"));
  std::vector<uint8_t> back(plain.size());
  size_t pos = 0;
  for (size_t len : {1u, 15u, 17u, 16u, 3u, 300u, 31u, 617u}) {
    len = std::min(len, plain.size() - pos);
    pieces.DecryptBlock(one.data(), pos, back.data(), pos, len);
    pos += len;
  }
  ASSERT_EQ(pos, plain.size());
  EXPECT_EQ(back, plain);
  auto code = whole.GetAuthenticationCode();
  EXPECT_EQ(code.size(), 10u);
  TMemoryStream code_stream;
  code_stream.WriteBuffer(code.data(), 10);
  code_stream.SetPosition(0);
  pieces.ReadAuthenticationCode(code_stream);
  EXPECT_FALSE(pieces.AuthenticationCodeDiffers(TDirItem(), 0));
  EXPECT_FALSE(pieces.CheckPassword("other"));
}

TEST(AesTransform, FirstKeystreamBlockIsCounterOne) {
  auto m = TAESCryptoTransform::DefaultDerive("pw", std::vector<uint8_t>(8, 1), 34);
  crypto::AesEcb aes(m.data(), 16);
  uint8_t ctr[16] = {1}, ks[16];
  aes.EncryptBlocks(ctr, ks, 1);
  TMemoryStream header;
  std::vector<uint8_t> h(8, 1);
  h.push_back(m[32]);
  h.push_back(m[33]);
  header.WriteBuffer(h.data(), 10);
  header.SetPosition(0);
  TAESCryptoTransform t(128, 2, 0);
  t.SetTransformMode(TAFCryptoTransform::kDecrypt);
  t.ReadHeader(header);
  ASSERT_TRUE(t.CheckPassword("pw"));
  uint8_t zeros[16] = {0}, out[16];
  t.DecryptBlock(zeros, 0, out, 0, 16);
  EXPECT_EQ(Hex({out, out + 16}), Hex({ks, ks + 16}));
}

TEST(ClassicCipher, HeaderCheckAndBit3Rule) {
  TZipClassicKeys enc;
  auto header = BuildClassicHeader("pw", 0xAB123456, enc);
  auto header2 = BuildClassicHeader("pw", 0xAB123456, enc);
  EXPECT_NE(header, header2);  // fresh random bytes each time
  TMemoryStream s;
  s.WriteBuffer(header.data(), 12);
  TZipClassicKeys dec;
  s.SetPosition(0);
  EXPECT_TRUE(CheckClassicHeader(s, "pw", dec, 0xAB123456, 0, 0));
  // A wrong password is refused; against a random filler like the one above
  // it would pass the check byte once in 256 runs, so its header is fixed.
  const testutil::RawEntry fixed = ClassicEntry("x", "some content", "pw");
  TMemoryStream f;
  f.WriteBuffer(fixed.data.data(), 12);
  f.SetPosition(0);
  EXPECT_FALSE(CheckClassicHeader(f, "", dec, static_cast<uint32_t>(fixed.crc), 0, 0));
  // With flag bit 3 the check byte is the time's high byte.
  s.SetPosition(0);
  EXPECT_TRUE(CheckClassicHeader(s, "pw", dec, 0, 0xAB00, kFlagDataDescriptor));
  s.SetPosition(0);
  EXPECT_FALSE(CheckClassicHeader(s, "pw", dec, 0xAB123456, 0x1200, kFlagDataDescriptor));
}

namespace {

class EncryptedExtractTest : public ::testing::Test {
 protected:
  void Open(const std::vector<testutil::RawEntry>& entries) {
    testutil::WriteFile(dir / "e.zip", testutil::BuildZip(entries));
    a.SetFileName(W(dir / "e.zip"));
    a.OpenArchive();
    a.SetBaseDir(W(dir / "out"));
    a.OnProcessFileFailure = [this](TAFBaseArchiver*, const afp::WideString&, TAFProcessOperation, int native, int,
                                    const afp::WideString&, TAFAction& act) {
      natives.push_back(native);
      act = fxaIgnore;
    };
  }
  testutil::TempDir dir;
  TArcfold a;
  std::vector<int> natives;
};

}  // namespace

TEST_F(EncryptedExtractTest, PasswordLoopAsksAgainAndKeepsTheGoodOne) {
  Open({ClassicEntry("a.txt", "alpha", "right"), ClassicEntry("b.txt", "beta", "right")});
  std::vector<std::string> asked;
  a.OnPassword = [&](TAFBaseArchiver*, const afp::WideString& n, std::string& pw, bool& skip) {
    asked.push_back(testutil::U(n) + ":" + pw);
    pw = asked.size() == 1 ? "wrong" : "right";
    skip = false;
  };
  a.ExtractFiles(u"*.*");
  EXPECT_EQ(asked, (std::vector<std::string>{"a.txt:", "a.txt:wrong"}));  // empty password: asked first
  EXPECT_EQ(a.Password(), "right");
  EXPECT_EQ(testutil::ReadFile(dir / "out/a.txt"), "alpha");
  EXPECT_EQ(testutil::ReadFile(dir / "out/b.txt"), "beta");
  EXPECT_TRUE(natives.empty());
}

TEST_F(EncryptedExtractTest, SkipLeavesNoFileAndNoError) {
  Open({ClassicEntry("a.txt", "alpha", "right")});
  a.OnPassword = [&](TAFBaseArchiver*, const afp::WideString&, std::string&, bool& skip) { skip = true; };
  a.ExtractFiles(u"*.*");
  EXPECT_TRUE(natives.empty());
  EXPECT_FALSE(testutil::Exists(dir / "out/a.txt"));
}

TEST_F(EncryptedExtractTest, WrongPasswordPassingTheCheckByteIsError8) {
  // Find a wrong password whose header check passes: about one in 256 do.
  std::string content(5000, 'c');
  uint32_t crc = Crc32(content.data(), content.size());
  testutil::RawEntry e = ClassicEntry("x.bin", content, "right");
  std::string wrong;
  for (int i = 0; i < 100000 && wrong.empty(); ++i) {
    std::string candidate = "w" + std::to_string(i);
    TZipClassicKeys k;
    k.Init(candidate);
    std::string h = e.data.substr(0, 12);
    k.DecryptBuffer(reinterpret_cast<uint8_t*>(h.data()), 12);
    if (static_cast<uint8_t>(h[11]) == static_cast<uint8_t>(crc >> 24)) wrong = candidate;
  }
  ASSERT_FALSE(wrong.empty());
  Open({e});
  a.SetPassword(wrong);
  a.ExtractFiles(u"*.*");
  EXPECT_EQ(natives, (std::vector<int>{8}));
  EXPECT_FALSE(testutil::Exists(dir / "out/x.bin"));
}

TEST_F(EncryptedExtractTest, SevenZipAe2KnownAnswer) {
  // "Hello, AES!" stored with AES-256 by 7-Zip 22, password "Secret".
  const unsigned char k_zip[] = {
      0x50, 0x4b, 0x03, 0x04, 0x33, 0x00, 0x01, 0x00, 0x63, 0x00, 0x83, 0x18, 0x22, 0x58, 0x00, 0x00, 0x00, 0x00,
      0x27, 0x00, 0x00, 0x00, 0x0b, 0x00, 0x00, 0x00, 0x09, 0x00, 0x0b, 0x00, 0x68, 0x65, 0x6c, 0x6c, 0x6f, 0x2e,
      0x74, 0x78, 0x74, 0x01, 0x99, 0x07, 0x00, 0x02, 0x00, 0x41, 0x45, 0x03, 0x00, 0x00, 0xf5, 0x77, 0xd2, 0xd9,
      0xde, 0xf9, 0x76, 0xa4, 0xe5, 0xa4, 0x2d, 0x2a, 0x23, 0x49, 0x5a, 0x22, 0xb9, 0x22, 0x73, 0x3c, 0x28, 0x8c,
      0xbd, 0x5f, 0x34, 0x6c, 0x70, 0x92, 0xca, 0x36, 0x8e, 0xab, 0xfa, 0xdf, 0xe4, 0xf8, 0x98, 0x92, 0x77, 0x50,
      0x4b, 0x01, 0x02, 0x3f, 0x03, 0x33, 0x00, 0x01, 0x00, 0x63, 0x00, 0x83, 0x18, 0x22, 0x58, 0x00, 0x00, 0x00,
      0x00, 0x27, 0x00, 0x00, 0x00, 0x0b, 0x00, 0x00, 0x00, 0x09, 0x00, 0x2f, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x00, 0x20, 0x80, 0xa4, 0x81, 0x00, 0x00, 0x00, 0x00, 0x68, 0x65, 0x6c, 0x6c, 0x6f, 0x2e, 0x74, 0x78, 0x74,
      0x0a, 0x00, 0x20, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x18, 0x00, 0x00, 0x57, 0xe1, 0x58, 0x28, 0x3d,
      0xda, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x01, 0x99, 0x07, 0x00, 0x02, 0x00, 0x41, 0x45, 0x03, 0x00, 0x00, 0x50, 0x4b, 0x05, 0x06, 0x00, 0x00, 0x00,
      0x00, 0x01, 0x00, 0x01, 0x00, 0x66, 0x00, 0x00, 0x00, 0x59, 0x00, 0x00, 0x00, 0x00, 0x00};
  testutil::WriteFile(dir / "k.zip", std::string(reinterpret_cast<const char*>(k_zip), sizeof k_zip));
  a.SetFileName(W(dir / "k.zip"));
  a.OpenArchive();
  ASSERT_EQ(a.Item(0).CryptoAlgorithm, caAES_256);
  EXPECT_EQ(a.Item(0).ActualMethod, 0);
  a.SetBaseDir(W(dir / "out"));
  int asked = 0;
  a.OnPassword = [&](TAFBaseArchiver*, const afp::WideString&, std::string& pw, bool& skip) {
    ++asked;
    pw = "Secret";
    skip = false;
  };
  a.SetPassword("wrong");
  a.ExtractFiles(u"*.*");
  EXPECT_EQ(asked, 1);  // the verifier refused "wrong"
  EXPECT_EQ(testutil::ReadFile(dir / "out/hello.txt"), "Hello, AES!");

  // A flipped ciphertext byte fails the authentication code: error 8, no file.
  std::string bytes(reinterpret_cast<const char*>(k_zip), sizeof k_zip);
  bytes[70] ^= 1;
  testutil::WriteFile(dir / "k.zip", bytes);
  a.CloseArchive();
  a.OpenArchive();
  a.OnProcessFileFailure = [this](TAFBaseArchiver*, const afp::WideString&, TAFProcessOperation, int native, int,
                                  const afp::WideString&, TAFAction& act) {
    natives.push_back(native);
    act = fxaIgnore;
  };
  testutil::RemoveAll(dir / "out");
  a.ExtractFiles(u"*.*");
  EXPECT_EQ(natives, (std::vector<int>{8}));
  EXPECT_FALSE(testutil::Exists(dir / "out/hello.txt"));
}

class EncryptedInteropTest : public ::testing::Test {
 protected:
  void SetUp() override {
    src = dir / "src";
    ASSERT_EQ(Sh("mkdir -p " + Quote(src) + "/sub && cd " + Quote(src) +
                 " && seq 1 30000 > sub/n.txt && head -c 100000 /dev/urandom > r.bin && : > empty.txt"
                 " && printf x > one.txt"),
              0);
  }
  void ExpectExtracts(const std::string& zip, const std::string& password) {
    std::string out = dir / ("out-" + std::to_string(++runs));
    EXPECT_EQ(testutil::ExtractAll(zip, out, password), std::vector<std::string>{}) << zip;
    EXPECT_EQ(Sh("diff -r " + Quote(src) + " " + Quote(out)), 0) << zip;
  }
  testutil::TempDir dir;
  std::string src;
  int runs = 0;
};

TEST_F(EncryptedInteropTest, InfoZipClassicPlainAndStreamed) {
  std::string zip = dir / "c.zip", streamed = dir / "s.zip";
  ASSERT_EQ(Sh("cd " + Quote(src) + " && zip -qr -P 'pa ss' " + Quote(zip) + " ."), 0);
  ExpectExtracts(zip, "pa ss");
  // Written to a pipe: data descriptors, flag bit 3, check byte from the time.
  ASSERT_EQ(Sh("cd " + Quote(src) + " && zip -qr -P 'pa ss' - . > " + Quote(streamed)), 0);
  ExpectExtracts(streamed, "pa ss");
  TArcfold a;
  a.SetFileName(W(streamed));
  a.OpenArchive(fmOpenRead);
  bool bit3 = false;
  for (int i = 0; i < a.ItemCount(); ++i) bit3 |= (a.Item(i).HeaderImage.Flags() & kFlagDataDescriptor) != 0;
  EXPECT_TRUE(bit3);
}

TEST_F(EncryptedInteropTest, SevenZipAesStrengthsDeflateAndStore) {
  std::string seven = testutil::SevenZip();
  if (seven.empty()) GTEST_SKIP() << "7-Zip not installed";
  for (std::string em : {"AES128", "AES192", "AES256"}) {
    for (std::string mx : {"-mx=5", "-mx=0"}) {
      std::string zip = dir / (em + mx + ".zip");
      ASSERT_EQ(Sh("cd " + Quote(src) + " && " + seven + " a -tzip -bso0 -bsp0 -p'sec ret' -mem=" + em + " " + mx +
                   " " + Quote(zip) + " ."),
                0);
      ExpectExtracts(zip, "sec ret");
    }
  }
}

TEST_F(EncryptedInteropTest, WrongPasswordNeverWritesGarbage) {
  std::string seven = testutil::SevenZip();
  std::string zip = dir / "c.zip";
  ASSERT_EQ(Sh("cd " + Quote(src) + " && zip -qr -P right " + Quote(zip) + " ."), 0);
  std::vector<std::string> zips = {zip};
  if (!seven.empty()) {
    ASSERT_EQ(Sh("cd " + Quote(src) + " && " + seven + " a -tzip -bso0 -bsp0 -pright -mem=AES256 " +
                 Quote(dir / "a.zip") + " ."),
              0);
    zips.push_back(dir / "a.zip");
  }
  for (const auto& z : zips) {
    TArcfold a;
    a.SetFileName(W(z));
    a.OpenArchive(fmOpenRead);
    std::string out = dir / "wrong-out";
    a.SetBaseDir(W(out));
    a.SetPassword("wrong");
    a.OnPassword = [](TAFBaseArchiver*, const afp::WideString&, std::string&, bool& skip) { skip = true; };
    a.ExtractFiles(u"*.*");
    // A wrong classic password passes the check byte once in 256 times, and
    // a one-byte item then decodes right once in 256 more: what was written
    // must be the item's true data, never anything else.
    std::string files;
    Sh("cd " + Quote(out) + " 2>/dev/null && find . -type f", &files);
    std::istringstream written(files);
    for (std::string name; std::getline(written, name);)
      EXPECT_EQ(testutil::ReadFile(out + "/" + name), testutil::ReadFile(src + "/" + name)) << z << ": " << name;
    Sh("rm -rf " + Quote(out));
  }
}
