// Testing and extracting every item into a scratch folder. Besides crashes,
// it aborts when anything appears outside that folder: an item written
// beside the destination, or into the current folder, is an escape.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz_archive.h"
#include "platform/files.h"

namespace {

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
    afp::WideString base = afp::DirectoryExists(u"/dev/shm") ? afp::WideString(u"/dev/shm/") : afp::TempDirectory() + u"/";
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
  try {
    a.TestFiles(u"*.*");
    a.ExtractFiles(u"*.*");
  } catch (const arcfold::EAFException&) {
  }
  // The root holds exactly "dest" and "cwd", and "cwd" stays empty.
  auto top = afp::ListDirectory(scratch.root);
  if (top.size() != 2 || !afp::ListDirectory(scratch.cwd).empty()) std::abort();
  for (const auto& name : afp::ListDirectory(scratch.dest)) RemoveTree(scratch.dest + name);
  return 0;
}
