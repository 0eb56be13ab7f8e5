// Runs with helpers decoding ahead and runs that take one item at a time
// must not be told apart: the same files with the same times and modes,
// the same events with the same arguments in the same order, the same
// answers to the same questions, and nothing left behind.
#include <fmt/format.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <iterator>
#include <stdexcept>
#include <thread>

#include "arcfold/arcfold.h"
#include "platform/files.h"
#include "test_util.h"

using namespace arcfold;
using testutil::W;
namespace fs = std::filesystem;

namespace {

using Configure = std::function<void(TArcfold&, std::vector<std::string>&)>;

// What a handler of a test throws to end a run.
struct HandlerThrew : std::runtime_error {
  HandlerThrew() : std::runtime_error("the handler threw") {}
};

// Every event of a run, with its arguments.
void LogEvents(TArcfold& a, std::vector<std::string>& log) {
  a.OnConfirmProcessFile = [&log](TAFBaseArchiver*, const afp::WideString& n, TAFProcessOperation op, bool&) {
    log.push_back(fmt::format("confirm {} {}", testutil::U(n), int(op)));
  };
  a.OnFileProgress = [&log](TAFBaseArchiver*, const afp::WideString& n, double p, TAFProcessOperation,
                            TAFProgressPhase ph,
                            bool&) { log.push_back(fmt::format("file {} {} {:.6f}", testutil::U(n), int(ph), p)); };
  a.OnOverallProgress = [&log](TAFBaseArchiver*, double p, TAFProcessOperation, TAFProgressPhase ph, bool&) {
    log.push_back(fmt::format("overall {} {:.6f}", int(ph), p));
  };
  a.OnExtractFile = [&log](TAFBaseArchiver*, afp::WideString& n, uint32_t& attr, const std::string&) {
    log.push_back(fmt::format("extract {} {}", testutil::U(n), attr));
  };
  a.OnProcessFileFailure = [&log](TAFBaseArchiver*, const afp::WideString& n, TAFProcessOperation, int native,
                                  int category, const afp::WideString&, TAFAction& action) {
    log.push_back(fmt::format("failure {} {} {}", testutil::U(n), native, category));
    action = fxaIgnore;
  };
}

// What an extraction left: every path with its kind, size, content, time
// and permissions.
std::vector<std::string> Tree(const std::string& root) {
  std::vector<std::string> out;
  if (!fs::exists(root)) return out;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    std::string rel = fs::relative(e.path(), root).generic_string();
    auto perms = static_cast<unsigned>(fs::symlink_status(e.path()).permissions());
    if (e.is_directory()) {
      out.push_back(fmt::format("{}/ {:o}", rel, perms));
      continue;
    }
    auto time = fs::last_write_time(e.path()).time_since_epoch().count();
    out.push_back(fmt::format("{} {} {} {} {:o}", rel, e.file_size(),
                              std::hash<std::string>()(testutil::ReadFile(e.path().string())), time, perms));
  }
  std::sort(out.begin(), out.end());
  return out;
}

class ExtractAheadTest : public ::testing::Test {
 protected:
  // Enough items for the helpers to run well ahead: stored and deflated,
  // empty, folders, one large enough for several progress reports, and
  // the item at `bad` with a wrong CRC.
  void MakeArchive(int count, int bad = -1, const std::string& folder = "") {
    std::vector<testutil::RawEntry> entries;
    for (int i = 0; i < count; ++i) {
      testutil::RawEntry e;
      e.name = fmt::format("{}d{}/f{}.txt", folder, i / 25, i);
      e.data = i % 7 == 3 ? "" : fmt::format("item {} ", i) + std::string(static_cast<size_t>(i * 97 % 5000), 'x');
      e.method = i % 2 ? 8 : 0;
      e.time = static_cast<uint16_t>(0x6000 + (i % 30));  // valid seconds: 0 to 58
      e.version_made = 0x0314;                            // Unix: the modes below apply
      e.external = (i % 3 ? 0644u : 0755u) << 16;
      if (i % 11 == 5) {  // read-only, as DOS and Windows mark it
        e.version_made = 20;
        e.external = 0x21;
      }
      if (i == bad) e.crc = 7;
      entries.push_back(e);
      if (i % 25 == 24) entries.push_back({.name = fmt::format("{}empty{}/", folder, i), .external = 0x10});
    }
    entries.push_back({.name = "big.bin", .data = testutil::RandomBytes(2600000, 5), .method = 8});
    testutil::WriteFile(zip, testutil::BuildZip(entries));
  }

