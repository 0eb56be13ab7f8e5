#include <gtest/gtest.h>

#include "arcfold/records.h"
#include "codec/crc32.h"
#include "directory/name_codec.h"
#include "test_util.h"

using namespace arcfold;
using testutil::W;

TEST(Utf8Classifier, ThreeClasses) {
  EXPECT_EQ(ClassifyUtf8("plain.txt"), 0);
  EXPECT_EQ(ClassifyUtf8("\xC3\xA1rv\xC3\xADz"), 1);
  EXPECT_EQ(ClassifyUtf8("\xE0\xA0\x80"), 1);
  EXPECT_EQ(ClassifyUtf8("\xF0\x9F\x98\x80"), 1);
  EXPECT_EQ(ClassifyUtf8("\xE1"), 2);              // cut short
  EXPECT_EQ(ClassifyUtf8("\xC0\x80"), 2);          // overlong lead
  EXPECT_EQ(ClassifyUtf8("\xE0\x80\x80"), 2);      // overlong 3-byte
  EXPECT_EQ(ClassifyUtf8("\xF4\x90\x80\x80"), 2);  // above U+10FFFF
  EXPECT_EQ(ClassifyUtf8("\xE9t\xE9"), 2);         // Latin-1 bytes
}

TEST(NameEncoding, AnsiOemAndUtf8Choices) {
  afp::CodePagePair western{1252, 437};
  TStoredName ascii = EncodeItemName(u"dir/readme.txt", western, true);
  EXPECT_EQ(ascii.bytes, "dir/readme.txt");
  EXPECT_FALSE(ascii.utf8);

  TStoredName oem = EncodeItemName(W("é.txt"), western, true);
  EXPECT_EQ(oem.bytes, "\x82.txt");  // CP437
  EXPECT_FALSE(oem.utf8);
  TStoredName ansi = EncodeItemName(W("é.txt"), western, false);
  EXPECT_EQ(ansi.bytes, "\xE9.txt");  // CP1252

  TStoredName greek = EncodeItemName(W("αβγ.txt"), western, true);
  EXPECT_TRUE(greek.utf8);
  EXPECT_EQ(greek.bytes, "αβγ.txt");

  // Already flagged UTF-8: stays UTF-8 even when the page could hold it.
  TStoredName kept = EncodeItemName(W("é"), western, true, true);
  EXPECT_TRUE(kept.utf8);
  EXPECT_EQ(kept.bytes, "é");

  afp::CodePagePair hungarian{1250, 852};
  TStoredName hu = EncodeItemName(W("árvíztűrő"), hungarian, false);
  EXPECT_FALSE(hu.utf8);
  EXPECT_EQ(DecodeItemName(hu.bytes, hungarian, false), W("árvíztűrő"));
  TStoredName hu_oem = EncodeItemName(W("árvíztűrő"), hungarian, true);
  EXPECT_EQ(DecodeItemName(hu_oem.bytes, hungarian, true), W("árvíztűrő"));
}

TEST(NameEncoding, AnsiRoundTripOfEveryByte) {
  for (int page : {1252, 1250, 437, 852, 850}) {
    const auto& cp = afp::CodePage::Get(page);
    std::string all;
    for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
    bool lossless = false;
    EXPECT_EQ(cp.Encode(cp.Decode(all), &lossless), all) << page;
    EXPECT_TRUE(lossless) << page;
  }
}

TEST(NameEncoding, Utf8CutOnWholeCharacter) {
  std::u16string name(200, u'\x00E9');  // 2 bytes each in UTF-8
  name += u"\xD83D\xDE00";              // one 4-byte character
  std::string cut = Utf8Cut(name);
  EXPECT_EQ(cut.size(), 254u);
  EXPECT_EQ(ClassifyUtf8(cut), 1);
  std::u16string odd = u"a" + std::u16string(200, u'\x00E9');
  EXPECT_EQ(Utf8Cut(odd).size(), 253u);  // 1 + 126*2, the next would pass 254
  // A surrogate pair is written as one 4-byte sequence that peers read back.
  EXPECT_EQ(Utf8Cut(u"\xD83D\xDE00"), "\xF0\x9F\x98\x80");
}

TEST(NameDecoding, ContentDecidesUtf8) {
  afp::CodePagePair western{1252, 437};
  EXPECT_EQ(DecodeItemName("\xC3\xA9", western, true), W("é"));  // UTF-8 without the flag
  EXPECT_EQ(DecodeItemName("\x82", western, true), W("é"));      // OEM
  EXPECT_EQ(DecodeItemName("\xE9", western, false), W("é"));     // ANSI
  EXPECT_EQ(DecodeItemName("\xDB", western, true), W("█"));      // OEM-only character survives
}

TEST(UnicodeNameField, BuildParseAndBounds) {
  auto field = BuildUnicodeNameField(u"abcde");
  ASSERT_EQ(field.size(), 22u);
  EXPECT_EQ(GetU16(field.data()), 0x554E);
  EXPECT_EQ(GetU16(field.data() + 2), 18);
  afp::WideString name;
  ASSERT_TRUE(ParseUnicodeNameField(field.data() + 4, field.size() - 4, name));
  EXPECT_EQ(name, u"abcde");
  // n larger than the data: refused, nothing read past the field.
  std::vector<uint8_t> lying(field.begin() + 4, field.end());
  lying[4] = 0xE8;  // n = 1000
  lying[5] = 0x03;
  EXPECT_FALSE(ParseUnicodeNameField(lying.data(), lying.size(), name));
  // Another tool's 0x554E data without the signature.
  std::vector<uint8_t> foreign = {1, 2, 3, 4, 5, 0, 0, 0, 'x', 0};
  EXPECT_FALSE(ParseUnicodeNameField(foreign.data(), foreign.size(), name));
}

TEST(InfoZipUnicodePath, VersionAndCrcMustMatch) {
  std::string header_name = "\x82.txt";
  std::string utf8 = "é.txt";
  std::vector<uint8_t> data = {1, 0, 0, 0, 0};
  PutU32(data.data() + 1, Crc32(header_name.data(), header_name.size()));
  data.insert(data.end(), utf8.begin(), utf8.end());
  afp::WideString name;
  ASSERT_TRUE(ParseInfoZipUnicodePath(data.data(), data.size(), header_name, name));
  EXPECT_EQ(name, W("é.txt"));
  EXPECT_FALSE(ParseInfoZipUnicodePath(data.data(), data.size(), "other", name));
  data[0] = 2;
  EXPECT_FALSE(ParseInfoZipUnicodePath(data.data(), data.size(), header_name, name));
}
