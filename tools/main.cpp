// arcfold: list, extract and test ZIP archives from the command line.
#include <fmt/format.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "arcfold/arcfold.h"
#include "arcfold/version.h"
#include "listing.h"
#include "masks.h"
#include "platform/codepage.h"
#include "platform/console.h"
#include "platform/files.h"
#include "progress_line.h"
#include "shown.h"
#include "sources.h"
#include "stdio_archive.h"
#include "terminal_prompts.h"
#include "volume_size.h"

using afp::FromUtf8;
using afp::ToUtf8;
using arcfold::NativeError;
using arcfold::TArcfold;

namespace {

using arcfold_cli::Printable;
using arcfold_cli::ShownPath;

// The status a shell shows for a program that a closed pipe ended (128 +
// SIGPIPE), as `unzip -p | head` gives it.
constexpr int kClosedOutputStatus = 141;

struct Failure {
  std::string name;
  std::string message;
};

// The component as the tool uses it: failures are remembered for the summary
// before the usual question (or its safe answer) decides what happens.
class ToolArchiver : public TArcfold {
 public:
  std::vector<Failure> failures;
  void DoProcessFileFailure(const afp::WideString& file_name, arcfold::TAFProcessOperation op, int native_error,
                            int error_code, const afp::WideString& message, arcfold::TAFAction& action) override {
    failures.push_back({ShownPath(file_name), Printable(ToUtf8(message))});
    if (keep_going) {
      action = arcfold::fxaIgnore;
      return;
    }
    TArcfold::DoProcessFileFailure(file_name, op, native_error, error_code, message, action);
    if (action == arcfold::fxaRetry) failures.pop_back();
  }
  // A password question answered with "skip" leaves the item out: for the
  // tool that item did not succeed.
  void DoPassword(const afp::WideString& file_name, std::string& new_password, bool& skip) override {
    TArcfold::DoPassword(file_name, new_password, skip);
    if (skip) failures.push_back({ShownPath(file_name), "skipped: wrong or missing password"});
  }
  // An interrupt, a termination request or a hang-up cancels the run at
  // its next item or chunk: what was being written is rolled back.
  void DoFileProgress(const afp::WideString& file_name, double progress, arcfold::TAFProcessOperation op,
                      arcfold::TAFProgressPhase phase, bool& cancel) override {
    TArcfold::DoFileProgress(file_name, progress, op, phase, cancel);
    if (afp::StopRequested()) cancel = true;
    if (progress_line && phase == arcfold::ppStart) progress_line->ItemStarted(ShownPath(file_name));
    if (progress_line && phase == arcfold::ppProcess) progress_line->ItemProgress(progress);
    if (verbose && phase == arcfold::ppEnd) Say(stdout, ShownPath(file_name));
  }
  void DoOverallProgress(double progress, arcfold::TAFProcessOperation op, arcfold::TAFProgressPhase phase,
                         bool& cancel) override {
    TArcfold::DoOverallProgress(progress, op, phase, cancel);
    if (afp::StopRequested()) cancel = true;
    if (progress_line && phase == arcfold::ppProcess) progress_line->RunProgress(progress);
    if (progress_line && phase == arcfold::ppEnd) progress_line->Finish();
  }
  // A line of its own, never in the middle of the progress line.
  void Say(std::FILE* to, const std::string& line) {
    if (progress_line) progress_line->Clear();
    std::fprintf(to, "%s\n", line.c_str());
    std::fflush(to);
  }
  void DoCopyTempFileProgress(double progress, arcfold::TAFProgressPhase phase, bool& cancel) override {
    TArcfold::DoCopyTempFileProgress(progress, phase, cancel);
    if (afp::StopRequested()) cancel = true;
  }
  // Another arcfold (or a program using the library) is writing the archive.
  void DoArchiveBusy(const afp::WideString& file_name, bool& cancel) override {
    cancel = no_wait || afp::StopRequested();
    if (cancel || told_waiting_ || !afp::IsTerminal(stderr)) return;
    Say(stderr, fmt::format("arcfold: waiting for {}, another program is writing it", ShownPath(file_name)));
    told_waiting_ = true;
  }
  bool keep_going = false;
  bool no_wait = false;
  // On a terminal, unless quiet: the progress line of the run.
  std::unique_ptr<arcfold_cli::ProgressLine> progress_line;
  // One line per item done, on standard output.
  bool verbose = false;
  // How messages name the archive ("-" read from standard input is not
  // named by its temporary file); empty: by its file name.
  std::string shown_archive;
  std::string ShownArchive() const { return shown_archive.empty() ? Printable(ToUtf8(FileName())) : shown_archive; }

  // What add, update and move store: names that an exclusion selects are
  // left out, and so are names that no extraction would give back (control
  // characters), each a failure that names the file. left_out says whether
  // the last file or folder offered was left out.
  const arcfold_cli::NameMasks* exclusions = nullptr;
  afp::WideString offered;  // made printable only for a failure
  bool left_out = false;
  void DoStoreFile(afp::WideString& stored, int32_t& attr, std::string& comment,
                   const afp::WideString& source) override {
    left_out = exclusions && exclusions->Selects(stored);
    if (!left_out && std::any_of(stored.begin(), stored.end(), [](char16_t c) { return c < 0x20 || c == 0x7F; })) {
      failures.push_back({ShownPath(offered), "not added: a name with a control character could not be extracted"});
      left_out = true;
    }
    if (left_out) {
      stored.clear();
      return;
    }
    TArcfold::DoStoreFile(stored, attr, comment, source);
  }

 private:
  bool told_waiting_ = false;
};

// What the library does with a file the command offers.
arcfold::TAFProcessOperation OperationOf(const std::string& command) {
  return command == "update" ? arcfold::poUpdate : command == "move" ? arcfold::poMove : arcfold::poAdd;
}

constexpr const char* kNotFoundAgain =
    "not added: it could not be looked at (gone since its folder was read, in a folder that cannot be entered, or "
    "a name that is not UTF-8)";

// Adds what the walk of the sources finds, one file or folder at a time,
// by the command's rules (add, update or move).
class SourceAdder : public arcfold_cli::SourceVisitor {
 public:
  SourceAdder(ToolArchiver& a, const std::string& command) : a_(a), command_(command) {}
  void File(const afp::WideString& path, const afp::FileInfo* known) override {
    try {
      Add(path, afp::WideString(), known);
    } catch (const arcfold::EAFException& e) {
      // A file the library cannot find when its turn comes is left out and
      // named, as one that cannot be read is: the rest is still added.
      if (e.NativeError() != arcfold::NativeError::kCannotOpenFile) throw;
      NotAdded(path, kNotFoundAgain);
    }
  }
  // The mask "*" leaves out what the folder holds: the walk offers that.
  bool Folder(const afp::WideString& path) override { return Add(path, u"*", nullptr); }
  void Skipped(const afp::WideString& path, const std::string& why) override {
    std::fprintf(stderr, "arcfold: %s: %s\n", Printable(ToUtf8(path)).c_str(), why.c_str());
  }
  void NotAdded(const afp::WideString& path, const std::string& why) override {
    a_.failures.push_back({Printable(ToUtf8(path)), why});
  }

