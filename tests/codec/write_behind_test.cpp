// A large item's output written on a second thread: a write that falls
// short in any place brings the disk-full question once, on the calling
// thread, and the item still comes out whole; a cancel there stops it.
// Both ways (second thread or not) must behave the same.
#include <gtest/gtest.h>

#include <string>

#include "arcfold/arcfold.h"
#include "test_util.h"

using namespace arcfold;
using testutil::W;

namespace {

// Memory that falls short on its Nth write: half the block lands, as on a
// disk that fills up, and the write after a retry succeeds.
class FillingStream : public TMemoryStream {
 public:
  explicit FillingStream(int fail_at) : fail_at_(fail_at) {}
  int64_t Write(const void* buffer, int64_t count) override {
    if (++writes_ == fail_at_ && count > 1) return TMemoryStream::Write(buffer, count / 2);
    return TMemoryStream::Write(buffer, count);
  }
  int writes() const { return writes_; }

 private:
  int fail_at_;
  int writes_ = 0;
};

class WriteBehindTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Text and noise, about 12 MiB: many output blocks.
    while (data.size() < (12u << 20)) {
      data += "a line of text that compresses well, number " + std::to_string(data.size()) + "\n";
      if (data.size() % 7 == 0) data += testutil::RandomBytes(5000, static_cast<unsigned>(data.size()));
    }
    testutil::WriteFile(zip, testutil::BuildZip({{.name = "big.txt", .data = data, .method = 8}}));
  }
  void TearDown() override { testutil::SetEnv("ARCFOLD_PARALLEL", ""); }

  struct Outcome {
    bool complete;
    int questions;
    int writes;
  };
  Outcome Decode(bool parallel, int fail_at, bool cancel_at_question) {
    testutil::SetEnv("ARCFOLD_PARALLEL", parallel ? "" : "off");
    TArcfold a;
    a.SetFileName(W(zip));
    a.OpenArchive();
    int questions = 0;
    a.OnDiskFull = [&](TAFBaseArchiver*, int, const afp::WideString&, bool& cancel) {
      ++questions;
      cancel = cancel_at_question;
    };
    FillingStream out(fail_at);
    a.DecodeItem(0, out);
    std::string got(out.Data().begin(), out.Data().end());
    return {got == data, questions, out.writes()};
  }

  testutil::TempDir dir;
  std::string zip = dir / "big.zip";
  std::string data;
};

}  // namespace

TEST_F(WriteBehindTest, ShortWriteAnywhereAsksOnceAndTheItemComesOutWhole) {
  const int blocks = Decode(false, 0, false).writes;
  ASSERT_GT(blocks, 40);
  for (int fail_at : {1, 2, 9, blocks / 2, blocks - 1, blocks}) {
    SCOPED_TRACE(fail_at);
    for (bool parallel : {false, true}) {
      Outcome o = Decode(parallel, fail_at, false);
      EXPECT_TRUE(o.complete) << parallel;
      EXPECT_EQ(o.questions, 1) << parallel;
    }
  }
}

TEST_F(WriteBehindTest, CancelAtTheQuestionStopsTheItem) {
  for (bool parallel : {false, true}) {
    Outcome o = Decode(parallel, 5, true);
    EXPECT_FALSE(o.complete) << parallel;
    EXPECT_EQ(o.questions, 1) << parallel;
    EXPECT_EQ(o.writes, 5) << parallel;  // nothing written after the short write
  }
}
