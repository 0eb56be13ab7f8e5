#include "items/stored_name.h"

#include <vector>

#include "arcfold/dir_array.h"
#include "items/path_parts.h"
#include "platform/files.h"

namespace arcfold {

namespace {

bool HasDriveLetter(const afp::WideString& s) { return afp::kDriveLetters && s.size() >= 2 && s[1] == u':'; }

// The "\"-separated segments of an expanded path, without empty ones
// after the first; the first is its root ("C:", "\\server" or empty).
std::vector<afp::WideString> Segments(const afp::WideString& path) {
  std::vector<afp::WideString> out;
  size_t start = 0;
  while (true) {
    size_t end = path.find(u'\\', start);
    if (end == 0 && path.size() > 1 && path[1] == u'\\') end = path.find(u'\\', 2);  // "\\server"
    afp::WideString segment = path.substr(start, end == afp::WideString::npos ? end : end - start);
    if (out.empty() || !segment.empty()) out.push_back(std::move(segment));
    if (end == afp::WideString::npos) return out;
    start = end + 1;
  }
}

// The path of full below base_folder. A full path beside or above the base
// is taken below the folder that holds both: the ".." steps that would lead
// there are left out, as zip's "../a.txt" is extracted as "a.txt", so that a
// name never climbs out of where it is extracted and the folders above
// stay out of it. Another drive or share comes back whole.
afp::WideString RelativeTo(const afp::WideString& full, const afp::WideString& base_folder) {
  const afp::WideString common = CommonFolder(full, base_folder);
  if (common.empty()) return full;
  return full.size() > common.size() ? full.substr(common.size()) : afp::WideString();
}

}  // namespace

afp::WideString CommonFolder(const afp::WideString& a, const afp::WideString& b) {
  const std::vector<afp::WideString> x = Segments(a), y = Segments(b);
  if (NameKey(x[0]) != NameKey(y[0])) return afp::WideString();
  afp::WideString out = x[0] + u'\\';
  for (size_t i = 1; i < x.size() && i < y.size() && NameKey(x[i]) == NameKey(y[i]); ++i) out += x[i] + u'\\';
  return out;
}

afp::WideString ExpandFileName(const afp::WideString& path) {
  afp::WideString s = paths::Backslashed(path);
  if (!paths::IsAbsolute(s)) s = paths::Backslashed(afp::GetCurrentDir()) + u"\\" + s;
  // The root part stays as it is: "X:", "\\server\share" or "\".
  afp::WideString root;
  size_t at = 0;
  if (HasDriveLetter(s)) {
    root = s.substr(0, 2);
    at = 2;
  } else if (s.size() >= 2 && s[0] == u'\\' && s[1] == u'\\') {
    size_t server_end = s.find(u'\\', 2);
    root = s.substr(0, server_end == afp::WideString::npos ? s.size() : server_end);
    at = root.size();
  }
  std::vector<afp::WideString> parts;
  while (at < s.size()) {
    size_t end = s.find(u'\\', at);
    if (end == afp::WideString::npos) end = s.size();
    afp::WideString seg = s.substr(at, end - at);
    if (seg == u"..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!seg.empty() && seg != u".") {
      parts.push_back(seg);
    }
    at = end + 1;
  }
  afp::WideString out = root;
  for (const auto& p : parts) out += u"\\" + p;
  if (out.size() == root.size()) out += u"\\";
  return out;
}

afp::WideString StoredNameForFile(const afp::WideString& source, const afp::WideString& base, TAFStorePathMode mode) {
  afp::WideString base_folder = ExpandFileName(base.empty() ? afp::GetCurrentDir() : base);
  if (base_folder.back() != u'\\') base_folder += u'\\';
  afp::WideString full = ExpandFileName(source);
  if (!full.empty() && full.back() == u'\\') full.pop_back();
  if (!full.empty() && full.back() == u'.') full.pop_back();
  afp::WideString name;
  switch (mode) {
    case spNoPath: name = paths::FilePart(full); break;
    case spRelativePath: name = RelativeTo(full, base_folder); break;
    case spFullPath:
    case spFullPathWithDrive: name = full; break;
  }
  if (mode != spFullPathWithDrive) {
    if (paths::HasDrive(name)) {
      name.erase(0, name.find(u':') + 1);
    } else if (name.size() >= 2 && name[0] == u'\\' && name[1] == u'\\') {
      size_t server_end = name.find(u'\\', 2);
      name.erase(0, server_end == afp::WideString::npos ? name.size() : server_end + 1);
    }
    if (!name.empty() && name[0] == u'\\') name.erase(0, 1);
  }
  return paths::Replace(name, u'\\', u'/');
}

}  // namespace arcfold