 private:
  bool Add(const afp::WideString& path, const afp::WideString& exclusion, const afp::FileInfo* known) {
    a_.offered = path;
    a_.left_out = false;
    if (known)
      a_.AddLookedAt(path, *known, OperationOf(command_));
    else if (command_ == "update")
      a_.UpdateFiles(path, arcfold::kAnyAttributes, exclusion);
    else if (command_ == "move")
      a_.MoveFiles(path, arcfold::kAnyAttributes, exclusion);
    else
      a_.AddFiles(path, arcfold::kAnyAttributes, exclusion);
    return !a_.left_out;
  }
  ToolArchiver& a_;
  const std::string& command_;
};

struct CommonOptions {
  std::string archive;
  int codepage = 0;
};

void ApplyCommon(ToolArchiver& a, const CommonOptions& o) {
  a.SetName("");
  if (o.codepage > 0) {
    afp::CodePage::Get(o.codepage);  // fails early for an unknown page
    a.CodePages = {o.codepage, o.codepage};
    a.Options().OEMFileNames = false;
  }
  a.SetFileName(FromUtf8(o.archive));
  // The library's fast paths as the environment sets them, read here.
  a.Options().Tuning = arcfold::TAFTuning().WithEnvironment();
}

// Runs open (what opens or reads the archive); a failure becomes a message
// that names the archive.
template <class Open>
void NamingErrors(const ToolArchiver& a, Open&& open) {
  const std::string shown = a.ShownArchive();
  try {
    open();
  } catch (const arcfold::EAFException& e) {
    if (e.NativeError() == NativeError::kInvalidArchiveFile || e.NativeError() == NativeError::kArchiveDamaged)
      throw std::runtime_error(fmt::format("{}: not a ZIP archive (no end of central directory record)", shown));
    throw std::runtime_error(fmt::format("{}: {}", shown, e.what()));
  } catch (const std::exception& e) {
    throw std::runtime_error(fmt::format("{}: {}", shown, e.what()));
  }
}

// Opens the archive in mode; a failure becomes a message that names it.
void OpenNamingErrors(ToolArchiver& a, uint16_t mode) {
  NamingErrors(a, [&] { a.OpenArchive(mode); });
}

// A missing file is an error, not a new archive.
void CheckArchiveExists(const ToolArchiver& a) {
  const std::string shown = a.ShownArchive();
  if (afp::DirectoryExists(a.FileName()))
    throw std::runtime_error(fmt::format("{}: is a folder, not an archive", shown));
  if (!afp::FileExists(a.FileName())) throw std::runtime_error(fmt::format("{}: no such archive", shown));
}

// Opens an existing archive read-only. Every message names the archive.
void OpenExisting(ToolArchiver& a) {
  CheckArchiveExists(a);
  const std::string shown = a.ShownArchive();
  // A volume other than the last of a split set: the set is read from its
  // last volume, which holds the directory.
  bool numbered_split = false;
  const std::string last = arcfold_cli::LastVolumeOf(ToUtf8(a.FileName()), numbered_split);
  auto use_last = [&] {
    std::fprintf(stderr, "arcfold: %s is a volume of a split set; reading the set from %s\n", shown.c_str(),
                 Printable(last).c_str());
    a.SetFileName(FromUtf8(last));
    OpenNamingErrors(a, arcfold::fmOpenRead | arcfold::fmShareDenyNone);
  };
  if (!last.empty() && numbered_split) return use_last();
  if (!last.empty()) {
    // "name_001.zip" may be an archive of its own: only when it is not is it
    // taken for the first volume of a set.
    const bool damaged = a.OpenDamagedArchives;
    a.OpenDamagedArchives = false;
    try {
      a.OpenArchive(arcfold::fmOpenRead | arcfold::fmShareDenyNone);
      a.OpenDamagedArchives = damaged;
      return;
    } catch (const std::exception&) {
      a.OpenDamagedArchives = damaged;
    }
    return use_last();
  }
  OpenNamingErrors(a, arcfold::fmOpenRead | arcfold::fmShareDenyNone);
}

// Damage found while opening, said once on standard error; true when there was some.
bool ReportOpenDamage(ToolArchiver& a, const std::string& archive) {
  if (a.DirectoryRebuilt()) {
    std::fprintf(stderr, "arcfold: %s: damaged: no usable central directory, items rebuilt from local headers\n",
                 Printable(archive).c_str());
    return true;
  }
  if (a.DirectoryUndercounted()) {
    std::fprintf(stderr, "arcfold: %s: damaged: the end record counts fewer items than the directory holds\n",
                 Printable(archive).c_str());
    return true;
  }
  return false;
}

// Thrown when masks select nothing: said on standard error, status 1.
struct NothingMatched : std::runtime_error {
  using std::runtime_error::runtime_error;
};

std::string NothingMatchedText(const std::vector<std::string>& masks) {
  std::string joined;
  for (const auto& m : masks) joined += (joined.empty() ? "" : " ") + Printable(m);
  return fmt::format("no items match {}", joined);
}

// Indices of the items that a mask selects (every item without masks) and
// no exclusion does.
std::vector<int> Select(ToolArchiver& a, const std::vector<std::string>& masks, const std::vector<std::string>& excl) {
  const arcfold_cli::NameMasks chosen(masks), left_out(excl);
  std::vector<int> out;
  for (int i = 0; i < a.ItemCount(); ++i) {
    const afp::WideString& name = a.Item(i).ItemName;
    if ((masks.empty() || chosen.Selects(name)) && !left_out.Selects(name)) out.push_back(i);
  }
  return out;
}

// What list, extract and test are given.
struct ItemOptions {
  std::vector<std::string> masks, exclude;
  std::string dir, password, overwrite;
  bool always = false, keep_going = false, stop_on_error = false;
  // Extract without folders; to standard output; only errors; a line per item.
  bool junk_paths = false, to_stdout = false, quiet = false, verbose = false;
  bool json = false;
};

// The failures of a run on standard error, then how it ended; true when
// there were any.
bool ReportFailures(const ToolArchiver& a, const char* when_aborted) {
  if (a.failures.empty()) return false;
  std::fprintf(stderr, "%zu item(s) failed:\n", a.failures.size());
  for (const auto& f : a.failures) std::fprintf(stderr, "  %s: %s\n", f.name.c_str(), f.message.c_str());
  if (a.LastRunAborted()) std::fprintf(stderr, "%s\n", when_aborted);
  return true;
}

// The archive of a reading command: its file, or the copy of what came on
// standard input ("-").
void NameArchiveToRead(ToolArchiver& a, const CommonOptions& common, const arcfold_cli::SpooledStdin* spool) {
  ApplyCommon(a, common);
  if (spool) {
    a.SetFileName(spool->Path());
    a.shown_archive = "(standard input)";
  }
}

void OpenToRead(ToolArchiver& a, const CommonOptions& common, const arcfold_cli::SpooledStdin* spool) {
  NameArchiveToRead(a, common, spool);
  OpenExisting(a);
}

// The items of a reading command's archive, each handed to visit as the
// archive's directory is read; a volume of a split set is opened whole,
// from the volume that holds the directory.
void VisitToRead(ToolArchiver& a, const CommonOptions& common, const arcfold_cli::SpooledStdin* spool,
                 const std::function<bool(const arcfold::TDirItem&)>& visit) {
  NameArchiveToRead(a, common, spool);
  CheckArchiveExists(a);
  bool numbered_split = false;
  if (!arcfold_cli::LastVolumeOf(ToUtf8(a.FileName()), numbered_split).empty()) OpenExisting(a);
  NamingErrors(a, [&] { a.ListItems(visit); });
}

// How the summary names the archive: as it was given.
std::string GivenArchive(const ToolArchiver& a, const CommonOptions& common) {
  return a.shown_archive.empty() ? Printable(common.archive) : a.shown_archive;
}

int List(const CommonOptions& common, const arcfold_cli::SpooledStdin* spool, const ItemOptions& o) {
  ToolArchiver a;
  const arcfold_cli::NameMasks masks(o.masks);
  const auto format = o.json      ? arcfold_cli::ListFormat::Json
                      : o.verbose ? arcfold_cli::ListFormat::Long
                                  : arcfold_cli::ListFormat::Plain;
  arcfold_cli::ListingPrinter listing(format, stdout);
  VisitToRead(a, common, spool, [&](const arcfold::TDirItem& item) {
    if (afp::StopRequested()) {
      listing.SetStopped();
      return false;
    }
    if (masks.Empty() || masks.Selects(item.ItemName)) listing.Add(item);
    return true;
  });
  // A listing of a damaged archive is shown, but does not pass for a sound one.
  const bool damaged = ReportOpenDamage(a, GivenArchive(a, common));
  const bool stopped = listing.Totals().stopped;
  if (!stopped && listing.Totals().items == 0 && !o.masks.empty()) throw NothingMatched(NothingMatchedText(o.masks));
  listing.Finish();
  if (stopped) {
    std::fprintf(stderr, "listing cancelled\n");
    return 1;
  }
  return damaged ? 1 : 0;
}

void SetOverwriteMode(ToolArchiver& a, const ItemOptions& o, bool interactive) {
  const std::string mode = o.always ? "always" : o.overwrite.empty() ? (interactive ? "prompt" : "never") : o.overwrite;
  static const std::pair<const char*, arcfold::TAFOverwriteMode> kModes[] = {{"always", arcfold::omAlways},
                                                                             {"never", arcfold::omNever},
                                                                             {"prompt", arcfold::omPrompt},
                                                                             {"newer", arcfold::omIfNewer},
                                                                             {"older", arcfold::omIfOlder}};
  for (const auto& [text, value] : kModes)
    if (mode == text) a.Options().OverwriteMode = value;
}

// The destination is made only for an archive that opened.
void PrepareDestination(ToolArchiver& a, const std::string& dir) {
  if (dir.empty()) return;
  afp::WideString d = FromUtf8(dir);
  if (!afp::DirectoryExists(d) && !afp::ForceDirectories(d))
    throw std::runtime_error(fmt::format("{}: cannot create the destination folder", Printable(dir)));
  a.SetBaseDir(d);
}

// A failure of an item decoded to standard output, for the summary (a
// skipped password question has noted it already).
void NoteFailure(ToolArchiver& a, int index, const arcfold::EAFException& e, size_t failures_before) {
  if (a.failures.size() > failures_before) return;
  std::string message = e.what();
  // The message starts with the item's name, which the summary gives.
  const std::string name = ToUtf8(a.Item(index).ItemName);
  for (std::string form : {name, ShownPath(a.Item(index).ItemName)}) {
    std::replace(form.begin(), form.end(), '/', '\\');
    if (message.rfind(form + ": ", 0) == 0) message.erase(0, form.size() + 2);
  }
  a.failures.push_back({ShownPath(a.Item(index).ItemName), Printable(message)});
}

// The selected items' data, in archive order, on standard output and
// nothing else there: a failed item is named on standard error (after
// what it gave, as unzip does) and the run goes on.
int ExtractToStdout(ToolArchiver& a, const std::vector<int>& items, const ItemOptions& o, bool damaged) {
  arcfold_cli::StdoutStream out;
  bool cancelled = false;
  for (int i : items) {
    if (a.Item(i).IsDirectory()) continue;
    const size_t failures_before = a.failures.size();
    try {
      a.DecodeItem(i, out);
    } catch (const arcfold_cli::Interrupted&) {
      cancelled = true;
      break;
    } catch (const arcfold::EAFException& e) {
      NoteFailure(a, i, e, failures_before);
      if (o.stop_on_error) break;
    }
  }
  out.Flush();
  a.CloseArchive();
  if (ReportFailures(a, "run aborted; remaining items were not processed")) return 1;
  if (cancelled || afp::StopRequested()) {
    std::fprintf(stderr, "run cancelled; remaining items were not processed\n");
    return 1;
  }
  return damaged ? 1 : 0;
}

// Marks the items and runs them, with the progress line on a terminal.
void RunMarked(ToolArchiver& a, const std::vector<int>& items, const ItemOptions& o, bool extract) {
  std::vector<int64_t> sizes;
  a.ClearMarks();
  for (int i : items) {
    a.SetMarked(i, true);
    // Items without data count for nothing.
    sizes.push_back(a.Item(i).IsDirectory() ? 0 : a.Item(i).UncompressedSize());
  }
  a.verbose = o.verbose && !o.quiet;
  if (!o.quiet && afp::IsTerminal(stderr))
    a.progress_line = std::make_unique<arcfold_cli::ProgressLine>(stderr, std::move(sizes));
  // Without folders, each file lands in the destination itself; a name met
  // twice is an existing file like any other.
  if (o.junk_paths) a.Options().CreateDirs = false;
  if (!items.empty()) a.ProcessMarkedItems(extract ? arcfold::poExtract : arcfold::poTest, -1);
}

int EndOfRun(ToolArchiver& a, const std::string& archive, size_t count, bool extract, bool damaged, bool quiet) {
  const int skipped = a.SkippedExistingCount();
  const bool cancelled = a.CancelFlag();
  a.CloseArchive();
  if (skipped > 0 && !quiet)
    std::fprintf(stderr, "%d item(s) skipped: the file exists (use -o or --overwrite to replace)\n", skipped);
  if (ReportFailures(a, "run aborted; remaining items were not processed")) return 1;
  if (cancelled) {
    std::fprintf(stderr, "run cancelled; remaining items were not processed\n");
    return 1;
  }
  if (damaged) return 1;
  if (!extract && !quiet) std::printf("No errors detected in %zu item(s) of %s\n", count, archive.c_str());
  return 0;
}

// The archiver of one run and who answers its questions: the terminal when
// there is one (clearing the progress line first), safe answers otherwise.
struct PromptedArchiver {
  const bool interactive = arcfold_cli::Interactive();
  arcfold_cli::TerminalPrompts terminal{stdin, stderr};
  afp::SafeAnswerPrompts safe;
  ToolArchiver a;