  // Extracts (or tests) everything with configure's handlers, with helpers
  // or without; returns the events.
  std::vector<std::string> Run(bool parallel, const std::string& out, const Configure& configure,
                               TAFProcessOperation op = poExtract) {
    std::vector<std::string> log;
    TArcfold a;
    a.Options().Tuning.Parallel = parallel ? tsOn : tsOff;
    a.SetFileName(W(zip));
    a.OpenArchive();
    a.SetBaseDir(W(out));
    LogEvents(a, log);
    configure(a, log);
    try {
      if (op == poExtract)
        a.ExtractFiles(u"*.*");
      else
        a.TestFiles(u"*.*");
    } catch (const HandlerThrew& e) {
      log.push_back(e.what());
    }
    return log;
  }

  // Both ways into their own folders: the same events, files and leftovers.
  void ExpectSameBothWays(const Configure& configure, TAFProcessOperation op = poExtract,
                          const std::function<void(const std::string&)>& prepare = nullptr) {
    std::string one = dir / "one", two = dir / "two";
    if (prepare) {
      prepare(one);
      prepare(two);
    }
    std::vector<std::string> sequential = Run(false, one, configure, op);
    std::vector<std::string> parallel = Run(true, two, configure, op);
    EXPECT_EQ(sequential, parallel);
    EXPECT_GT(sequential.size(), 10u);
    // The entries only one side has, so that a failure names them.
    std::vector<std::string> a = Tree(one), b = Tree(two), only_one, only_two;
    std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(only_one));
    std::set_difference(b.begin(), b.end(), a.begin(), a.end(), std::back_inserter(only_two));
    EXPECT_EQ(only_one, only_two);
    EXPECT_EQ(testutil::FindNamed(two, {".arcfold-"}), "");
    EXPECT_EQ(testutil::FindNamed(one, {".arcfold-"}), "");
  }

  testutil::TempDir dir;
  std::string zip = dir / "a.zip";
};

}  // namespace

TEST_F(ExtractAheadTest, SameFilesAndEventsWithDamageInTheMiddle) {
  MakeArchive(150, 60);
  ExpectSameBothWays([](TArcfold&, std::vector<std::string>&) {});
  ExpectSameBothWays([](TArcfold&, std::vector<std::string>&) {}, poTest);
  // No handler for progress: the quiet chunk size, the same files.
  ExpectSameBothWays([](TArcfold& a, std::vector<std::string>&) {
    a.OnFileProgress = nullptr;
    a.OnOverallProgress = nullptr;
  });
}

TEST_F(ExtractAheadTest, RunStopsWhereItIsStopped) {
  MakeArchive(150, 60);
  // A cancel from the progress of one item, while helpers have decoded
  // the next ones.
  ExpectSameBothWays([](TArcfold& a, std::vector<std::string>& log) {
    auto logged = a.OnFileProgress;
    a.OnFileProgress = [logged, &log](TAFBaseArchiver* s, const afp::WideString& n, double p, TAFProcessOperation op,
                                      TAFProgressPhase ph, bool& cancel) {
      logged(s, n, p, op, ph, cancel);
      if (n == u"d1\\f31.txt" && ph == ppProcess) cancel = true;
    };
  });
  // Abort at the damaged item.
  ExpectSameBothWays([](TArcfold& a, std::vector<std::string>& log) {
    a.OnProcessFileFailure = [&log](TAFBaseArchiver*, const afp::WideString& n, TAFProcessOperation, int native, int,
                                    const afp::WideString&, TAFAction& action) {
      log.push_back(fmt::format("failure {} {}", testutil::U(n), native));
      action = fxaAbort;
    };
  });
}

