#include "items/stored_name.h"

#include <string_view>

#include "arcfold/dir_array.h"
#include "items/path_parts.h"
#include "platform/files.h"

namespace arcfold {

namespace {

bool HasDriveLetter(const afp::WideString& s) { return afp::kDriveLetters && s.size() >= 2 && s[1] == u':'; }

// The "\"-separated segments of an expanded path one by one, as views into
// it, without empty ones after the first; the first is its root ("C:",
// "\\server" or empty). Two paths are read in step without allocating.
class SegmentWalk {
 public:
  explicit SegmentWalk(std::u16string_view path) : path_(path) {}
  // The next segment into segment; false when none is left.
  bool Next(std::u16string_view& segment) {
    constexpr size_t kEnd = std::u16string_view::npos;
    while (start_ != kEnd) {
      size_t end = path_.find(u'\\', start_);
      if (end == 0 && path_.size() > 1 && path_[1] == u'\\') end = path_.find(u'\\', 2);  // "\\server"
      segment = path_.substr(start_, end == kEnd ? kEnd : end - start_);
      const bool root = start_ == 0;
      start_ = end == kEnd ? kEnd : end + 1;
      if (root || !segment.empty()) return true;
    }
    return false;
  }

 private:
  std::u16string_view path_;
  size_t start_ = 0;
};

// Whether two folder names are one as the system compares them; the same
// text always is, and most names of one walk are, without building keys.
bool SameFolderName(std::u16string_view a, std::u16string_view b) { return a == b || NameKey(a) == NameKey(b); }

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
  SegmentWalk x(a), y(b);
  std::u16string_view from_a, from_b;
  x.Next(from_a);  // the roots: every path has one
  y.Next(from_b);
  if (!SameFolderName(from_a, from_b)) return afp::WideString();
  afp::WideString out;
  out.reserve(a.size() + 1);
  out += from_a;
  out += u'\\';
  while (x.Next(from_a) && y.Next(from_b) && SameFolderName(from_a, from_b)) {
    out += from_a;
    out += u'\\';
  }
  return out;
}

afp::WideString ExpandFileName(const afp::WideString& path) {
  afp::WideString s = paths::Backslashed(path);
  if (!paths::IsAbsolute(s)) s = paths::Backslashed(afp::GetCurrentDir()) + u"\\" + s;
  // The root part stays as it is: "X:", "\\server\share" or "\".
  size_t at = 0;
  if (HasDriveLetter(s)) {
    at = 2;
  } else if (s.size() >= 2 && s[0] == u'\\' && s[1] == u'\\') {
    const size_t server_end = s.find(u'\\', 2);
    at = server_end == afp::WideString::npos ? s.size() : server_end;
  }
  // Each segment kept is appended behind a "\"; ".." cuts the last one off.
  afp::WideString out;
  out.reserve(s.size() + 1);  // segments only ever shorten it: no regrowth
  out.assign(s, 0, at);
  const size_t root = out.size();
  while (at < s.size()) {
    size_t end = s.find(u'\\', at);
    if (end == afp::WideString::npos) end = s.size();
    const std::u16string_view segment(s.data() + at, end - at);
    if (segment == u"..") {
      if (out.size() > root) out.resize(out.rfind(u'\\'));
    } else if (!segment.empty() && segment != u".") {
      out += u'\\';
      out += segment;
    }
    at = end + 1;
  }
  if (out.size() == root) out += u"\\";
  return out;
}

afp::WideString StoredNameForFile(const afp::WideString& source, const afp::WideString& base, TAFStorePathMode mode) {
  afp::WideString base_folder = ExpandFileName(base.empty() ? afp::GetCurrentDir() : base);
  if (base_folder.back() != u'\\') base_folder += u'\\';
  return StoredNameUnder(source, base_folder, mode);
}

afp::WideString StoredNameUnder(const afp::WideString& source, const afp::WideString& base_folder,
                                TAFStorePathMode mode) {
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
