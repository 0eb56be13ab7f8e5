// Event order and the built-in questions, answered by a scripted UI.
#include <fmt/format.h>
#include <gtest/gtest.h>

#include <deque>

#include "arcfold/arcfold.h"
#include "crypto/aes_transform.h"
#include "test_util.h"

using namespace arcfold;
using testutil::W;

namespace {

// Answers questions from a script and records what was asked.
class ScriptedPrompts : public afp::Prompts {
 public:
  std::deque<afp::PromptAnswer> answers;
  std::deque<std::string> passwords;  // "" pops as cancel when marked
  std::vector<std::pair<std::string, afp::PromptButtons>> asked;
  std::vector<std::string> password_captions;
  afp::PromptAnswer Ask(std::string_view text, afp::PromptButtons b) override {
    asked.emplace_back(std::string(text), b);
    if (answers.empty()) return afp::PromptAnswer::Closed;
    auto a = answers.front();
    answers.pop_front();
    return a;
  }
  bool AskPassword(std::string_view caption, std::string_view, std::string& pw) override {
    password_captions.emplace_back(caption);
    if (passwords.empty()) return false;
    pw = passwords.front();
    passwords.pop_front();
    return true;
  }
};

class EventsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testutil::WriteFile(dir / "e.zip", testutil::BuildZip({{.name = "d/one.txt", .data = std::string(70000, '1')},
                                                           {.name = "two.txt", .data = "2", .crc = 7},
                                                           {.name = "three.txt", .data = "3", .method = 8}}));
    a.SetFileName(W(dir / "e.zip"));
    a.OpenArchive();
    a.SetBaseDir(W(dir / "out"));
    a.PromptUI = &ui;
  }
  testutil::TempDir dir;
  TArcfold a;
  ScriptedPrompts ui;
  std::vector<std::string> log;
};

}  // namespace

TEST_F(EventsTest, OrderOfEventsInARun) {
  a.OnOverallProgress = [&](TAFBaseArchiver*, double p, TAFProcessOperation op, TAFProgressPhase ph, bool&) {
    if (ph != ppProcess) log.push_back(fmt::format("overall {} {} {}", int(ph), p, int(op)));
  };
  a.OnFileProgress = [&](TAFBaseArchiver*, const afp::WideString& n, double p, TAFProcessOperation, TAFProgressPhase ph,
                         bool&) {
    if (ph != ppProcess) log.push_back(fmt::format("file {} {} {}", testutil::U(n), int(ph), p));
  };
  a.OnConfirmProcessFile = [&](TAFBaseArchiver*, const afp::WideString& n, TAFProcessOperation, bool& c) {
    log.push_back("confirm " + testutil::U(n));
    c = n != u"three.txt";
  };
  a.OnExtractFile = [&](TAFBaseArchiver*, afp::WideString& n, uint32_t&, const std::string&) {
    log.push_back("extract " + testutil::U(n));
  };
  a.OnProcessFileFailure = [&](TAFBaseArchiver*, const afp::WideString& n, TAFProcessOperation, int native, int cat,
                               const afp::WideString&, TAFAction& act) {
    log.push_back(fmt::format("failure {} {} {}", testutil::U(n), native, cat));
    act = fxaIgnore;
  };
  a.ExtractFiles(u"*.*");
  std::vector<std::string> expected = {"overall 0 0 4",      "confirm d\\one.txt",    "file d\\one.txt 0 0",
                                       "extract d\\one.txt", "file d\\one.txt 2 100", "confirm two.txt",
                                       "file two.txt 0 0",   "extract two.txt",       "failure two.txt 8 4",
                                       "confirm three.txt",  "overall 2 100 4"};
  EXPECT_EQ(log, expected);
  EXPECT_TRUE(ui.asked.empty());
}

TEST_F(EventsTest, StoredItemProgressOncePerPiece) {
  std::vector<double> steps;
  a.OnFileProgress = [&](TAFBaseArchiver*, const afp::WideString&, double p, TAFProcessOperation, TAFProgressPhase ph,
                         bool&) {
    if (ph == ppProcess) steps.push_back(p);
  };
  a.ExtractFiles(u"d/one.txt");
  ASSERT_EQ(steps.size(), 2u);  // 65,535 + 4,465 bytes
  EXPECT_NEAR(steps[0], 65535.0 / 70000 * 100, 1e-9);
  EXPECT_EQ(steps[1], 100.0);
}