fs::file_time_type OldFilesTime() {
  constexpr std::chrono::year_month_day kDay{std::chrono::year(2006), std::chrono::January, std::chrono::day(2)};
  return fs::file_time_type::clock::from_sys(std::chrono::sys_seconds(std::chrono::sys_days(kDay)));
}

TEST_F(ExtractAheadTest, DeclinedKeptAndRenamedItems) {
  MakeArchive(120);
  ExpectSameBothWays(
      [](TArcfold& a, std::vector<std::string>& log) {
        a.Options().OverwriteMode = omNever;
        a.OnConfirmProcessFile = [&log](TAFBaseArchiver*, const afp::WideString& n, TAFProcessOperation, bool& c) {
          log.push_back("confirm " + testutil::U(n));
          c = n.find(u'7') == afp::WideString::npos;
        };
        // A handler that moves an item elsewhere, and one that changes its
        // attributes.
        a.OnExtractFile = [&log](TAFBaseArchiver*, afp::WideString& n, uint32_t& attr, const std::string&) {
          log.push_back("extract " + testutil::U(n));
          if (n == u"d2\\f55.txt") n = u"moved\\f55.txt";
          if (n == u"d2\\f56.txt") attr = (0600u << 16);
        };
      },
      poExtract,
      [](const std::string& out) {
        // Files already there are kept (omNever).
        testutil::MakeDir(out + "/d1");
        for (int i = 25; i < 50; i += 5) {
          const std::string old = fmt::format("{}/d1/f{}.txt", out, i);
          testutil::WriteFile(old, "old");
          // A time both systems can keep: one they refuse would leave each
          // folder's files with the moment they were made, a second apart.
          fs::last_write_time(old, OldFilesTime());
        }
      });
  EXPECT_EQ(testutil::ReadFile(dir / "two/d1/f30.txt"), "old");
  EXPECT_EQ(fs::last_write_time(dir / "two/d1/f30.txt"), OldFilesTime());
  EXPECT_TRUE(testutil::Exists(dir / "two/moved/f55.txt"));
}

TEST_F(ExtractAheadTest, PasswordAskedAtTheFirstEncryptedItemOnly) {
  // Fixed headers and salts: "wrong" fails every item's check, in every run.
  for (bool aes : {false, true}) {
    SCOPED_TRACE(aes ? "aes" : "classic");
    std::vector<testutil::RawEntry> entries;
    for (int i = 0; i < 40; ++i) {
      std::string name = fmt::format("s/{}.txt", i);
      std::string data = fmt::format("secret item {}", i) + std::string(static_cast<size_t>(i * 300), 's');
      entries.push_back(aes ? testutil::AesEntry(name, data, "secret") : testutil::ClassicEntry(name, data, "secret"));
    }
    testutil::WriteFile(zip, testutil::BuildZip(entries));
    ExpectSameBothWays([](TArcfold& a, std::vector<std::string>& log) {
      a.SetPassword("wrong");
      a.OnPassword = [&log](TAFBaseArchiver*, const afp::WideString& n, std::string& pw, bool&) {
        log.push_back("password " + testutil::U(n));
        pw = "secret";
      };
    });
    EXPECT_TRUE(testutil::Exists(dir / "two/s/39.txt"));
    testutil::RemoveAll(dir / "one");
    testutil::RemoveAll(dir / "two");
    testutil::RemoveAll(zip);
  }
}

