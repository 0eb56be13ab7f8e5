#include "items/stored_name.h"

#include <vector>

#include "items/path_parts.h"
#include "platform/files.h"

namespace arcfold {

namespace {

bool IsAbsolute(const afp::WideString& s) {
  return (!s.empty() && s[0] == u'\\') || (s.size() >= 2 && s[1] == u':');
}

}  // namespace

afp::WideString ExpandFileName(const afp::WideString& path) {
  afp::WideString s = paths::Backslashed(path);
  if (!IsAbsolute(s)) s = paths::Backslashed(afp::GetCurrentDir()) + u"\\" + s;
  // The root part stays as it is: "X:", "\\server\share" or "\".
  afp::WideString root;
  size_t at = 0;
  if (s.size() >= 2 && s[1] == u':') {
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
    case spRelativePath:
      name = full.compare(0, base_folder.size(), base_folder) == 0 ? full.substr(base_folder.size()) : full;
      break;
    case spFullPath:
    case spFullPathWithDrive: name = full; break;
  }
  if (mode != spFullPathWithDrive) {
    size_t colon = name.find(u':');
    if (colon != afp::WideString::npos) {
      name.erase(0, colon + 1);
    } else if (name.size() >= 2 && name[0] == u'\\' && name[1] == u'\\') {
      size_t server_end = name.find(u'\\', 2);
      name.erase(0, server_end == afp::WideString::npos ? name.size() : server_end + 1);
    }
    if (!name.empty() && name[0] == u'\\') name.erase(0, 1);
  }
  return paths::Replace(name, u'\\', u'/');
}

}  // namespace arcfold