  PromptedArchiver() {
    a.PromptUI = interactive ? static_cast<afp::Prompts*>(&terminal) : &safe;
    terminal.before_asking = [this] {
      if (a.progress_line) a.progress_line->Clear();
    };
  }
  PromptedArchiver(const PromptedArchiver&) = delete;
  PromptedArchiver& operator=(const PromptedArchiver&) = delete;
};

int RunItems(const CommonOptions& common, const arcfold_cli::SpooledStdin* spool, const ItemOptions& o, bool extract,
             bool have_password) {
  PromptedArchiver run;
  ToolArchiver& a = run.a;
  const bool interactive = run.interactive;
  // Without a terminal nobody can answer, so a failed item is skipped and
  // listed, as unzip and 7z do; --stop-on-error ends the run there instead.
  a.keep_going = !o.stop_on_error && (o.keep_going || !interactive);
  if (have_password) a.SetPassword(o.password);
  SetOverwriteMode(a, o, interactive);
  OpenToRead(a, common, spool);
  const bool damaged = ReportOpenDamage(a, GivenArchive(a, common));
  const std::vector<int> items = Select(a, o.masks, o.exclude);
  if (items.empty() && !o.masks.empty()) throw NothingMatched(NothingMatchedText(o.masks));
  if (extract && o.to_stdout) return ExtractToStdout(a, items, o, damaged);
  if (extract) PrepareDestination(a, o.dir);
  RunMarked(a, items, o, extract);
  return EndOfRun(a, GivenArchive(a, common), items.size(), extract, damaged, o.quiet);
}

// What the writing commands share.
struct WriteOptions {
  std::vector<std::string> paths;
  std::vector<std::string> exclude;
  int level = -1;
  std::string method = "deflate";
  std::string password;
  bool have_password = false;
  int aes = 0;
  std::string store_path = "relative";
  std::string zip64 = "auto";
  std::string sfx;
  std::string comment;
  bool have_comment = false;
  std::string no_compress = "*.zip;*.jpg;*.jpeg;*.png;*.gif;*.7z;*.gz;*.bz2;*.xz;*.zst;*.mp3;*.mp4";
  // A new split set: volume size, first volume size, Base_001.zip naming.
  std::string split, first_volume;
  bool advanced_naming = false;
  bool recurse = false;
  // Fail rather than wait while another program writes the archive.
  bool no_wait = false;
  // Only errors; a line per item stored.
  bool quiet = false, verbose = false;
  // Names in the legacy code page for old readers, rather than UTF-8.
  bool oem_names = false;
};

std::vector<afp::WideString> SplitMasks(const std::string& list) {
  std::vector<afp::WideString> out;
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find(';', start);
    if (end == std::string::npos) end = list.size();
    if (end > start) out.push_back(FromUtf8(list.substr(start, end - start)));
    start = end + 1;
  }
  return out;
}