// A file decoded ahead is taken as the run would make it one item at a
// time. Items under two passwords: helpers decode under the password of the
// moment, which the answer to a question of the run may change (a user takes
// a moment to answer), and an item decoded under the old one must still
// bring its question. A handler that throws while the progress of a file
// decoded ahead is replayed leaves no file behind, as during a decode.
TEST_F(ExtractAheadTest, HandOverFollowsAnswersAndHandlerExceptions) {
  std::vector<testutil::RawEntry> entries;
  for (int i = 0; i < 60; ++i)
    entries.push_back(testutil::ClassicEntry(fmt::format("s/{}.txt", i),
                                             fmt::format("item {} ", i) + std::string(static_cast<size_t>(i * 50), 's'),
                                             i < 2 ? "second" : "first"));
  testutil::WriteFile(zip, testutil::BuildZip(entries));
  ExpectSameBothWays([](TArcfold& a, std::vector<std::string>& log) {
    a.SetPassword("first");
    a.OnPassword = [&log](TAFBaseArchiver*, const afp::WideString& n, std::string& pw, bool&) {
      log.push_back("password " + testutil::U(n) + " " + pw);
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      pw = pw == "first" ? "second" : "first";
    };
  });
  EXPECT_EQ(testutil::ReadFile(dir / "two/s/59.txt"), "item 59 " + std::string(59 * 50, 's'));

  testutil::RemoveAll(dir / "one");
  testutil::RemoveAll(dir / "two");
  MakeArchive(150);
  ExpectSameBothWays([](TArcfold& a, std::vector<std::string>&) {
    auto logged = a.OnFileProgress;
    a.OnFileProgress = [logged](TAFBaseArchiver* s, const afp::WideString& n, double p, TAFProcessOperation op,
                                TAFProgressPhase ph, bool& cancel) {
      logged(s, n, p, op, ph, cancel);
      if (n == u"d1\\f31.txt" && ph == ppProcess) throw HandlerThrew();
    };
  });
}

#ifndef _WIN32  // symbolic links
TEST_F(ExtractAheadTest, NothingWrittenThroughALinkInTheDestination) {
  MakeArchive(100, -1, "sub/");
  std::string outside = dir / "outside";
  for (int d = 0; d < 4; ++d) testutil::MakeDir(fmt::format("{}/d{}", outside, d));
  ExpectSameBothWays([](TArcfold&, std::vector<std::string>&) {}, poExtract,
                     [&](const std::string& out) {
                       testutil::MakeDir(out);
                       fs::create_directory_symlink(outside, out + "/sub");
                     });
  EXPECT_EQ(testutil::FindNamed(outside, {"f", "."}), "");
}
#endif

// Without a base folder the destination is the folder current at the first
// item; a handler may change it before then, and helpers must follow.
TEST_F(ExtractAheadTest, DestinationIsTheCurrentFolderAtTheFirstItem) {
  MakeArchive(60);
  const afp::WideString start_dir = afp::GetCurrentDir();
  for (const char* d : {"start", "one", "two"}) testutil::MakeDir(dir / d);
  for (bool parallel : {false, true}) {
    afp::SetCurrentDir(W(dir / "start"));
    TArcfold a;
    a.Options().Tuning.Parallel = parallel ? tsOn : tsOff;
    a.SetFileName(W(zip));
    a.OpenArchive();
    bool first = true;
    a.OnConfirmProcessFile = [&](TAFBaseArchiver*, const afp::WideString&, TAFProcessOperation, bool&) {
      if (first) afp::SetCurrentDir(W(dir / (parallel ? "two" : "one")));
      first = false;
    };
    a.ExtractFiles(u"*.*");
  }
  afp::SetCurrentDir(start_dir);
  EXPECT_EQ(testutil::Entries(dir / "start"), std::vector<std::string>{});
  EXPECT_EQ(Tree(dir / "one"), Tree(dir / "two"));
  EXPECT_TRUE(testutil::Exists(dir / "two/d2/f59.txt"));
}
