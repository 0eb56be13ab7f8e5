// Temporary files left behind by processes that were killed: their names
// carry the process id (".arcfold-<process>-<n>.tmp", UniqueTempName), so a
// later run can tell whose they are.
#include <mutex>
#include <set>

#include "platform/files.h"

namespace afp {

namespace {

constexpr std::u16string_view kPrefix = u".arcfold-";
constexpr std::u16string_view kSuffix = u".tmp";

// The process id in a temporary file's name; -1 when the name is not one.
int64_t OwnerOf(const WideString& name) {
  if (name.size() <= kPrefix.size() + kSuffix.size() || name.compare(0, kPrefix.size(), kPrefix) != 0 ||
      name.compare(name.size() - kSuffix.size(), kSuffix.size(), kSuffix) != 0)
    return -1;
  int64_t pid = 0;
  size_t at = kPrefix.size();
  for (; at < name.size() && name[at] >= u'0' && name[at] <= u'9'; ++at) {
    if (pid > (int64_t{1} << 40)) return -1;
    pid = pid * 10 + (name[at] - u'0');
  }
  if (at == kPrefix.size() || at >= name.size() || name[at] != u'-') return -1;
  for (++at; at < name.size() - kSuffix.size(); ++at)
    if (name[at] < u'0' || name[at] > u'9') return -1;
  return pid;
}

}  // namespace

void RemoveDeadTempFiles(std::u16string_view folder) {
  WideString dir(folder.empty() ? std::u16string_view(u".") : folder);
  if (dir.back() != u'/' && dir.back() != u'\\') dir += u'/';
  static std::mutex mu;
  static std::set<WideString> looked_at;
  {
    std::lock_guard<std::mutex> lock(mu);
    if (!looked_at.insert(dir).second) return;
  }
  for (const WideString& name : ListDirectory(dir)) {
    const int64_t owner = OwnerOf(name);
    if (owner < 0 || ProcessExists(owner)) continue;
    const WideString path = dir + name;
    // Only plain files: a folder or a link of that name is not one of ours.
    if (GetPathType(path) != PathType::File) continue;
    if (!DeleteFile(path)) {
      SetFileAttributes(path, kAttrNormal);
      DeleteFile(path);
    }
  }
}

}  // namespace afp
