// Inputs the fuzzers once broke the library with, kept in tests/data/fuzz/:
// each must open (or be refused), test and extract without a crash, and
// write nothing outside the destination.
#include <gtest/gtest.h>

#include <filesystem>

#include "arcfold/arcfold.h"
#include "test_util.h"

using namespace arcfold;

TEST(FuzzRegressions, EveryKeptInputIsHandled) {
  namespace fs = std::filesystem;
  const fs::path data = fs::path(ARCFOLD_TEST_DATA) / "fuzz";
  int seen = 0;
  for (const auto& entry : fs::directory_iterator(data)) {
    SCOPED_TRACE(entry.path().filename().string());
    testutil::TempDir dir;
    TArcfold a;
    afp::SafeAnswerPrompts no_one_there;
    a.PromptUI = &no_one_there;
    a.OnProcessFileFailure = [](TAFBaseArchiver*, const afp::WideString&, TAFProcessOperation, int, int,
                                const afp::WideString&, TAFAction& action) { action = fxaIgnore; };
    a.SetFileName(testutil::W(entry.path().string()));
    ++seen;
    try {
      a.OpenArchive(fmOpenRead | fmShareDenyNone);
    } catch (const EAFException&) {
      continue;
    }
    a.SetBaseDir(testutil::W(dir / "out"));
    a.TestFiles(u"*.*");
    a.ExtractFiles(u"*.*");
    std::vector<std::string> entries = testutil::Entries(dir.path());
    EXPECT_TRUE(entries.empty() || entries == std::vector<std::string>{"out"}) << entries.front();
  }
  EXPECT_GT(seen, 0);
}
