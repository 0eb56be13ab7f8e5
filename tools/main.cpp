// arcfold: list, extract and test ZIP archives from the command line.
#include <fmt/format.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <exception>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "arcfold/arcfold.h"
#include "platform/codepage.h"
#include "platform/console.h"
#include "platform/files.h"
#include "masks.h"
#include "sources.h"
#include "terminal_prompts.h"
#include "volume_size.h"

using afp::FromUtf8;
using afp::ToUtf8;
using arcfold::NativeError;
using arcfold::TArcfold;

namespace {

// Text from an archive as the tool prints it: control characters (C0, DEL
// and C1) are shown escaped, so that a name cannot move the cursor, clear the
// screen or retitle the terminal.
std::string Printable(const std::string& utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    if (c < 0x20 || c == 0x7F) {
      out += fmt::format("\\x{:02x}", c);
    } else if (c == 0xC2 && i + 1 < utf8.size() && static_cast<unsigned char>(utf8[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(utf8[i + 1]) <= 0x9F) {
      out += fmt::format("\\u{:04x}", static_cast<unsigned char>(utf8[++i]));
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

// Item names as the tool shows them: with "/" separators, escaped.
std::string ShownName(const afp::WideString& name) {
  std::string s = ToUtf8(name);
  for (auto& c : s)
    if (c == '\\') c = '/';
  return Printable(s);
}

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
    failures.push_back({ShownName(file_name), Printable(ToUtf8(message))});
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
    if (skip) failures.push_back({ShownName(file_name), "skipped: wrong or missing password"});
  }
  // An interrupt, a termination request or a hang-up cancels the run at
  // its next item or chunk: what was being written is rolled back.
  void DoFileProgress(const afp::WideString& file_name, double progress, arcfold::TAFProcessOperation op,
                      arcfold::TAFProgressPhase phase, bool& cancel) override {
    TArcfold::DoFileProgress(file_name, progress, op, phase, cancel);
    if (afp::StopRequested()) cancel = true;
  }
  void DoOverallProgress(double progress, arcfold::TAFProcessOperation op, arcfold::TAFProgressPhase phase,
                         bool& cancel) override {
    TArcfold::DoOverallProgress(progress, op, phase, cancel);
    if (afp::StopRequested()) cancel = true;
  }
  void DoCopyTempFileProgress(double progress, arcfold::TAFProgressPhase phase, bool& cancel) override {
    TArcfold::DoCopyTempFileProgress(progress, phase, cancel);
    if (afp::StopRequested()) cancel = true;
  }
  // Another arcfold (or a program using the library) is writing the archive.
  void DoArchiveBusy(const afp::WideString& file_name, bool& cancel) override {
    cancel = no_wait || afp::StopRequested();
    if (cancel || told_waiting_ || !afp::IsTerminal(stderr)) return;
    std::fprintf(stderr, "arcfold: waiting for %s, another program is writing it\n", ShownName(file_name).c_str());
    told_waiting_ = true;
  }
  bool keep_going = false;
  bool no_wait = false;

  // What add, update and move store: names that an exclusion selects are
  // left out, and so are names that no extraction would give back (control
  // characters), each a failure that names the file. left_out says whether
  // the last file or folder offered was left out.
  const arcfold_cli::NameMasks* exclusions = nullptr;
  std::string offered;
  bool left_out = false;
  void DoStoreFile(afp::WideString& stored, int32_t& attr, std::string& comment,
                   const afp::WideString& source) override {
    left_out = exclusions && exclusions->Selects(stored);
    if (!left_out && std::any_of(stored.begin(), stored.end(), [](char16_t c) { return c < 0x20 || c == 0x7F; })) {
      failures.push_back({Printable(offered), "not added: a name with a control character could not be extracted"});
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

// Adds what the walk of the sources finds, one file or folder at a time,
// by the command's rules (add, update or move).
class SourceAdder : public arcfold_cli::SourceVisitor {
 public:
  SourceAdder(ToolArchiver& a, const std::string& command) : a_(a), command_(command) {}
  void File(const afp::WideString& path) override { Add(path, afp::WideString()); }
  // The mask "*" leaves out what the folder holds: the walk offers that.
  bool Folder(const afp::WideString& path) override { return Add(path, u"*"); }
  void Skipped(const afp::WideString& path, const std::string& why) override {
    std::fprintf(stderr, "arcfold: %s: %s\n", Printable(ToUtf8(path)).c_str(), why.c_str());
  }

 private:
  bool Add(const afp::WideString& path, const afp::WideString& exclusion) {
    a_.offered = ToUtf8(path);
    a_.left_out = false;
    if (command_ == "update") a_.UpdateFiles(path, arcfold::kAnyAttributes, exclusion);
    else if (command_ == "move") a_.MoveFiles(path, arcfold::kAnyAttributes, exclusion);
    else a_.AddFiles(path, arcfold::kAnyAttributes, exclusion);
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

// Opens the archive in mode; a failure becomes a message that names it.
void OpenNamingErrors(ToolArchiver& a, uint16_t mode) {
  const std::string shown = Printable(ToUtf8(a.FileName()));
  try {
    a.OpenArchive(mode);
  } catch (const arcfold::EAFException& e) {
    if (e.NativeError() == NativeError::kInvalidArchiveFile || e.NativeError() == NativeError::kArchiveDamaged)
      throw std::runtime_error(fmt::format("{}: not a ZIP archive (no end of central directory record)", shown));
    throw std::runtime_error(fmt::format("{}: {}", shown, e.what()));
  } catch (const std::exception& e) {
    throw std::runtime_error(fmt::format("{}: {}", shown, e.what()));
  }
}

// Opens an existing archive read-only; a missing file is an error, not a new
// archive. Every message names the archive.
void OpenExisting(ToolArchiver& a) {
  const std::string shown = Printable(ToUtf8(a.FileName()));
  if (afp::DirectoryExists(a.FileName())) throw std::runtime_error(fmt::format("{}: is a folder, not an archive", shown));
  if (!afp::FileExists(a.FileName())) throw std::runtime_error(fmt::format("{}: no such archive", shown));
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

std::string DosDateTimeText(uint16_t date, uint16_t time) {
  return fmt::format("{:04}-{:02}-{:02} {:02}:{:02}:{:02}", ((date >> 9) & 0x7F) + 1980,
                     (date >> 5) & 0x0F, date & 0x1F, (time >> 11) & 0x1F, (time >> 5) & 0x3F, (time & 0x1F) * 2);
}

std::string AttrText(uint32_t a) {
  std::string s = ".....";
  if (a & afp::kAttrDirectory) s[0] = 'D';
  if (a & afp::kAttrReadOnly) s[1] = 'R';
  if (a & afp::kAttrHidden) s[2] = 'H';
  if (a & afp::kAttrSystem) s[3] = 'S';
  if (a & afp::kAttrArchive) s[4] = 'A';
  return s;
}

// One line of the plain listing, put together by hand: printf-style
// formatting would be a third of the time of listing 100,000 items.
void AppendListLine(fmt::memory_buffer& out, int64_t size, int64_t csize, double ratio, uint16_t dd, uint16_t dt,
                    uint32_t attrs, bool enc, const std::string& name) {
  auto right = [&](int64_t v, int width) {
    char digits[24];
    auto r = std::to_chars(digits, digits + sizeof digits, v);
    for (int pad = width - static_cast<int>(r.ptr - digits); pad > 0; --pad) out.push_back(' ');
    out.append(digits, r.ptr);
  };
  auto two = [&](int v) {
    out.push_back(static_cast<char>('0' + v / 10 % 10));
    out.push_back(static_cast<char>('0' + v % 10));
  };
  right(size, 12);
  out.push_back(' ');
  right(csize, 12);
  out.push_back(' ');
  int tenths = static_cast<int>(ratio * 10 + 0.5);
  right(tenths / 10, 3);
  out.push_back('.');
  out.push_back(static_cast<char>('0' + tenths % 10));
  out.append(std::string_view("% "));
  int year = ((dd >> 9) & 0x7F) + 1980;
  two(year / 100);
  two(year % 100);
  out.push_back('-');
  two((dd >> 5) & 0x0F);
  out.push_back('-');
  two(dd & 0x1F);
  out.push_back(' ');
  two((dt >> 11) & 0x1F);
  out.push_back(':');
  two((dt >> 5) & 0x3F);
  out.push_back(':');
  two((dt & 0x1F) * 2);
  out.push_back(' ');
  std::string a = AttrText(attrs);
  out.append(a.data(), a.data() + a.size());
  out.push_back(' ');
  out.push_back(enc ? '*' : ' ');
  out.push_back(' ');
  out.append(name.data(), name.data() + name.size());
  out.push_back('\n');
}

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

int List(const CommonOptions& common, const std::vector<std::string>& masks, bool json) {
  ToolArchiver a;
  ApplyCommon(a, common);
  OpenExisting(a);
  // A listing of a damaged archive is shown, but does not pass for a sound one.
  const bool damaged = ReportOpenDamage(a, common.archive);
  std::vector<int> items = Select(a, masks, {});
  if (items.empty() && !masks.empty()) throw NothingMatched(NothingMatchedText(masks));
  nlohmann::json arr = nlohmann::json::array();
  int64_t total = 0, packed = 0;
  fmt::memory_buffer out;
  if (!json) {
    const std::string_view head =
        "        Size       Packed  Ratio Modified            Attr    Name\n"
        "------------ ------------ ------ ------------------- ----- - ----\n";
    out.append(head.data(), head.data() + head.size());
  }
  for (int i : items) {
    const arcfold::TDirItem& it = a.Item(i);
    int64_t size = it.UncompressedSize(), csize = it.CompressedSize();
    double ratio = size > 0 ? (1.0 - static_cast<double>(csize) / static_cast<double>(size)) * 100.0 : 0.0;
    // Sizes come from the archive and may be anything, negative included.
    ratio = std::clamp(ratio, 0.0, 100.0);
    bool enc = it.HeaderImage.Flags() & arcfold::kFlagEncrypted;
    const uint16_t dd = it.HeaderImage.Date(), dt = it.HeaderImage.Time();
    std::string name = ToUtf8(it.ItemName);
    for (auto& c : name)
      if (c == '\\') c = '/';
    if (!json) name = Printable(name);
    if (json) {
      arr.push_back({{"name", name},
                     {"size", size},
                     {"packed_size", csize},
                     {"ratio", ratio},
                     {"modified", DosDateTimeText(dd, dt)},
                     {"attributes", it.HeaderImage.ExternalAttributes()},
                     {"crc32", fmt::format("{:08x}", it.HeaderImage.Crc32())},
                     {"method", it.ActualMethod},
                     {"encrypted", enc},
                     {"directory", it.IsDirectory()}});
    } else {
      AppendListLine(out, size, csize, ratio, dd, dt, it.HeaderImage.ExternalAttributes(), enc, name);
    }
    total += size;
    packed += csize;
  }
  if (json) {
    std::fputs(arr.dump(2).c_str(), stdout);
    std::fputc('\n', stdout);
  } else {
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::printf("------------ ------------                                     ----\n");
    std::printf("%12lld %12lld        %zu item(s)\n", static_cast<long long>(total), static_cast<long long>(packed),
                items.size());
  }
  return damaged ? 1 : 0;
}

// A one-line progress display on a terminal: overall percentage, current
// item and throughput.
class ProgressBar {
 public:
  explicit ProgressBar(ToolArchiver& a, int64_t total_bytes) : total_(total_bytes) {
    start_ = last_ = std::chrono::steady_clock::now();
    a.OnFileProgress = [this](arcfold::TAFBaseArchiver*, const afp::WideString& name, double, arcfold::TAFProcessOperation,
                              arcfold::TAFProgressPhase, bool&) { current_ = ToUtf8(name); };
    a.OnOverallProgress = [this, &a](arcfold::TAFBaseArchiver*, double pct, arcfold::TAFProcessOperation,
                                     arcfold::TAFProgressPhase phase, bool&) {
      (void)a;
      auto now = std::chrono::steady_clock::now();
      if (phase == arcfold::ppProcess && now - last_ < std::chrono::milliseconds(100)) return;
      last_ = now;
      double secs = std::chrono::duration<double>(now - start_).count();
      double mbps = secs > 0 ? (total_ * pct / 100.0) / secs / 1e6 : 0;
      std::string name = current_.size() > 40 ? "..." + current_.substr(current_.size() - 37) : current_;
      name = Printable(name);
      // Adding does not know its byte total in advance: no rate then.
      if (total_ > 0) std::fprintf(stderr, "\r%5.1f%% %-40s %8.1f MB/s", pct, name.c_str(), mbps);
      else std::fprintf(stderr, "\r%5.1f%% %-40s", pct, name.c_str());
      if (phase == arcfold::ppEnd) std::fputc('\n', stderr);
      std::fflush(stderr);
    };
  }

 private:
  int64_t total_;
  std::string current_;
  std::chrono::steady_clock::time_point start_, last_;
};

int RunItems(const CommonOptions& common, const std::vector<std::string>& masks, const std::vector<std::string>& excl,
             const std::string& dir, const std::string& password, bool have_password, const std::string& overwrite,
             bool keep_going, bool stop_on_error, bool extract) {
  const bool interactive = arcfold_cli::Interactive();
  arcfold_cli::TerminalPrompts terminal(stdin, stderr);
  afp::SafeAnswerPrompts safe;
  ToolArchiver a;
  a.PromptUI = interactive ? static_cast<afp::Prompts*>(&terminal) : &safe;
  // Without a terminal nobody can answer, so a failed item is skipped and
  // listed, as unzip and 7z do; --stop-on-error ends the run there instead.
  a.keep_going = !stop_on_error && (keep_going || !interactive);
  ApplyCommon(a, common);
  if (have_password) a.SetPassword(password);
  std::string mode = overwrite.empty() ? (interactive ? "prompt" : "never") : overwrite;
  static const std::pair<const char*, arcfold::TAFOverwriteMode> kModes[] = {
      {"always", arcfold::omAlways}, {"never", arcfold::omNever}, {"prompt", arcfold::omPrompt},
      {"newer", arcfold::omIfNewer}, {"older", arcfold::omIfOlder}};
  for (const auto& [text, value] : kModes)
    if (mode == text) a.Options().OverwriteMode = value;
  OpenExisting(a);
  const bool damaged = ReportOpenDamage(a, common.archive);
  std::vector<int> items = Select(a, masks, excl);
  if (items.empty() && !masks.empty()) throw NothingMatched(NothingMatchedText(masks));
  // The destination is made only for an archive that opened.
  if (!dir.empty()) {
    afp::WideString d = FromUtf8(dir);
    if (!afp::DirectoryExists(d) && !afp::ForceDirectories(d))
      throw std::runtime_error(fmt::format("{}: cannot create the destination folder", Printable(dir)));
    a.SetBaseDir(d);
  }
  int64_t bytes = 0;
  a.ClearMarks();
  for (int i : items) {
    a.SetMarked(i, true);
    bytes += a.Item(i).UncompressedSize();
  }
  std::unique_ptr<ProgressBar> bar;
  if (afp::IsTerminal(stderr)) bar = std::make_unique<ProgressBar>(a, bytes);
  if (!items.empty()) a.ProcessMarkedItems(extract ? arcfold::poExtract : arcfold::poTest, -1);
  const int skipped = a.SkippedExistingCount();
  const bool cancelled = a.CancelFlag();
  a.CloseArchive();
  if (skipped > 0)
    std::fprintf(stderr, "%d item(s) skipped: the file exists (use -o or --overwrite to replace)\n", skipped);
  if (!a.failures.empty()) {
    std::fprintf(stderr, "%zu item(s) failed:\n", a.failures.size());
    for (const auto& f : a.failures) std::fprintf(stderr, "  %s: %s\n", f.name.c_str(), f.message.c_str());
    if (a.LastRunAborted()) std::fprintf(stderr, "run aborted; remaining items were not processed\n");
    return 1;
  }
  if (cancelled) {
    std::fprintf(stderr, "run cancelled; remaining items were not processed\n");
    return 1;
  }
  if (damaged) return 1;
  if (!extract) std::printf("No errors detected in %zu item(s) of %s\n", items.size(), Printable(common.archive).c_str());
  return 0;
}

// What the writing commands share.
struct WriteOptions {
  std::vector<std::string> paths;
  std::vector<std::string> exclude;
  int level = -1;
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
  if (("/" + path + "/").find("/../") != std::string::npos) return "a name with '..' would be extracted outside its folder";
  return nullptr;
}

// Opens the archive for writing: an existing one read-write, or a new one.
void OpenForWriting(ToolArchiver& a, const WriteOptions& w) {
  const std::string shown = Printable(ToUtf8(a.FileName()));
  if (afp::DirectoryExists(a.FileName())) throw std::runtime_error(fmt::format("{}: is a folder, not an archive", shown));
  const bool exists = afp::FileExists(a.FileName());
  if (!exists && !w.sfx.empty()) a.SetSFXStub(FromUtf8(w.sfx));
  OpenNamingErrors(a, exists ? arcfold::fmOpenReadWrite | arcfold::fmShareDenyWrite : arcfold::fmCreate);
  if (a.DirectoryRebuilt())
    throw std::runtime_error(fmt::format("{}: damaged (no usable central directory); repair it before changing it", shown));
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
  const bool cancelled = a.CancelFlag();
  a.CloseArchive();
  if (!a.failures.empty()) {
    std::fprintf(stderr, "%zu item(s) failed:\n", a.failures.size());
    for (const auto& f : a.failures) std::fprintf(stderr, "  %s: %s\n", f.name.c_str(), f.message.c_str());
    if (a.LastRunAborted()) std::fprintf(stderr, "run aborted; the archive was left as it was\n");
    return 1;
  }
  if (cancelled || afp::StopRequested()) {
    std::fprintf(stderr, "cancelled; the archive was left as it was\n");
    return 1;
  }
  return 0;
}

// Another program put an archive under the name while this run prepared a
// new one (or replaced the one it read): nothing was written.
struct ArchiveAppearedMeanwhile {};

int WriteOnce(const CommonOptions& common, const std::string& command, WriteOptions& w) {
  const bool interactive = arcfold_cli::Interactive();
  arcfold_cli::TerminalPrompts terminal(stdin, stderr);
  afp::SafeAnswerPrompts safe;
  ToolArchiver a;
  a.PromptUI = interactive ? static_cast<afp::Prompts*>(&terminal) : &safe;
  a.keep_going = !interactive;
  ApplyCommon(a, common);
  if (w.level >= 0) a.SetCompressionMode(w.level);
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
  if (w.aes) a.SetEncryptionMethod(w.aes == 128 ? arcfold::caAES_128 : w.aes == 192 ? arcfold::caAES_192 : arcfold::caAES_256);
  static const std::pair<const char*, arcfold::TAFStorePathMode> kStore[] = {
      {"none", arcfold::spNoPath}, {"relative", arcfold::spRelativePath}, {"full", arcfold::spFullPath},
      {"drive", arcfold::spFullPathWithDrive}};
  for (const auto& [text, value] : kStore)
    if (w.store_path == text) a.Options().StorePath = value;
  a.SetZip64Mode(w.zip64 == "always" ? arcfold::zmAlways : w.zip64 == "never" ? arcfold::zmDisabled : arcfold::zmAuto);
  a.Options().Recurse = false;  // the tool walks the sources itself
  a.SetNoCompressionMasks(SplitMasks(w.no_compress));
  const bool existed = afp::FileExists(a.FileName());
  if (!w.split.empty()) {
    if (existed)
      throw std::runtime_error(fmt::format("{}: exists; a split set is written as a new archive (choose another name)",
                                           Printable(common.archive)));
    const auto size = arcfold_cli::ParseVolumeSize(w.split);
    a.SetSpanningMode(arcfold::smSplitting);
    a.SpanningOptions().VolumeSize = size->kind;
    if (size->kind == arcfold::vsCustom) a.SpanningOptions().SetCustomVolumeSize(size->bytes);
    if (!w.first_volume.empty()) a.SpanningOptions().FirstVolumeSize = arcfold_cli::ParseVolumeSize(w.first_volume)->bytes;
    a.SpanningOptions().AdvancedNaming = w.advanced_naming;
  }
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
  std::unique_ptr<ProgressBar> bar;
  if (afp::IsTerminal(stderr)) bar = std::make_unique<ProgressBar>(a, 0);
  const std::string shown = Printable(common.archive);
  a.no_wait = w.no_wait;
  try {
    a.BeginUpdate();
  } catch (const arcfold::EAFException& e) {
    if (e.NativeError() != NativeError::kCannotCreateOutputFile) throw;
    if (afp::StopRequested()) throw std::runtime_error(fmt::format("{}: interrupted while waiting for another program to finish writing it", shown));
    throw std::runtime_error(fmt::format("{}: another program is writing it (--no-wait)", shown));
  }
  if (command == "add" || command == "update" || command == "move") {
    const arcfold_cli::NameMasks exclusions(w.exclude);
    a.exclusions = &exclusions;
    // Files newer than their items replace them; new files are added.
    if (command == "update") a.Options().OverwriteMode = arcfold::omIfNewer;
    SourceAdder adder(a, command);
    for (const auto& p : w.paths) {
      afp::WideString path = FromUtf8(p);
      if (afp::GetPathType(path) == afp::PathType::None && p.find_first_of("*?") == std::string::npos)
        throw std::runtime_error(fmt::format("{}: no such file or folder", Printable(p)));
      arcfold_cli::WalkSource(path, w.recurse, adder);
    }
    a.exclusions = nullptr;
    if (w.have_comment) a.SetArchiveComment(w.comment);
  } else if (command == "delete") {
    const std::vector<int> doomed = Select(a, w.paths, {});
    for (auto i = doomed.rbegin(); i != doomed.rend(); ++i) a.DeleteItem(*i);
    if (doomed.empty()) {
      a.CloseArchive();
      throw NothingMatched(NothingMatchedText(w.paths));
    }
  } else if (command == "rename") {
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
  try {
    a.EndUpdate();
  } catch (const arcfold::EAFException& e) {
    if (e.NativeError() == NativeError::kCannotCreateOutputFile) throw ArchiveAppearedMeanwhile{};
    // The commit as a whole was refused (more items than the classic end
    // record counts, under --zip64 never): the archive stays as it was, and
    // a new one is never put in place.
    if (e.NativeError() != NativeError::kZip64Refused) throw;
    a.AbandonArchive();
    std::fprintf(stderr, "arcfold: %s; %s\n", Printable(e.what()).c_str(),
                 existed ? "the archive was left as it was" : "no archive was written");
    return 1;
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
        throw std::runtime_error(fmt::format("{}: created or replaced by another program meanwhile; nothing was written",
                                             Printable(common.archive)));
    }
  }
}

}  // namespace

int main(int argc, char** argv_given) {
  // Names and passwords arrive in UTF-8 whatever the system's pages are.
  std::vector<std::string> args = afp::Utf8Arguments(argc, argv_given);
  std::vector<char*> arg_ptrs;
  for (auto& arg : args) arg_ptrs.push_back(arg.data());
  argc = static_cast<int>(arg_ptrs.size());
  char** argv = arg_ptrs.data();
  afp::UseUtf8Console();
  afp::CatchStopSignals();
  CLI::App app{"arcfold - list, extract, test, add to and change ZIP archives"};
  app.require_subcommand(1);
  app.set_version_flag("--version", std::string("arcfold ") + ARCFOLD_VERSION);
  CommonOptions common;
  auto add_common = [&](CLI::App* sub) {
    sub->add_option("ARCHIVE", common.archive, "ZIP archive")->required();
    sub->add_option("--codepage", common.codepage,
                    "code page of names stored without the UTF-8 flag (437, 850, 852, 1250, 1252, ...)");
  };

  std::vector<std::string> masks, excl;
  bool json = false;
  auto* list = app.add_subcommand("list", "list the items of an archive");
  add_common(list);
  list->add_option("MASK", masks, "masks of items to list (default *.*)");
  list->add_flag("--json", json, "print a JSON array");

  std::string dir, password, overwrite;
  bool keep_going = false, always = false, stop_on_error = false;
  auto* extract = app.add_subcommand("extract", "extract items");
  add_common(extract);
  extract->add_option("MASK", masks, "masks of items to extract (default *.*)");
  extract->add_option("-d,--dir", dir, "destination folder (default: current folder)");
  auto* pw1 = extract->add_option("-p,--password", password, "password of encrypted items");
  extract->add_option("--overwrite", overwrite, "always|never|prompt|newer|older (default: prompt on a terminal, else never)")
      ->check(CLI::IsMember({"always", "never", "prompt", "newer", "older"}));
  extract->add_flag("-o", always, "overwrite existing files (same as --overwrite always)");
  extract->add_option("-x,--exclude", excl, "masks of items to leave out");
  extract->add_flag("-k,--keep-going", keep_going, "go on with the next item after a failure (the default without a terminal)");
  extract->add_flag("--stop-on-error", stop_on_error, "end the run at the first failure");

  auto* test = app.add_subcommand("test", "test the items of an archive");
  add_common(test);
  auto* pw2 = test->add_option("-p,--password", password, "password of encrypted items");
  test->add_option("MASK", masks, "masks of items to test (default *.*)");
  test->add_flag("-k,--keep-going", keep_going, "go on with the next item after a failure (the default without a terminal)");
  test->add_flag("--stop-on-error", stop_on_error, "end the run at the first failure");

  WriteOptions write;
  auto add_write = [&](CLI::App* sub) {
    add_common(sub);
    sub->add_option("PATH", write.paths, "files, folders or masks to add")->required();
    sub->add_flag("-r,--recurse", write.recurse, "add folders with all they hold");
    sub->add_option("-x,--exclude", write.exclude, "mask of names to leave out");
    for (int level = 0; level <= 9; ++level)
      sub->add_flag_callback("-" + std::to_string(level), [&write, level] { write.level = level; },
                             level == 0 ? "store only; -1 fastest ... -9 smallest" : "");
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
    sub->add_flag("--no-wait", write.no_wait, "fail (status 2) rather than wait while another program writes the archive");
  };
  auto* add = app.add_subcommand("add", "add files and folders (a new archive is created)");
  add_write(add);
  const auto size_check = CLI::Validator(
      [](std::string& text) -> std::string {
        const auto size = arcfold_cli::ParseVolumeSize(text);
        if (!size) return "not a size (bytes with k, m or g, or 1.44m, 100m, 650m, 700m, 4.7g)";
        if (size->kind == arcfold::vsCustom && size->bytes < 65536) return "a volume holds at least 64k";
        return std::string();
      },
      "SIZE");
  add->add_option("--split", write.split, "write a new split set of volumes of SIZE (64k, 10m, 1.44m, 650m, 4.7g ...)")
      ->check(size_check);
  add->add_option("--first-volume", write.first_volume, "size of the first volume of a split set")
      ->check(size_check);
  add->add_flag("--advanced-naming", write.advanced_naming, "name volumes Base_001.zip ... rather than Base.z01 ...");
  // A split set whose first volume is a self-extractor (Base.exe, Base.z02,
  // ..., Base.ZIP) is a set that other tools cannot read: its first volume
  // is not where they look for it.
  add->get_option("--split")->excludes(add->get_option("--sfx"));
  auto* upd = app.add_subcommand("update", "add new files and replace items whose file is newer");
  add_write(upd);
  auto* mov = app.add_subcommand("move", "add files, then delete them once the archive is written");
  add_write(mov);
  auto* del = app.add_subcommand("delete", "delete items");
  add_common(del);
  del->add_option("MASK", write.paths, "masks of items to delete")->required();
  del->add_flag("--no-wait", write.no_wait, "fail (status 2) rather than wait while another program writes the archive");
  auto* ren = app.add_subcommand("rename", "rename an item");
  add_common(ren);
  std::string old_name, new_name;
  ren->add_option("OLD", old_name, "the item's name")->required();
  ren->add_option("NEW", new_name, "its new name")->required();
  ren->add_flag("--no-wait", write.no_wait, "fail (status 2) rather than wait while another program writes the archive");

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    // Usage errors are ours to report: one line that names the problem, status 2.
    std::string what = e.what();
    const std::string first = argc > 1 ? argv[1] : "";
    static const std::set<std::string> kCommands = {"list", "extract", "test", "add",
                                                    "update", "move", "delete", "rename"};
    if (!first.empty() && first[0] != '-' && !kCommands.count(first))
      what = fmt::format("unknown command \"{}\" (commands: list, extract, test, add, update, move, delete, rename)",
                         Printable(first));
    else if (first.empty() || first[0] == '-')
      what = "a command is required: list, extract, test, add, update, move, delete or rename";
    std::fprintf(stderr, "arcfold: %s\nRun \"arcfold --help\" for usage.\n", what.c_str());
    return 2;
  }
  try {
    if (list->parsed()) return List(common, masks, json);
    if (always) overwrite = "always";
    if (extract->parsed())
      return RunItems(common, masks, excl, dir, password, pw1->count() > 0, overwrite, keep_going, stop_on_error,
                      true);
    if (test->parsed())
      return RunItems(common, masks, {}, "", password, pw2->count() > 0, "", keep_going, stop_on_error, false);
    if (add->parsed()) return Write(common, "add", write);
    if (del->parsed()) return Write(common, "delete", write);
    if (upd->parsed()) return Write(common, "update", write);
    if (mov->parsed()) return Write(common, "move", write);
    if (ren->parsed()) {
      write.paths = {old_name, new_name};
      return Write(common, "rename", write);
    }
  } catch (const NothingMatched& e) {
    std::fprintf(stderr, "arcfold: %s: %s\n", Printable(common.archive).c_str(), e.what());
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "arcfold: %s\n", e.what());
    return 2;
  }
  return 0;
}
