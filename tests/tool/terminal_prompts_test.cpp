// The terminal prompts of the tool, fed from scripted input; and the tool
// itself on a pseudo-terminal.
#include "terminal_prompts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "progress_line.h"
#include "test_util.h"

using afp::PromptAnswer;
using afp::PromptButtons;

namespace {

struct Scripted {
  explicit Scripted(const std::string& input) : in_text(input) {
    in = fmemopen(in_text.data(), in_text.size(), "r");
    out = open_memstream(&out_buf, &out_len);
  }
  ~Scripted() {
    std::fclose(in);
    std::fclose(out);
    std::free(out_buf);
  }
  std::string Output() {
    std::fflush(out);
    return std::string(out_buf, out_len);
  }
  std::string in_text;
  FILE* in;
  FILE* out;
  char* out_buf = nullptr;
  size_t out_len = 0;
};

}  // namespace

TEST(TerminalPrompts, OverwriteAnswers) {
  Scripted s("\nx\nN\nA\ny\nn\n");
  arcfold_cli::TerminalPrompts p(s.in, s.out);
  EXPECT_EQ(p.Ask("Overwrite file \"a\" with \"b\"", PromptButtons::YesNoNoToAllYesToAll), PromptAnswer::NoToAll);
  EXPECT_EQ(p.Ask("q", PromptButtons::YesNoNoToAllYesToAll), PromptAnswer::YesToAll);
  EXPECT_EQ(p.Ask("q", PromptButtons::YesNoNoToAllYesToAll), PromptAnswer::Yes);
  EXPECT_EQ(p.Ask("q", PromptButtons::YesNoNoToAllYesToAll), PromptAnswer::No);
  EXPECT_EQ(p.Ask("q", PromptButtons::YesNoNoToAllYesToAll), PromptAnswer::Closed);  // end of input
  EXPECT_NE(s.Output().find("Overwrite file \"a\" with \"b\""), std::string::npos);
}

TEST(TerminalPrompts, FailureAndVolumeAnswers) {
  Scripted s("r\ni\nr\na\nO\nc\n");
  arcfold_cli::TerminalPrompts p(s.in, s.out);
  EXPECT_EQ(p.Ask("e", PromptButtons::AbortRetryIgnore), PromptAnswer::Retry);
  EXPECT_EQ(p.Ask("e", PromptButtons::AbortRetryIgnore), PromptAnswer::Ignore);
  EXPECT_EQ(p.Ask("e", PromptButtons::AbortIgnore), PromptAnswer::Abort);  // "r" is not offered: asked again
  EXPECT_EQ(p.Ask("v", PromptButtons::OkCancel), PromptAnswer::Ok);
  EXPECT_EQ(p.Ask("v", PromptButtons::OkCancel), PromptAnswer::Cancel);
}

TEST(TerminalPrompts, PasswordOkEmptyAndCancel) {
  Scripted s("secret\n\n");
  arcfold_cli::TerminalPrompts p(s.in, s.out);
  std::string pw;
  ASSERT_TRUE(p.AskPassword("Password for \"x\"", "Enter password: ", pw));
  EXPECT_EQ(pw, "secret");
  ASSERT_TRUE(p.AskPassword("c", "Enter password: ", pw));
  EXPECT_EQ(pw, "");
  EXPECT_FALSE(p.AskPassword("c", "Enter password: ", pw));  // end of input cancels
  EXPECT_EQ(s.Output().find("secret"), std::string::npos);
}