TEST_F(EventsTest, CancelInProgressEndsRunAndDeletesFile) {
  a.OnFileProgress = [&](TAFBaseArchiver*, const afp::WideString&, double, TAFProcessOperation, TAFProgressPhase ph,
                         bool& cancel) {
    if (ph == ppProcess) cancel = true;
  };
  int ends = 0;
  a.OnOverallProgress = [&](TAFBaseArchiver*, double, TAFProcessOperation, TAFProgressPhase ph, bool&) {
    ends += ph == ppEnd;
  };
  a.BeginUpdate();
  a.EndUpdate();
  a.ExtractFiles(u"*.*");
  EXPECT_EQ(ends, 1);
  EXPECT_FALSE(testutil::Exists(dir / "out/d/one.txt"));
  EXPECT_FALSE(testutil::Exists(dir / "out/three.txt"));
}

TEST_F(EventsTest, FailurePromptRetryIgnoreAbort) {
  ui.answers = {afp::PromptAnswer::Retry, afp::PromptAnswer::Ignore};
  a.ExtractFiles(u"*.*");
  ASSERT_EQ(ui.asked.size(), 2u);
  EXPECT_EQ(ui.asked[0].first,
            "Invalid size or check sum of file or unsupported compression format - Native error: 00008. File "
            "processing error, possibly disk is full");
  EXPECT_EQ(ui.asked[0].second, afp::PromptButtons::AbortRetryIgnore);
  EXPECT_TRUE(testutil::Exists(dir / "out/three.txt"));

  ui.asked.clear();
  testutil::RemoveAll(dir / "out");
  ui.answers = {afp::PromptAnswer::Abort};
  a.ExtractFiles(u"*.*");
  EXPECT_EQ(ui.asked.size(), 1u);
  EXPECT_TRUE(a.LastRunAborted());
  EXPECT_FALSE(testutil::Exists(dir / "out/three.txt"));  // the run stopped at two.txt
}

TEST_F(EventsTest, FailureDefaultsFor45And61) {
  TAFAction action = fxaRetry;
  a.DoProcessFileFailure(u"x", poExtract, 45, 24, u"aborted", action);
  EXPECT_EQ(action, fxaAbort);
  EXPECT_TRUE(ui.asked.empty());
  ui.answers = {afp::PromptAnswer::Ignore};
  a.DoProcessFileFailure(u"x", poExtract, 61, 36, u"too long", action);
  EXPECT_EQ(action, fxaIgnore);
  EXPECT_EQ(ui.asked.back(), (std::pair<std::string, afp::PromptButtons>{"too long", afp::PromptButtons::AbortIgnore}));
}

TEST_F(EventsTest, OverwritePromptToAllAnswersPersist) {
  a.Options().OverwriteMode = omPrompt;
  a.ExtractFiles(u"three.txt");
  EXPECT_TRUE(ui.asked.empty());  // nothing there yet
  ui.answers = {afp::PromptAnswer::NoToAll};
  a.ExtractFiles(u"three.txt");
  ASSERT_EQ(ui.asked.size(), 1u);
  std::string target = testutil::U(a.BaseDir()) + "\\three.txt";
  EXPECT_EQ(ui.asked[0].first, "Overwrite file \"" + target + "\" with \"three.txt\"");
  EXPECT_EQ(a.Options().OverwriteMode, omNever);
  a.ExtractFiles(u"three.txt");
  EXPECT_EQ(ui.asked.size(), 1u);
  a.Options().OverwriteMode = omPrompt;
  ui.answers = {afp::PromptAnswer::YesToAll};
  a.ExtractFiles(u"three.txt");
  EXPECT_EQ(a.Options().OverwriteMode, omAlways);
}

TEST_F(EventsTest, DiskFullWithoutHandlerIsError65) {
  try {
    bool cancel = false;
    a.DoDiskFull(-1, u"x", cancel);
    FAIL();
  } catch (const EAFException& e) {
    EXPECT_EQ(e.NativeError(), 65);
    EXPECT_EQ(std::string(e.what()).find("Disk is full"), 0u);
  }
}

