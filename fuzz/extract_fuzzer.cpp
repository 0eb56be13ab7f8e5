// Testing and extracting every item into a scratch folder. Besides crashes,
// it aborts when anything appears outside that folder: an item written
// beside the destination, or into the current folder, is an escape. It
// also aborts when testing and extracting disagree about an item's data:
// an item that tests clean must be written, and one that is written must
// test clean.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>

#include "fuzz_archive.h"
#include "items/path_parts.h"
#include "platform/files.h"

namespace {

// What became of an item in a run, by the events it brought.
enum class Outcome {
  kDone,        // no failure, no skip
  kDataFailed,  // damaged data, an unsupported method, a refused password
  kSkipped,     // the password question was answered with skip
  kRefused,     // a name or a place the extraction will not write to
};

bool IsDataFailure(int native_error) { return native_error == 8 || native_error == 55 || native_error == 67; }

// Records the outcome of each item (by the name the events give) while
// answering as the shared archiver does: skip the password, ignore failures.
class OutcomeLog {
 public:
  void Listen(arcfold::TAFBaseArchiver& a) {
    a.OnPassword = [this](arcfold::TAFBaseArchiver*, const afp::WideString& name, std::string&, bool& skip) {
      skip = true;
      by_name[name] = Outcome::kSkipped;
    };
    a.OnProcessFileFailure = [this](arcfold::TAFBaseArchiver*, const afp::WideString& name,
                                    arcfold::TAFProcessOperation, int native_error, int, const afp::WideString&,
                                    arcfold::TAFAction& action) {
      action = arcfold::fxaIgnore;
      by_name[name] = IsDataFailure(native_error) ? Outcome::kDataFailed : Outcome::kRefused;
    };
  }
  Outcome Of(const afp::WideString& name) const {
    auto it = by_name.find(name);
    return it == by_name.end() ? Outcome::kDone : it->second;
  }
  std::map<afp::WideString, Outcome> by_name;
};

// Where extraction puts a file item, below dest.
afp::WideString TargetOf(const afp::WideString& dest, const arcfold::TDirItem& item) {
  afp::WideString name = arcfold::paths::CollapseSegments(arcfold::paths::Backslashed(item.ItemName));
  while (!name.empty() && name.back() == u'\\') name.pop_back();
  return dest + name;
}

// Testing and extracting must agree on each item whose name no other item
// shares (events name items, not positions).
bool TestAndExtractAgree(const arcfold::TAFBaseArchiver& a, const OutcomeLog& tested, const OutcomeLog& extracted,
                         const afp::WideString& dest) {
  std::map<afp::WideString, int> names;
  for (int i = 0; i < a.ItemCount(); ++i) ++names[arcfold::paths::Backslashed(a.Item(i).ItemName)];
  for (int i = 0; i < a.ItemCount(); ++i) {
    const arcfold::TDirItem& item = a.Item(i);
    const afp::WideString name = arcfold::paths::Backslashed(item.ItemName);
    if (names[name] != 1) continue;
    const Outcome t = tested.Of(name), x = extracted.Of(name);
    if (t == Outcome::kRefused || x == Outcome::kRefused) continue;
    if ((t == Outcome::kDone) != (x == Outcome::kDone)) return false;
    // An item with data is a file, whatever folder marks it carries.
    const bool file = !item.IsDirectory() || item.UncompressedSize() > 0;
    if (x == Outcome::kDone && file && afp::GetPathType(TargetOf(dest, item)) != afp::PathType::File) return false;
  }
  return true;
}

void RemoveTree(const afp::WideString& path) {
  if (afp::GetPathType(path) == afp::PathType::Directory) {
    for (const auto& name : afp::ListDirectory(path)) RemoveTree(path + u"/" + name);
    afp::RemoveDir(path);
  } else {
    afp::DeleteFile(path);
  }
}

afp::WideString& ScratchRoot() {
  static afp::WideString root;
  return root;
}

// A folder of this process on a tmpfs, with the destination and a current
// folder inside; removed when the process ends.
struct Scratch {
  afp::WideString root, dest, cwd;
  Scratch() {
    afp::WideString base =
        afp::DirectoryExists(u"/dev/shm") ? afp::WideString(u"/dev/shm/") : afp::TempDirectory() + u"/";
    root = afp::TempFileName(base, u"arcfold-fuzz-");
    afp::DeleteFile(root);
    dest = root + u"/dest/";
    cwd = root + u"/cwd";
    afp::ForceDirectories(dest);
    afp::ForceDirectories(cwd);
    afp::SetCurrentDir(cwd);
    ScratchRoot() = root;
    std::atexit([] {
      RemoveTree(ScratchRoot());
      afp::DeleteFile(ScratchRoot() + u"-input.zip");
    });
  }
  static Scratch& Get() {
    static Scratch scratch;
    return scratch;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Scratch& scratch = Scratch::Get();
  fuzzing::MemoryArchiver a;
  // Inputs of odd length are opened from a file, which brings in the
  // helpers that decode items ahead of the run.
  const bool opened = size % 2 ? a.OpenAsFile(scratch.root + u"-input.zip", data, size) : a.Open(data, size);
  if (!opened) return 0;
  a.SetBaseDir(scratch.dest);
  a.Options().OverwriteMode = arcfold::omAlways;
  OutcomeLog tested, extracted;
  try {
    tested.Listen(a);
    a.TestFiles(u"*.*");
    extracted.Listen(a);
    a.ExtractFiles(u"*.*");
    if (!TestAndExtractAgree(a, tested, extracted, scratch.dest)) std::abort();
  } catch (const arcfold::EAFException&) {
  }
  // The root holds exactly "dest" and "cwd", and "cwd" stays empty.
  auto top = afp::ListDirectory(scratch.root);
  if (top.size() != 2 || !afp::ListDirectory(scratch.cwd).empty()) std::abort();
  for (const auto& name : afp::ListDirectory(scratch.dest)) RemoveTree(scratch.dest + name);
  return 0;
}