TEST(TerminalPrompts, ToolAsksOnAPseudoTerminal) {
  if (testutil::Sh("command -v script >/dev/null") != 0) GTEST_SKIP() << "script(1) not installed";
  testutil::TempDir dir;
  std::string zip = dir / "t.zip";
  testutil::WriteFile(zip, testutil::BuildZip({{.name = "a.txt", .data = "new"}, {.name = "b.txt", .data = "new"}}));
  testutil::WriteFile(dir / "a.txt", "old");
  testutil::WriteFile(dir / "b.txt", "old");
  // "n" for a.txt, then "A" (yes to all) for b.txt, typed on the terminal.
  std::string cmd = "cd " + testutil::Quote(dir.path()) +
                    " && (sleep 0.5; printf 'n\\n'; sleep 0.5; printf 'A\\n') | script -qec " +
                    testutil::Quote(testutil::Quote(ARCFOLD_CLI) + " extract t.zip") + " /dev/null";
  std::string out;
  EXPECT_EQ(testutil::Sh(cmd, &out), 0) << out;
  EXPECT_NE(out.find("Overwrite file"), std::string::npos) << out;
  EXPECT_EQ(testutil::ReadFile(dir / "a.txt"), "old");
  EXPECT_EQ(testutil::ReadFile(dir / "b.txt"), "new");
}

TEST(TerminalPrompts, PasswordAskedOnThePseudoTerminalUntilRight) {
  if (testutil::Sh("command -v python3 >/dev/null") != 0) GTEST_SKIP() << "python3 not installed";
  testutil::TempDir dir;
  // The encryption header is fixed: with a random one, "wrong" would pass
  // its one-byte check once in 256 runs, and nothing would ask again.
  testutil::WriteFile(dir / "e.zip", testutil::BuildZip({testutil::ClassicEntry("secret.txt", "the secret", "right")}));
  // A wrong password first: the question comes again; then the right one.
  // Each is typed once its question is on the terminal.
  std::string cmd = "cd " + testutil::Quote(dir.path()) + " && python3 " +
                    testutil::Quote(std::string(ARCFOLD_TEST_DATA) + "/../scripts/on_terminal.py") +
                    " wrong right -- " + testutil::Quote(ARCFOLD_CLI) + " extract e.zip";
  std::string out;
  EXPECT_EQ(testutil::Sh(cmd, &out), 0) << out;
  size_t first = out.find("Password for \"secret.txt\"");
  ASSERT_NE(first, std::string::npos) << out;
  EXPECT_NE(out.find("Password for \"secret.txt\"", first + 1), std::string::npos) << out;
  EXPECT_EQ(out.find("right"), std::string::npos);  // typed without echo
  EXPECT_EQ(testutil::ReadFile(dir / "secret.txt"), "the secret");
}

TEST(ProgressLine, CountsBytesWithARecentRateAndClearsItself) {
  using std::chrono::milliseconds;
  Scripted io("");
  // A folder, a big file and a small one: the folder counts for nothing.
  arcfold_cli::ProgressLine line(io.out, {0, 900'000'000, 100'000'000});
  const auto t0 = arcfold_cli::ProgressLine::Clock::now();
  line.ItemStarted("tree/");
  line.ItemStarted("tree/big.bin");
  EXPECT_EQ(line.Text(t0).rfind("  0.0%", 0), 0u) << line.Text(t0);
  line.ItemProgress(10, t0);
  line.ItemProgress(50, t0 + milliseconds(50));  // within the redraw interval: not drawn
  line.ItemProgress(50, t0 + milliseconds(1000));
  // 450 MB of 1000 MB; 360 MB in the last second.
  EXPECT_NE(line.Text(t0 + milliseconds(1000)).find(" 45.0%     450.0 of 1000.0 MB   360.0 MB/s tree/big.bin"),
            std::string::npos)
      << line.Text(t0 + milliseconds(1000));
  line.ItemStarted("tree/big.bin");  // a retry starts the item over
  line.ItemProgress(0, t0 + milliseconds(2000));
  line.ItemStarted("tree/small.txt");
  line.ItemProgress(100, t0 + milliseconds(3000));
  EXPECT_EQ(line.Text(t0 + milliseconds(3000)).rfind("100.0%", 0), 0u);
  line.Clear();
  std::fflush(io.out);
  const std::string drawn(io.out_buf, io.out_len);
  EXPECT_EQ(drawn.back(), '\r');                                        // a question starts at the left
  EXPECT_EQ(std::count(drawn.begin(), drawn.end(), '\r'), 6) << drawn;  // four lines drawn, then the clear's two
}
