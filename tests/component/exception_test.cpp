#include <fmt/format.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>

#include "arcfold/arcfold.h"
#include "test_util.h"

using arcfold::EAFException;
using arcfold::TArcfold;

TEST(ExceptionTable, EveryCodeHasItsCategory) {
  // category -> the specific codes that carry it
  const std::vector<std::pair<int, std::vector<int>>> table = {
      {0, {0}},
      {1, {1, 2, 3, 4, 7, 16, 21, 24}},
      {2, {5}},
      {3, {6}},
      {4, {8}},
      {5, {9, 10, 29}},
      {6, {11, 12, 15, 18, 30, 31, 38, 42, 53, 54}},
      {7, {13, 14}},
      {8, {17}},
      {9, {19, 23}},
      {10, {20}},
      {11, {22, 25}},
      {12, {33}},
      {13, {26}},
      {14, {27}},
      {15, {28}},
      {16, {32}},
      {17, {34}},
      {18, {35}},
      {19, {36}},
      {20, {37}},
      {21, {39}},
      {22, {40}},
      {23, {41, 43}},
      {24, {44, 45}},
      {25, {46}},
      {26, {47}},
      {27, {48, 57}},
      {28, {49}},
      {29, {50}},
      {30, {51}},
      {31, {52}},
      {32, {55}},
      {33, {56}},
      {34, {58, 59}},
      {35, {60}},
      {36, {61}},
      {37, {62}},
      {38, {63, 64}},
      {39, {65, 66}},
      {40, {67}},
  };
  int seen = 0;
  for (const auto& [category, codes] : table) {
    for (int code : codes) {
      EXPECT_EQ(EAFException::CategoryOf(code), category) << "code " << code;
      EXPECT_EQ(EAFException::Create(code).ErrorCode(), category);
      EXPECT_EQ(EAFException::Create(code).NativeError(), code);
      ++seen;
    }
  }
  EXPECT_EQ(seen, 68);
}

TEST(ExceptionMessage, ComposedFromNameTextAndPaddedCode) {
  TArcfold a;
  a.SetName("Arcfold");
  EXPECT_STREQ(EAFException::Create(13, &a).what(), "Arcfold: Archive is not open - Native error: 00013");
  EXPECT_STREQ(EAFException::CreateFmt(12, &a, {testutil::W("C:\\x\\dll.zip")}).what(),
               "Arcfold: File \"C:\\x\\dll.zip\" not found - Native error: 00012");
}

TEST(ExceptionMessage, NoPrefixWithoutArchiverOrWithEmptyName) {
  EXPECT_STREQ(EAFException::Create(65).what(),
               "Disk is full. There is not enough free space on disk. - Native error: 00065");
  TArcfold unnamed;
  EXPECT_STREQ(EAFException::Create(35, &unnamed).what(), "Invalid archive file. - Native error: 00035");
}

TEST(ExceptionMessage, SharedCategoryKeepsOwnNumber) {
  for (int code : {9, 10, 29}) {
    std::string msg = EAFException::Create(code).what();
    EXPECT_EQ(msg.rfind("File name is blank. Specify appropriate file name - Native error: 000", 0), 0u) << msg;
    EXPECT_EQ(msg.substr(msg.size() - 5), fmt::format("{:05}", code));
  }
}

TEST(ExceptionMessage, UnknownAndNegativeCodes) {
  EXPECT_STREQ(EAFException::Create(-5).what(), "Unknown error - Native error: 000-5");
  EXPECT_EQ(EAFException::Create(1000).ErrorCode(), 0);
  EXPECT_STREQ(EAFException::Create(1000).what(), "Unknown error - Native error: 01000");
  EXPECT_STREQ(EAFException::Create(123456).what(), "Unknown error - Native error: 123456");
}

TEST(ExceptionMessage, NumbersAndLongNameText) {
  EXPECT_STREQ(EAFException::CreateFmt(34, nullptr, {int64_t{10}, int64_t{-3}}).what(),
               "Invalid compressed size, rfs.size = 10, count = -3 - Native error: 00034");
  EXPECT_STREQ(EAFException::CreateFmt(61, nullptr, {testutil::W("n")}).what(),
               "File name is too long: \r\n\"n\" - Native error: 00061");
  EXPECT_EQ(std::string(EAFException::MessageText(20)),
            "Archive is open. You should close it beore performing this operation.");
}

// Whatever the library raises is caught by its one base, which carries the
// failure's number; a path in the message is spelled as the system spells
// it, even where the library held it in its internal "\" form.
TEST(ExceptionBase, OneBaseWithNumberAndSystemSpelledPaths) {
  testutil::TempDir dir;
  const std::string missing = dir / "no/such.zip";
  std::string internal_form = missing;
  std::replace(internal_form.begin(), internal_form.end(), '/', '\\');
#ifdef _WIN32
  const std::string shown = internal_form;
  const int not_found = 3;  // ERROR_PATH_NOT_FOUND: its folder is missing too
#else
  const std::string shown = missing;
  const int not_found = ENOENT;
#endif
  try {
    arcfold::TFileStream stream(testutil::W(internal_form), arcfold::fmOpenRead);
    ADD_FAILURE() << "a missing file opened";
  } catch (const arcfold::EAFError& e) {
    EXPECT_NE(dynamic_cast<const arcfold::EFOpenError*>(&e), nullptr);
    EXPECT_EQ(e.NativeError(), not_found);
    EXPECT_NE(std::string(e.what()).find('"' + shown + '"'), std::string::npos) << e.what();
  }
  TArcfold zip;
  zip.SetFileName(testutil::W(dir / "new.zip"));
  zip.OpenArchive();
  try {
    zip.AddFiles(testutil::W(missing));
    ADD_FAILURE() << "a missing file was added";
  } catch (const arcfold::EAFError& e) {
    EXPECT_NE(dynamic_cast<const EAFException*>(&e), nullptr);
    EXPECT_EQ(e.NativeError(), arcfold::NativeError::kCannotOpenFile);
    EXPECT_NE(std::string(e.what()).find('"' + shown + '"'), std::string::npos) << e.what();
  }
}