// Why extraction would refuse an item of this name (and so a rename must
// not give it), or null: control characters, a root, or ".." segments.
const char* NameNotGivenBack(const std::string& name) {
  if (std::any_of(name.begin(), name.end(), [](unsigned char c) { return c < 0x20 || c == 0x7F; }))
    return "a name with a control character could not be extracted";
  if (name.empty() || name.front() == '/' || name.front() == '\\') return "a name must start inside the archive";
  std::string path = name;
  std::replace(path.begin(), path.end(), '\\', '/');
  if (("/" + path + "/").find("/../") != std::string::npos)
    return "a name with '..' would be extracted outside its folder";
  return nullptr;
}

// Opens the archive for writing: an existing one read-write, or a new one.
void OpenForWriting(ToolArchiver& a, const WriteOptions& w) {
  const std::string shown = Printable(ToUtf8(a.FileName()));
  if (afp::DirectoryExists(a.FileName()))
    throw std::runtime_error(fmt::format("{}: is a folder, not an archive", shown));
  const bool exists = afp::FileExists(a.FileName());
  if (!exists && !w.sfx.empty()) a.SetSFXStub(FromUtf8(w.sfx));
  OpenNamingErrors(a, exists ? arcfold::fmOpenReadWrite | arcfold::fmShareDenyWrite : arcfold::fmCreate);
  if (a.DirectoryRebuilt())
    throw std::runtime_error(
        fmt::format("{}: damaged (no usable central directory); repair it before changing it", shown));
}

