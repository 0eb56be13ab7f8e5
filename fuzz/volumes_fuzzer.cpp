// A split set made of the fuzzer's bytes: the first byte chooses how many
// volumes (2 to 5) and the next ones where the bytes are cut between them.
// Detection, the directory read across volumes and decoding items whose
// data runs over volume ends all see arbitrary bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "arcfold/arcfold.h"
#include "platform/file_io.h"
#include "platform/files.h"
#include "platform/prompts.h"

namespace {

afp::WideString ScratchFolder() {
  static afp::WideString folder = [] {
    afp::WideString base =
        afp::DirectoryExists(u"/dev/shm") ? afp::WideString(u"/dev/shm/") : afp::TempDirectory() + u"/";
    afp::WideString f = afp::TempFileName(base, u"arcfold-fuzz-volumes-");
    afp::DeleteFile(f);
    afp::ForceDirectories(f);
    return f + u"/";
  }();
  return folder;
}

void Write(const afp::WideString& name, const uint8_t* data, size_t size) {
  std::string error;
  afp::FileHandle f = afp::OpenFile(name, afp::FileOpen::Create, &error);
  if (f == afp::kNoFile) return;
  if (size) afp::WriteFileAt(f, data, static_cast<int64_t>(size), 0);
  afp::CloseFile(f);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 6) return 0;
  const int volumes = 2 + data[0] % 4;
  const uint8_t* cuts = data + 1;
  data += 1 + (volumes - 1);
  size -= 1 + (volumes - 1);
  const afp::WideString folder = ScratchFolder();
  const afp::WideString last = folder + u"set.zip";
  std::vector<size_t> at = {0};
  for (int v = 0; v + 1 < volumes; ++v) at.push_back(std::max(at.back(), size * cuts[v] / 256));
  at.push_back(size);
  for (int v = 0; v < volumes; ++v) {
    const afp::WideString name = v + 1 == volumes ? last : folder + u"set.z0" + static_cast<char16_t>(u'1' + v);
    Write(name, data + at[v], at[v + 1] - at[v]);
  }
  afp::SafeAnswerPrompts no_one_there;
  arcfold::TArcfold a;
  a.PromptUI = &no_one_there;
  a.SetFileName(last);
  try {
    a.OpenArchive(arcfold::fmOpenRead | arcfold::fmShareDenyNone);
    a.TestFiles(u"*.*");
  } catch (const std::exception&) {
  }
  a.CloseArchive();
  for (int v = 0; v + 1 < volumes; ++v) afp::DeleteFile(folder + u"set.z0" + static_cast<char16_t>(u'1' + v));
  afp::DeleteFile(last);
  return 0;
}