TEST_F(EventsTest, PasswordDialogDefaults) {
  std::string pw = "kept";
  bool skip = false;
  a.DoPassword(u"a\\b.txt", pw, skip);
  EXPECT_TRUE(skip);
  EXPECT_EQ(pw, "kept");
  EXPECT_EQ(ui.password_captions.back(), "Password for \"a\\b.txt\"");
  ui.passwords = {""};
  a.DoPassword(u"x", pw, skip);
  EXPECT_FALSE(skip);
  EXPECT_EQ(pw, "");
}

TEST_F(EventsTest, VolumePromptsOnlyWhenSpanning) {
  afp::WideString name = W(dir / "missing.z01");
  bool cancel = false;
  a.DoRequestMiddleVolume(2, name, cancel);
  EXPECT_TRUE(cancel);
  EXPECT_TRUE(ui.asked.empty());
  a.CloseArchive();
  a.SetSpanningMode(smSpanning);
  ui.answers = {afp::PromptAnswer::Ok};
  a.DoRequestBlankVolume(-3, name, cancel);
  EXPECT_FALSE(cancel);
  EXPECT_EQ(ui.asked.back().first, "Please insert a blank disk #1");
}

TEST_F(EventsTest, HandlersSeeOneBasedVolumeNumbers) {
  int seen = -5;
  a.OnRequestBlankVolume = [&](TAFBaseArchiver*, int n, afp::WideString&, bool&) { seen = n; };
  afp::WideString blank = u"x";
  bool no = false;
  a.DoRequestBlankVolume(-1, blank, no);  // "the current one": never 0 or less
  EXPECT_EQ(seen, 1);
  a.OnRequestMiddleVolume = [&](TAFBaseArchiver*, int n, afp::WideString&, bool&) { seen = n; };
  afp::WideString name = u"x";
  bool cancel = false;
  a.DoRequestMiddleVolume(0, name, cancel);
  EXPECT_EQ(seen, 1);
  a.OnRequestMiddleVolume = nullptr;
  a.CloseArchive();
  a.SetSpanningMode(smSpanning);
  ui.answers = {afp::PromptAnswer::Cancel};
  a.DoRequestMiddleVolume(2, name, cancel);
  EXPECT_TRUE(cancel);
  EXPECT_EQ(ui.asked.back().first, "Please insert disk #3");
}

// With a handler assigned, a deflated item reports once per 1 MiB of output,
// the rhythm handlers are written for (without one the decoder moves finer
// pieces, which nobody sees).
TEST_F(EventsTest, DeflatedItemProgressOncePerMebibyteOfOutput) {
  std::string text;
  while (text.size() < (5u << 19)) text += "progress is reported per mebibyte of output\n";
  testutil::WriteFile(dir / "big.zip", testutil::BuildZip({{.name = "big.txt", .data = text, .method = 8}}));
  TArcfold b;
  b.SetFileName(W(dir / "big.zip"));
  b.OpenArchive();
  std::vector<double> steps;
  b.OnFileProgress = [&](TAFBaseArchiver*, const afp::WideString&, double p, TAFProcessOperation, TAFProgressPhase ph,
                         bool&) {
    if (ph == ppProcess) steps.push_back(p * static_cast<double>(text.size()) / 100);
  };
  b.TestFiles(u"*.*");
  ASSERT_EQ(steps.size(), 3u);
  EXPECT_EQ(steps[0], 0.0);
  EXPECT_NEAR(steps[1], 1 << 20, 1e-6);
  EXPECT_NEAR(steps[2], 2 << 20, 1e-6);
}

namespace {

// An archive of one encrypted item, "docs/secret.txt", under the password
// "right". Its encryption header is fixed, so that whether a wrong password
// slips through the check is the same on every run.
std::string EncryptedArchive(const testutil::TempDir& dir, TAFCryptoAlgorithm alg) {
  const std::string zip = dir / "secret.zip";
  const std::string name = "docs/secret.txt", plain = "top secret";
  testutil::WriteFile(
      zip, testutil::BuildZip({alg == caPkzipClassic ? testutil::ClassicEntry(name, plain, "right")
                                                     : testutil::AesEntry(name, plain, "right", AesKeyBits(alg))}));
  return zip;
}

}  // namespace