// Whether the file at path is an archive without items.
bool HoldsNoItems(const afp::WideString& path) {
  TArcfold check;
  check.SetFileName(path);
  try {
    check.OpenArchive(arcfold::fmOpenRead | arcfold::fmShareDenyNone);
  } catch (const std::exception&) {
    return false;
  }
  return check.ItemCount() == 0;
}

// The common end of a writing command: failures listed, status 1 when any.
int FinishWrite(ToolArchiver& a) {
  // Only a commit that saw the cancel left the archive as it was: a signal
  // that came after its last look (while the new archive was renamed into
  // place, say) found the change written whole.
  const bool cancelled = a.CancelFlag();
  const std::string shown = a.ShownArchive();
  a.CloseArchive();
  if (ReportFailures(a, "run aborted; the archive was left as it was")) return 1;
  if (cancelled) {
    std::fprintf(stderr, "cancelled; the archive was left as it was\n");
    return 1;
  }
  if (afp::StopRequested())
    std::fprintf(stderr, "arcfold: %s: interrupted after the change was written; the archive holds it\n",
                 shown.c_str());
  return 0;
}

// Another program put an archive under the name while this run prepared a
// new one (or replaced the one it read): nothing was written.
struct ArchiveAppearedMeanwhile {};

// The --method names and the component's methods.
constexpr std::pair<const char*, arcfold::TAFCompressionMethod> kMethodNames[] = {
    {"deflate", arcfold::cmDeflate}, {"store", arcfold::cmStore}, {"bzip2", arcfold::cmBZip2},
    {"lzma", arcfold::cmLZMA},       {"xz", arcfold::cmXz},       {"zstd", arcfold::cmZstd}};

void ChooseMethod(ToolArchiver& a, const std::string& name) {
  for (const auto& [text, value] : kMethodNames) {
    if (name != text) continue;
    if (!arcfold::CompressionMethodAvailable(value))
      throw std::runtime_error(fmt::format("--method {}: this build cannot write it; nothing was written", name));
    a.Options().CompressionMethod = value;
  }
}

// Compression, encryption and naming of what the command stores.
void ConfigureWrite(ToolArchiver& a, WriteOptions& w, arcfold_cli::TerminalPrompts& terminal, bool interactive) {
  if (w.level >= 0) a.SetCompressionMode(w.level);
  ChooseMethod(a, w.method);
  if (w.have_password) {
    if (w.password.empty() && interactive) w.password = terminal.AskNewPassword();
    // An empty password would write the items unencrypted: -p asked for
    // encryption, so nothing is written instead.
    if (w.password.empty())
      throw std::runtime_error(interactive
                                   ? "-p: no password given; nothing was written"
                                   : "-p: no password given and no terminal to ask on (give it as -p PASSWORD); "
                                     "nothing was written");
    a.SetPassword(w.password);
  }
  if (w.aes)
    a.SetEncryptionMethod(w.aes == 128 ? arcfold::caAES_128 : w.aes == 192 ? arcfold::caAES_192 : arcfold::caAES_256);
  static const std::pair<const char*, arcfold::TAFStorePathMode> kStore[] = {{"none", arcfold::spNoPath},
                                                                             {"relative", arcfold::spRelativePath},
                                                                             {"full", arcfold::spFullPath},
                                                                             {"drive", arcfold::spFullPathWithDrive}};
  for (const auto& [text, value] : kStore)
    if (w.store_path == text) a.Options().StorePath = value;
  a.SetZip64Mode(w.zip64 == "always" ? arcfold::zmAlways : w.zip64 == "never" ? arcfold::zmDisabled : arcfold::zmAuto);
  a.Options().Recurse = false;  // the tool walks the sources itself
  a.SetNoCompressionMasks(SplitMasks(w.no_compress));
  // UTF-8 names read the same in every tool on every system.
  a.SetUnicodeFilenames(!w.oem_names);
}

void ConfigureSplit(ToolArchiver& a, const WriteOptions& w, bool existed, const CommonOptions& common) {
  if (w.split.empty()) return;
  if (existed)
    throw std::runtime_error(fmt::format("{}: exists; a split set is written as a new archive (choose another name)",
                                         Printable(common.archive)));
  const auto size = arcfold_cli::ParseVolumeSize(w.split);
  a.SetSpanningMode(arcfold::smSplitting);
  a.SpanningOptions().VolumeSize = size->kind;
  if (size->kind == arcfold::vsCustom) a.SpanningOptions().SetCustomVolumeSize(size->bytes);
  if (!w.first_volume.empty())
    a.SpanningOptions().FirstVolumeSize = arcfold_cli::ParseVolumeSize(w.first_volume)->bytes;
  a.SpanningOptions().AdvancedNaming = w.advanced_naming;
}

void BeginWriting(ToolArchiver& a, const WriteOptions& w, const std::string& shown) {
  a.no_wait = w.no_wait;
  try {
    a.BeginUpdate();
  } catch (const arcfold::EAFException& e) {
    if (e.NativeError() != NativeError::kCannotCreateOutputFile) throw;
    if (afp::StopRequested())
      throw std::runtime_error(
          fmt::format("{}: interrupted while waiting for another program to finish writing it", shown));
    throw std::runtime_error(fmt::format("{}: another program is writing it (--no-wait)", shown));
  }
}

void AddSources(ToolArchiver& a, const std::string& command, const WriteOptions& w) {
  const arcfold_cli::NameMasks exclusions(w.exclude);
  a.exclusions = &exclusions;
  // Files newer than their items replace them; new files are added.
  if (command == "update") a.Options().OverwriteMode = arcfold::omIfNewer;
  // The sources are named from the current folder: it is looked up once
  // here, not for each file offered (the tool does not change it).
  a.SetBaseDir(afp::GetCurrentDir());
  SourceAdder adder(a, command);
  const bool list_ahead = afp::kListingLooksApart && a.Options().Tuning.Parallel != arcfold::tsOff &&
                          std::thread::hardware_concurrency() > 1;
  for (const auto& p : w.paths) {
    afp::WideString path = FromUtf8(p);
    if (afp::GetPathType(path) == afp::PathType::None && p.find_first_of("*?") == std::string::npos)
      throw std::runtime_error(fmt::format("{}: no such file or folder", Printable(p)));
    arcfold_cli::WalkSource(path, w.recurse, adder, list_ahead);
  }
  a.exclusions = nullptr;
  if (w.have_comment) a.SetArchiveComment(w.comment);
}

