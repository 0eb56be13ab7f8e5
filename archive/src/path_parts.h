// Splitting Windows-shaped item paths (internal to the library).
#pragma once

#include <algorithm>

#include "platform/wide.h"

namespace arcfold::paths {

// The text with every `from` turned into `to` ("/" <-> "\").
inline afp::WideString Replace(afp::WideString s, char16_t from, char16_t to) {
  std::replace(s.begin(), s.end(), from, to);
  return s;
}

// Item names as handlers see them: "\" separators.
inline afp::WideString Backslashed(afp::WideString s) { return Replace(std::move(s), u'/', u'\\'); }

// Text up to and including the last "\" or ":".
inline afp::WideString FolderPart(const afp::WideString& s) {
  size_t cut = s.find_last_of(u"\\:");
  return cut == afp::WideString::npos ? afp::WideString() : s.substr(0, cut + 1);
}

// Text after the last "\" or ":".
inline afp::WideString FilePart(const afp::WideString& s) {
  size_t cut = s.find_last_of(u"\\:");
  return cut == afp::WideString::npos ? s : s.substr(cut + 1);
}

}  // namespace arcfold::paths
