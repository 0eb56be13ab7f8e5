#include "arcfold/dir_array.h"

#include <gtest/gtest.h>

#include "arcfold/exception.h"
#include "platform/files.h"
#include "test_util.h"

using namespace arcfold;
using testutil::NativeOf;
using testutil::W;

namespace {

void Fill(TAFDirArray& a, int n) {
  a.SetCount(n);
  for (int i = 0; i < n; ++i) a.RenameItem(i, W("dir/File" + std::to_string(i) + ".TXT"));
}
}  // namespace

TEST(StringHash, RotateXorHashAndChains) {
  EXPECT_EQ(TAFStringHash::HashOf(u""), 0u);
  EXPECT_EQ(TAFStringHash::HashOf(u"a"), 0x61u);
  EXPECT_EQ(TAFStringHash::HashOf(u"ab"), (0x61u << 2) ^ 0x62u);
  // Rotation, not shift: the top bits come back at the bottom.
  std::u16string many(20, u'\xFFFF');
  uint32_t h = 0;
  for (char16_t c : many) h = ((h << 2) | (h >> 30)) ^ c;
  EXPECT_EQ(TAFStringHash::HashOf(many), h);

  TAFStringHash t(1);
  t.Add(u"x", 1);
  t.Add(u"y", 2);
  t.Add(u"x", 3);
  EXPECT_EQ(t.ValueOf(u"x"), 3);
  t.Remove(u"x");
  EXPECT_EQ(t.ValueOf(u"x"), 1);
  EXPECT_EQ(t.ValueOf(u"z"), -1);
}

TEST(HashedList, RebuildsPastFivePerBucket) {
  TAFHashedStringList l;
  for (int i = 0; i < 10; ++i) l.Add(W("n" + std::to_string(i)));
  EXPECT_EQ(l.IndexOf(u"N3"), 3);
  EXPECT_EQ(l.BucketCount(), 1000u);
  for (int i = 10; i < 5001; ++i) l.Add(W("n" + std::to_string(i)));
  EXPECT_EQ(l.BucketCount(), 0u);  // dropped at the 5,001st
  EXPECT_EQ(l.IndexOf(u"n5000"), 5000);
  EXPECT_EQ(l.BucketCount(), 5001u);
  for (int i = 0; i < 5001; i += 97) EXPECT_EQ(l.IndexOf(W("N" + std::to_string(i))), i);
}

TEST(DirArray, GrowthStepsAndRelease) {
  TAFDirArray a;
  a.SetCount(1);
  EXPECT_EQ(a.Capacity(), 1000);
  a.SetCount(1001);
  EXPECT_EQ(a.Capacity(), 3000);
  a.SetCount(3001);
  EXPECT_EQ(a.Capacity(), 7000);
  a.SetCount(7001);
  EXPECT_EQ(a.Capacity(), 15000);
  a.SetCount(15001);
  EXPECT_EQ(a.Capacity(), 25000);
  a.SetCount(25001);
  EXPECT_EQ(a.Capacity(), 35000);
  a.SetCount(100000);
  EXPECT_EQ(a.Capacity(), 100000);
  a.Clear();
  EXPECT_EQ(a.Capacity(), 100000);
  a.SetCount(0);
  EXPECT_EQ(a.Capacity(), 0);
}

TEST(DirArray, IndexErrors) {
  TAFDirArray a;
  Fill(a, 2);
  TDirItem item;
  EXPECT_EQ(NativeOf([&] { a.PutItem(2, item); }), 1);
  EXPECT_EQ(NativeOf([&] { a.GetItem(-1, item); }), 2);
  EXPECT_EQ(NativeOf([&] { a.ItemRef(5); }), 3);
  EXPECT_EQ(NativeOf([&] { a.Delete(2); }), 4);
  a.SetCount(5);  // the index holds 2 names
  EXPECT_EQ(NativeOf([&] { a.PutItem(4, item); }), 58);
  item.ItemName = u"third";
  a.PutItem(2, item);
  int at;
  EXPECT_TRUE(a.FindName(u"third", at));
  EXPECT_EQ(at, 2);
}