void DeleteMatching(ToolArchiver& a, const WriteOptions& w) {
  const std::vector<int> doomed = Select(a, w.paths, {});
  for (auto i = doomed.rbegin(); i != doomed.rend(); ++i) a.DeleteItem(*i);
  if (doomed.empty()) {
    a.CloseArchive();
    throw NothingMatched(NothingMatchedText(w.paths));
  }
}

void RenameItem(ToolArchiver& a, const WriteOptions& w, const std::string& shown) {
  if (const char* why = NameNotGivenBack(w.paths[1]))
    throw std::runtime_error(fmt::format("{}: not renamed to {}: {}", shown, Printable(w.paths[1]), why));
  try {
    a.RenameFile(FromUtf8(w.paths[0]), FromUtf8(w.paths[1]));
  } catch (const arcfold::EAFException& e) {
    if (e.NativeError() == NativeError::kItemOutOfBounds) throw NothingMatched(NothingMatchedText({w.paths[0]}));
    if (e.NativeError() == NativeError::kDuplicateName)
      throw std::runtime_error(fmt::format("{}: an item named {} exists", shown, Printable(w.paths[1])));
    throw;
  }
}

// The bytes of each item the commit writes anew, in its order: what the
// progress line counts (none when the commit only copies and drops items).
std::vector<int64_t> PendingSizes(const ToolArchiver& a) {
  std::vector<int64_t> sizes;
  for (int i = 0; i < a.ItemCount(); ++i) {
    const arcfold::TDirItem& item = a.Item(i);
    if (!item.Source || !item.Source->IsPending) continue;
    int64_t size = 0;
    if (item.Source->SourceStream)
      size = item.Source->SourceStream->Size();
    else if (!item.IsDirectory())
      size = afp::GetFileStamp(afp::WideString(item.Source->SourcePath)).size;
    sizes.push_back(std::max<int64_t>(size, 0));
  }
  return sizes;
}

// The commit of what the command prepared, and the command's status.
int Commit(ToolArchiver& a, bool existed) {
  try {
    a.EndUpdate();
  } catch (const arcfold::EAFException& e) {
    if (e.NativeError() == NativeError::kCannotCreateOutputFile) throw ArchiveAppearedMeanwhile{};
    // The commit as a whole was refused (more items than the classic end
    // record counts, under --zip64 never): the archive stays as it was, and
    // a new one is never put in place.
    if (e.NativeError() != NativeError::kZip64Refused)
      throw std::runtime_error(fmt::format("{}: {}", a.ShownArchive(), e.what()));
    a.AbandonArchive();
    if (a.progress_line) a.progress_line->Clear();
    std::fprintf(stderr, "arcfold: %s; %s\n", Printable(e.what()).c_str(),
                 existed ? "the archive was left as it was" : "no archive was written");
    return 1;
  } catch (const arcfold::EAFError& e) {
    // A write the disk refused, say: the message names the archive it was for.
    throw std::runtime_error(fmt::format("{}: {}", a.ShownArchive(), e.what()));
  }
  // A new archive that would hold nothing is not left behind: one that no
  // commit wrote (a cancel, nothing offered) is abandoned unwritten, one
  // whose every item failed in its commit is removed again while it is
  // still an archive without items (another program may have put one there
  // since).
  const bool empty_new = !existed && a.ItemCount() == 0;
  if (empty_new) a.AbandonArchive();
  const int status = FinishWrite(a);
  if (empty_new && !a.failures.empty() && HoldsNoItems(a.FileName())) afp::DeleteFile(a.FileName());
  return status;
}

int WriteOnce(const CommonOptions& common, const std::string& command, WriteOptions& w) {
  PromptedArchiver run;
  ToolArchiver& a = run.a;
  const bool interactive = run.interactive;
  a.keep_going = !interactive;
  ApplyCommon(a, common);
  ConfigureWrite(a, w, run.terminal, interactive);
  const bool existed = afp::FileExists(a.FileName());
  // Nothing can be deleted or renamed in an archive that is not there, and
  // no empty one is made for trying.
  if (!existed && (command == "delete" || command == "rename")) CheckArchiveExists(a);
  ConfigureSplit(a, w, existed, common);
  OpenForWriting(a, w);
  // A run that ends in an error leaves the archive as it was: nothing it had
  // prepared is committed, and a new archive is not created.
  struct AbandonOnError {
    ToolArchiver& a;
    const int pending = std::uncaught_exceptions();
    ~AbandonOnError() {
      if (std::uncaught_exceptions() > pending) a.AbandonArchive();
    }
  } abandon_on_error{a};
  a.verbose = w.verbose && !w.quiet;
  const std::string shown = Printable(common.archive);
  BeginWriting(a, w, shown);
  if (command == "add" || command == "update" || command == "move")
    AddSources(a, command, w);
  else if (command == "delete")
    DeleteMatching(a, w);
  else if (command == "rename")
    RenameItem(a, w, shown);
  if (!w.quiet && afp::IsTerminal(stderr))
    a.progress_line = std::make_unique<arcfold_cli::ProgressLine>(stderr, PendingSizes(a));
  return Commit(a, existed);
}

// The run starts again on the archive that is there now, waiting for its
// writer as any second writer does, so that two programs creating one
// archive at once both get their items into it.
int Write(const CommonOptions& common, const std::string& command, WriteOptions w) {
  constexpr int kAttempts = 3;
  for (int attempt = 1;; ++attempt) {
    try {
      return WriteOnce(common, command, w);
    } catch (const ArchiveAppearedMeanwhile&) {
      if (attempt == kAttempts)
        throw std::runtime_error(fmt::format(
            "{}: created or replaced by another program meanwhile; nothing was written", Printable(common.archive)));
    }
  }
}

// The tool's commands, their options and what parsing gave.
struct CommandLine {
  CLI::App app{"arcfold - list, extract, test, add to and change ZIP archives"};
  CommonOptions common;
  ItemOptions items;
  WriteOptions write;
  std::string old_name, new_name;
  CLI::App *list = nullptr, *extract = nullptr, *test = nullptr, *add = nullptr, *update = nullptr, *move = nullptr,
           *del = nullptr, *rename = nullptr;
  CLI::Option *extract_password = nullptr, *test_password = nullptr;
};

