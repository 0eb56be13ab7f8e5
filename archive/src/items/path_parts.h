// Splitting Windows-shaped item paths (internal to the library).
#pragma once

#include <algorithm>

#include "platform/files.h"
#include "platform/wide.h"

namespace arcfold::paths {

// The text with every `from` turned into `to` ("/" <-> "\").
inline afp::WideString Replace(afp::WideString s, char16_t from, char16_t to) {
  std::replace(s.begin(), s.end(), from, to);
  return s;
}

// Item names as handlers see them: "\" separators.
inline afp::WideString Backslashed(afp::WideString s) { return Replace(std::move(s), u'/', u'\\'); }

// What ends a folder part: "\" and, where a path may begin with a drive, ":".
inline constexpr const char16_t* kFolderEnds = afp::kDriveLetters ? u"\\:" : u"\\";

// Whether the path names a drive: anything up to a ":" is one where the
// system has drives; elsewhere ":" is a character of a file name and a name
// like "C:\x" is a folder "C:" like any other.
inline bool HasDrive(const afp::WideString& s) { return afp::kDriveLetters && s.find(u':') != afp::WideString::npos; }

// Whether the path is taken from a root of its own ("\x", a share, or a
// drive where the system has drives), not below the folder it is used in.
inline bool IsAbsolute(const afp::WideString& s) { return (!s.empty() && s[0] == u'\\') || HasDrive(s); }

// Text up to and including the last "\" (or drive ":").
inline afp::WideString FolderPart(const afp::WideString& s) {
  size_t cut = s.find_last_of(kFolderEnds);
  return cut == afp::WideString::npos ? afp::WideString() : s.substr(0, cut + 1);
}

// Text after the last "\" (or drive ":").
inline afp::WideString FilePart(const afp::WideString& s) {
  size_t cut = s.find_last_of(kFolderEnds);
  return cut == afp::WideString::npos ? s : s.substr(cut + 1);
}

// The name with empty and "." segments left out ("a\\.\b" -> "a\b"); a
// trailing "\" stays, so a folder entry still reads as one.
inline afp::WideString CollapseSegments(const afp::WideString& s) {
  afp::WideString out;
  out.reserve(s.size());
  size_t start = 0;
  while (start < s.size()) {
    size_t end = s.find(u'\\', start);
    if (end == afp::WideString::npos) end = s.size();
    size_t len = end - start;
    if (len != 0 && !(len == 1 && s[start] == u'.')) {
      if (!out.empty()) out += u'\\';
      out.append(s, start, len);
    }
    start = end + 1;
  }
  if (!out.empty() && !s.empty() && s.back() == u'\\') out += u'\\';
  return out;
}

// A character no file of ours may carry in its name: NUL cuts the name
// short in the system's calls, and the other control characters are not
// allowed on Windows and turn a listing into terminal commands.
inline bool HasControlCharacter(const afp::WideString& s) {
  return std::any_of(s.begin(), s.end(), [](char16_t c) { return c < 0x20 || c == 0x7F; });
}

}  // namespace arcfold::paths