TEST(DirArray, LookupIgnoresCaseOnlyWhereFileNamesDo) {
  TAFDirArray a;
  a.SetCount(3);
  a.RenameItem(0, W("árvíztűrő.txt"));
  a.RenameItem(1, W("ΑΒΓ/Файл.dll"));
  a.RenameItem(2, W("plain"));
  int at;
  ASSERT_TRUE(a.FindName(W("árvíztűrő.txt"), at));
  EXPECT_EQ(at, 0);
  // Beyond ASCII too, where names ignore case.
  EXPECT_EQ(a.FindName(W("ÁRVÍZTŰRŐ.TXT"), at), !afp::kCaseSensitiveNames);
  EXPECT_EQ(a.FindName(W("αβγ/файл.DLL"), at), !afp::kCaseSensitiveNames);
  if (!afp::kCaseSensitiveNames) {
    EXPECT_EQ(at, 1);
  }
  EXPECT_FALSE(a.FindName(u"missing", at));
  EXPECT_EQ(at, -1);
  EXPECT_EQ(a.ItemRef(0).ItemName, W("árvíztűrő.txt"));  // case kept
  if (afp::kCaseSensitiveNames) {
    // Two names that differ in case only are two items, each found as itself.
    TAFDirArray b;
    b.SetCount(2);
    b.RenameItem(0, u"xt_CONNMARK.h");
    b.RenameItem(1, u"xt_connmark.h");
    ASSERT_TRUE(b.FindName(u"xt_connmark.h", at));
    EXPECT_EQ(at, 1);
    ASSERT_TRUE(b.FindName(u"xt_CONNMARK.h", at));
    EXPECT_EQ(at, 0);
  }
}

TEST(DirArray, DeleteMovesItemsAndKeepsIndex) {
  TAFDirArray a;
  Fill(a, 50);
  a.ItemRef(10).ExtraFields.push_back({0x1234, 1, std::vector<uint8_t>(1, 7)});
  a.Delete(3);
  EXPECT_EQ(a.Count(), 49);
  EXPECT_EQ(a.ItemRef(3).ItemName, W("dir/File4.TXT"));
  EXPECT_EQ(a.ItemRef(9).ExtraFields.size(), 1u);
  int at;
  EXPECT_FALSE(a.FindName(u"dir/file3.txt", at));
  ASSERT_TRUE(a.FindName(u"dir/File49.TXT", at));
  EXPECT_EQ(at, 48);
  for (int i = 0; i < 49; ++i) {
    ASSERT_TRUE(a.FindName(a.ItemRef(i).ItemName, at));
    EXPECT_EQ(at, i);
  }
}

TEST(DirArray, RenameConflictsAndEmptyNames) {
  TAFDirArray a;
  Fill(a, 3);
  a.RenameItem(1, u"renamed");
  int at;
  EXPECT_TRUE(a.FindName(u"renamed", at));
  EXPECT_EQ(at, 1);
  EXPECT_FALSE(a.FindName(u"dir/file1.txt", at));

  // An empty name, even twice, does not stand in the way of later items.
  TAFDirArray b;
  b.SetCount(4);
  b.RenameItem(0, u"");
  b.RenameItem(1, u"");
  b.RenameItem(2, u"second");
  b.RenameItem(1, u"third");
  EXPECT_TRUE(b.FindName(u"second", at));
  EXPECT_EQ(at, 2);
  EXPECT_TRUE(b.FindName(u"third", at));
  EXPECT_EQ(at, 1);
  // An index that no longer matches its item is broken.
  b.ItemRef(2).ItemName = u"stray";
  EXPECT_EQ(NativeOf([&] { b.RenameItem(2, u"fourth"); }), 59);
}

TEST(DirArray, PutGetAndAssignDuplicateBuffers) {
  TAFDirArray a, b;
  Fill(a, 2);
  TDirItem item;
  a.GetItem(0, item);
  item.ExtraFields.push_back({0x9999, 2, std::vector<uint8_t>(2, 1)});
  a.PutItem(0, item);
  item.ExtraFields[0].Data[0] = 42;  // the stored copy has its own buffer
  EXPECT_EQ(a.ItemRef(0).ExtraFields[0].Data[0], 1);
  b.Assign(a);
  EXPECT_EQ(b.Count(), 2);
  a.ItemRef(0).ExtraFields[0].Data[0] = 5;
  EXPECT_EQ(b.ItemRef(0).ExtraFields[0].Data[0], 1);
  int at;
  EXPECT_TRUE(b.FindName(u"dir/File1.TXT", at));
  EXPECT_EQ(at, 1);
  b.ItemRef(1).Marked = true;
  b.ClearMarks();
  EXPECT_FALSE(b.ItemRef(1).Marked);
}