// Read on its own (into memory, say), an item whose password does not fit
// must fail, not come back empty: nobody else hears of the skip.
TEST_F(EventsTest, DecodingAnItemWithoutItsPasswordFailsNamingIt) {
  for (TAFCryptoAlgorithm alg : {caPkzipClassic, caAES_256}) {
    SCOPED_TRACE(int(alg));
    TArcfold b;
    b.SetFileName(W(EncryptedArchive(dir, alg)));
    b.OpenArchive();
    b.PromptUI = &ui;  // no answers: the question is cancelled
    auto expect_refused = [&](const char* how) {
      TMemoryStream sink;
      try {
        b.DecodeItem(0, sink);
        ADD_FAILURE() << how << ": no error";
      } catch (const EAFException& e) {
        EXPECT_EQ(e.NativeError(), 67) << how;
        EXPECT_NE(std::string(e.what()).find("docs/secret.txt"), std::string::npos) << e.what();
      }
      EXPECT_EQ(sink.Size(), 0) << how;
    };
    expect_refused("no password");
    b.SetPassword("wrong");
    expect_refused("wrong password");
    b.OnPassword = [](TAFBaseArchiver*, const afp::WideString&, std::string&, bool& skip) { skip = true; };
    expect_refused("skipped by a handler");
    EXPECT_THROW(b.TestItem(0), EAFException);

    // A run passes a skipped item over as before; a cancelled run does not
    // make later reads come back short.
    b.OnFileProgress = [](TAFBaseArchiver*, const afp::WideString&, double, TAFProcessOperation, TAFProgressPhase,
                          bool& cancel) { cancel = true; };
    b.TestFiles(u"*.*");
    ASSERT_TRUE(b.CancelFlag());
    b.OnFileProgress = nullptr;
    b.SetPassword("right");
    TMemoryStream sink;
    b.DecodeItem(0, sink);
    EXPECT_EQ(std::string(sink.Data().begin(), sink.Data().end()), "top secret");
  }
}

// A password handler that only logs (or keeps guessing wrong) must not hold
// the item, or the run, forever: the item fails with error 67.
TEST_F(EventsTest, PasswordQuestionEndsAfterUselessAnswers) {
  for (TAFCryptoAlgorithm alg : {caPkzipClassic, caAES_256}) {
    SCOPED_TRACE(int(alg));
    TArcfold b;
    b.SetFileName(W(EncryptedArchive(dir, alg)));
    b.OpenArchive();
    b.SetBaseDir(W(dir / "pw"));
    b.SetPassword("wrong");
    std::vector<int> failures;
    b.OnProcessFileFailure = [&](TAFBaseArchiver*, const afp::WideString&, TAFProcessOperation, int native, int,
                                 const afp::WideString&, TAFAction& action) {
      failures.push_back(native);
      action = fxaIgnore;
    };
    int asked = 0;
    // Each handler gives up by itself after 1,000 questions, so that a
    // missing bound fails here instead of hanging.
    auto handler = [&](std::function<std::string(int)> answer) {
      asked = 0;
      failures.clear();
      b.OnPassword = [&asked, answer](TAFBaseArchiver*, const afp::WideString&, std::string& pw, bool& skip) {
        if (++asked == 1000)
          skip = true;
        else
          pw = answer(asked);
      };
    };
    handler([](int) { return std::string("wrong"); });  // leaves it as it was
    b.ExtractFiles(u"*.*");
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(failures, std::vector<int>{67});
    EXPECT_FALSE(testutil::Exists(dir / "pw/docs/secret.txt"));

    handler([](int n) { return fmt::format("guess {}", n); });
    b.TestFiles(u"*.*");
    EXPECT_EQ(asked, 5);
    EXPECT_EQ(failures, std::vector<int>{67});
    TNullStream sink;
    EXPECT_EQ(testutil::NativeOf([&] { b.DecodeItem(0, sink); }), 67);

    // Wrong answers that end in the right one are fine.
    handler([](int n) { return n < 4 ? fmt::format("guess {}", n) : std::string("right"); });
    b.ExtractFiles(u"*.*");
    EXPECT_EQ(asked, 4);
    EXPECT_TRUE(failures.empty());
    EXPECT_EQ(testutil::ReadFile(dir / "pw/docs/secret.txt"), "top secret");
    testutil::RemoveAll(dir / "pw");
  }
}