// The commands and their short names, as 7-Zip users type them.
struct CommandName {
  const char* name;
  const char* alias;
};
constexpr CommandName kCommandNames[] = {{"list", "l"},   {"extract", "x"},  {"test", "t"},   {"add", "a"},
                                         {"update", "u"}, {"move", nullptr}, {"delete", "d"}, {"rename", "rn"}};

bool IsCommand(const std::string& word) {
  if (word == "e" || word == "help") return true;
  for (const auto& c : kCommandNames)
    if (word == c.name || (c.alias && word == c.alias)) return true;
  return false;
}

CLI::App* AddCommand(CommandLine& cl, const char* name, const char* description) {
  CLI::App* sub = cl.app.add_subcommand(name, description);
  for (const auto& c : kCommandNames)
    if (c.alias && std::string(name) == c.name) sub->alias(c.alias);
  sub->add_option("ARCHIVE", cl.common.archive, "ZIP archive (\"-\": read it from standard input)")->required();
  sub->add_option("--codepage", cl.common.codepage,
                  "code page of names stored without the UTF-8 flag (437, 850, 852, 1250, 1252, ...)");
  return sub;
}

void AddRunFlags(CLI::App* sub, ItemOptions& o) {
  sub->add_flag("-k,--keep-going", o.keep_going,
                "go on with the next item after a failure (the default without a terminal)");
  sub->add_flag("--stop-on-error", o.stop_on_error, "end the run at the first failure");
  sub->add_flag("-q,--quiet", o.quiet, "print only errors");
  sub->add_flag("-v,--verbose", o.verbose, "print each item's name as it is done");
}

void DefineReading(CommandLine& cl) {
  ItemOptions& o = cl.items;
  cl.list = AddCommand(cl, "list", "list the items of an archive");
  cl.list->add_option("MASK", o.masks, "masks of items to list (default *.*)");
  cl.list->add_flag("--json", o.json, "print a JSON array");
  cl.list->add_flag("-v,--verbose", o.verbose, "also method, CRC-32, encryption and Unix mode");

  cl.extract = AddCommand(cl, "extract", "extract items (\"e\": extract without folders)");
  cl.extract->add_option("MASK", o.masks, "masks of items to extract (default *.*)");
  cl.extract->add_option("-d,--dir", o.dir, "destination folder (default: current folder)");
  cl.extract_password = cl.extract->add_option("-p,--password", o.password, "password of encrypted items");
  cl.extract
      ->add_option("--overwrite", o.overwrite,
                   "always|never|prompt|newer|older (default: prompt on a terminal, else never)")
      ->check(CLI::IsMember({"always", "never", "prompt", "newer", "older"}));
  cl.extract->add_flag("-o", o.always, "overwrite existing files (same as --overwrite always)");
  cl.extract->add_option("-x,--exclude", o.exclude, "masks of items to leave out");
  cl.extract->add_flag("-j,--junk-paths", o.junk_paths,
                       "extract every file into the destination itself, without folders");
  cl.extract->add_flag("-c,--stdout,-O", o.to_stdout, "write the items' data to standard output");
  AddRunFlags(cl.extract, o);

  cl.test = AddCommand(cl, "test", "test the items of an archive");
  cl.test_password = cl.test->add_option("-p,--password", o.password, "password of encrypted items");
  cl.test->add_option("MASK", o.masks, "masks of items to test (default *.*)");
  AddRunFlags(cl.test, o);
}

void AddWriteOptions(CommandLine& cl, CLI::App* sub) {
  WriteOptions& write = cl.write;
  sub->add_option("PATH", write.paths, "files, folders or masks to add")->required();
  sub->add_flag("-r,--recurse", write.recurse, "add folders with all they hold");
  sub->add_option("-x,--exclude", write.exclude, "mask of names to leave out");
  for (int level = 0; level <= 9; ++level)
    sub->add_flag_callback(
        "-" + std::to_string(level), [&write, level] { write.level = level; },
        level == 0 ? "store only; -1 fastest ... -9 smallest" : "");
  sub->add_option("--method", write.method, "deflate|store|bzip2|lzma|xz|zstd (default deflate); -1..-9 its levels")
      ->check(CLI::IsMember({"deflate", "store", "bzip2", "lzma", "xz", "zstd"}));
  auto* pw = sub->add_option("-p,--password", write.password, "encrypt with this password (asked when empty)");
  pw->expected(0, 1);
  // Given without a value (or as -p ''), the option still asks for
  // encryption: counted as given, whatever value arrived.
  sub->parse_complete_callback([&write, pw] { write.have_password = write.have_password || pw->count() > 0; });
  sub->add_option("--aes", write.aes, "AES key size: 128, 192 or 256 (default: classic encryption)")
      ->check(CLI::IsMember({128, 192, 256}));
  sub->add_option("--store-path", write.store_path, "none|relative|full|drive (default relative)")
      ->check(CLI::IsMember({"none", "relative", "full", "drive"}));
  sub->add_option("--zip64", write.zip64, "auto|always|never (default auto)")
      ->check(CLI::IsMember({"auto", "always", "never"}));
  sub->add_option("--sfx", write.sfx, "self-extractor stub for a new archive");
  sub->add_option("--comment", write.comment, "archive comment")->each([&write](const std::string&) {
    write.have_comment = true;
  });
  sub->add_option("--no-compress", write.no_compress, "masks stored without compression, ';'-separated");
  sub->add_flag("--no-wait", write.no_wait,
                "fail (status 2) rather than wait while another program writes the archive");
  sub->add_flag("--oem-names", write.oem_names,
                "store names in the code page (OEM) rather than UTF-8, for readers that predate UTF-8 names");
  sub->add_flag("-q,--quiet", write.quiet, "print only errors");
  sub->add_flag("-v,--verbose", write.verbose, "print each file's name as it is stored");
}

void AddSplitOptions(CommandLine& cl) {
  const auto size_check = CLI::Validator(
      [](std::string& text) -> std::string {
        const auto size = arcfold_cli::ParseVolumeSize(text);
        if (!size) return "not a size (bytes with k, m or g, or 1.44m, 100m, 650m, 700m, 4.7g)";
        if (size->kind == arcfold::vsCustom && size->bytes < 65536) return "a volume holds at least 64k";
        return std::string();
      },
      "SIZE");
  cl.add
      ->add_option("--split", cl.write.split,
                   "write a new split set of volumes of SIZE (64k, 10m, 1.44m, 650m, 4.7g ...)")
      ->check(size_check);
  cl.add->add_option("--first-volume", cl.write.first_volume, "size of the first volume of a split set")
      ->check(size_check);
  cl.add->add_flag("--advanced-naming", cl.write.advanced_naming,
                   "name volumes Base_001.zip ... rather than Base.z01 ...");
  // A split set whose first volume is a self-extractor (Base.exe, Base.z02,
  // ..., Base.ZIP) is a set that other tools cannot read: its first volume
  // is not where they look for it.
  cl.add->get_option("--split")->excludes(cl.add->get_option("--sfx"));
}

void DefineWriting(CommandLine& cl) {
  cl.add = AddCommand(cl, "add", "add files and folders (a new archive is created)");
  AddWriteOptions(cl, cl.add);
  AddSplitOptions(cl);
  cl.update = AddCommand(cl, "update", "add new files and replace items whose file is newer");
  AddWriteOptions(cl, cl.update);
  cl.move = AddCommand(cl, "move", "add files, then delete them once the archive is written");
  AddWriteOptions(cl, cl.move);
  cl.del = AddCommand(cl, "delete", "delete items");
  cl.del->add_option("MASK", cl.write.paths, "masks of items to delete")->required();
  cl.del->add_flag("--no-wait", cl.write.no_wait,
                   "fail (status 2) rather than wait while another program writes the archive");
  cl.rename = AddCommand(cl, "rename", "rename an item");
  cl.rename->add_option("OLD", cl.old_name, "the item's name")->required();
  cl.rename->add_option("NEW", cl.new_name, "its new name")->required();
  cl.rename->add_flag("--no-wait", cl.write.no_wait,
                      "fail (status 2) rather than wait while another program writes the archive");
}

// The command line as users of unzip, 7-Zip and bsdtar type it, in the
// tool's own words: "e" is extract without folders, "help COMMAND" is the
// command's help, and an archive alone is listed.
std::vector<std::string> OwnWords(std::vector<std::string> args) {
  if (args.size() >= 2 && args[1] == "e") {
    args[1] = "extract";
    args.insert(args.begin() + 2, "-j");
  } else if (args.size() >= 2 && args[1] == "help") {
    args.erase(args.begin() + 1);
    if (args.size() > 1 && args[1] == "e") args[1] = "extract";
    args.push_back("--help");
  } else if (args.size() == 2 && !args[1].empty() && (args[1][0] != '-' || args[1] == "-") && !IsCommand(args[1])) {
    args.insert(args.begin() + 1, "list");
  }
  return args;
}

// A usage error in one line that names the problem, status 2.
int UsageError(const std::string& error, const std::vector<std::string>& args) {
  std::string what = error;
  // The command is the first word, or what help is asked about.
  const size_t at = args.size() > 2 && args[1] == "help" ? 2 : 1;
  const std::string first = args.size() > at ? args[at] : "";
  if (!first.empty() && first[0] != '-' && !IsCommand(first))
    what = fmt::format("unknown command \"{}\" (commands: list, extract, test, add, update, move, delete, rename)",
                       Printable(first));
  else if (first.empty() || first[0] == '-')
    what = "a command is required: list, extract, test, add, update, move, delete or rename";
  std::fprintf(stderr, "arcfold: %s\nRun \"arcfold --help\" for usage.\n", what.c_str());
  return 2;
}

// Parses args; the status to end with when parsing was all there was to
// do (help, version, a usage error), else -1.
int Parse(CommandLine& cl, const std::vector<std::string>& args) {
  if (args.size() > 2 && args[1] == "help" && !IsCommand(args[2])) return UsageError("", args);
  std::vector<std::string> given = OwnWords(args);
  std::vector<char*> ptrs;
  for (auto& arg : given) ptrs.push_back(arg.data());
  try {
    cl.app.parse(static_cast<int>(ptrs.size()), ptrs.data());
  } catch (const CLI::CallForHelp& e) {
    return cl.app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return cl.app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return cl.app.exit(e);
  } catch (const CLI::ParseError& e) {
    return UsageError(e.what(), given);
  }
  return -1;
}

int RunCommand(CommandLine& cl) {
  // An archive read from standard input is copied to a temporary file that
  // outlives the command's archive object and goes on every way out.
  std::unique_ptr<arcfold_cli::SpooledStdin> spool;
  if (cl.common.archive == "-" && (cl.list->parsed() || cl.extract->parsed() || cl.test->parsed()))
    spool = std::make_unique<arcfold_cli::SpooledStdin>();
  if (cl.list->parsed()) return List(cl.common, spool.get(), cl.items);
  if (cl.extract->parsed()) return RunItems(cl.common, spool.get(), cl.items, true, cl.extract_password->count() > 0);
  if (cl.test->parsed()) return RunItems(cl.common, spool.get(), cl.items, false, cl.test_password->count() > 0);
  if (cl.add->parsed()) return Write(cl.common, "add", cl.write);
  if (cl.del->parsed()) return Write(cl.common, "delete", cl.write);
  if (cl.update->parsed()) return Write(cl.common, "update", cl.write);
  if (cl.move->parsed()) return Write(cl.common, "move", cl.write);
  if (cl.rename->parsed()) {
    cl.write.paths = {cl.old_name, cl.new_name};
    return Write(cl.common, "rename", cl.write);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // Names and passwords arrive in UTF-8 whatever the system's pages are.
  const std::vector<std::string> args = afp::Utf8Arguments(argc, argv);
  afp::UseUtf8Console();
  afp::CatchStopSignals();
  afp::SurviveClosedPipes();
  CommandLine cl;
  cl.app.require_subcommand(1);
  cl.app.set_version_flag("--version", std::string("arcfold ") + ARCFOLD_VERSION_STRING);
  DefineReading(cl);
  DefineWriting(cl);
  if (const int status = Parse(cl, args); status >= 0) return arcfold_cli::StatusWithStdoutWritten(status);
  try {
    return arcfold_cli::StatusWithStdoutWritten(RunCommand(cl));
  } catch (const NothingMatched& e) {
    std::fprintf(stderr, "arcfold: %s: %s\n", Printable(cl.common.archive).c_str(), e.what());
    return 1;
  } catch (const arcfold_cli::Interrupted&) {
    std::fprintf(stderr, "arcfold: interrupted; nothing was done\n");
    return 1;
  } catch (const arcfold_cli::OutputClosed&) {
    return kClosedOutputStatus;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "arcfold: %s\n", e.what());
    return 2;
  }
}
