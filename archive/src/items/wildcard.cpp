#include <vector>

#include "arcfold/search.h"
#include "platform/codepage.h"

namespace arcfold {

afp::WideString TInternalSearchRec::MaskString() const {
  size_t n = 0;
  while (n < Mask.size() && Mask[n]) ++n;
  return afp::WideString(Mask.data(), n);
}

// f(i, j): does name[i..] match mask[j..]? A star may take 0..(rest-1)
// characters, and only a final lone star matches an empty rest of the name.
// The table makes the time |name| x |mask| whatever the mask looks like.
bool WildcardMatch(std::u16string_view name, std::u16string_view mask, bool ignore_case) {
  if (mask == u"*.*" || mask == u"*") return true;
  // "*" and a literal tail ("*.zip"), the common shape of type masks: the
  // star takes what precedes the tail, so the name only has to end in it.
  if (mask.size() > 1 && mask[0] == u'*' && mask.find_first_of(u"*?", 1) == std::u16string_view::npos) {
    const std::u16string_view tail = mask.substr(1);
    if (name.size() < tail.size()) return false;
    const std::u16string_view end = name.substr(name.size() - tail.size());
    for (size_t i = 0; i < tail.size(); ++i)
      if (end[i] != tail[i] && !(ignore_case && afp::CharsEqualIgnoreCase(end[i], tail[i]))) return false;
    return true;
  }
  const size_t n = name.size(), m = mask.size();
  // Two columns of the table, reused between calls: matching runs once per
  // item while selecting, and allocation would dominate.
  thread_local std::vector<char> next, cur;
  next.assign(n + 1, 0);
  cur.assign(n + 1, 0);
  // Column m (mask exhausted): only an exhausted name matches.
  for (size_t i = 0; i <= n; ++i) next[i] = (i == n);
  for (size_t j = m; j-- > 0;) {
    const bool lone_final_star = (j == m - 1 && mask[j] == u'*');
    cur[n] = lone_final_star;  // empty name: matches a lone "*" only
    if (lone_final_star) {
      for (size_t i = 0; i < n; ++i) cur[i] = 1;
    } else if (mask[j] == u'*' && mask.substr(j + 1) == u"*.*") {
      // The rest after a star is exactly "*.*", which matches any name on
      // its own: every non-empty rest of the name matches.
      for (size_t i = 0; i < n; ++i) cur[i] = 1;
    } else if (mask[j] == u'*') {
      // OR over k in [i, n-1] of f(k, j+1).
      char acc = 0;
      for (size_t i = n; i-- > 0;) {
        acc = acc || next[i];
        cur[i] = acc;
      }
    } else {
      const char16_t mc = mask[j];
      for (size_t i = 0; i < n; ++i) {
        bool same = mc == u'?' || name[i] == mc || (ignore_case && afp::CharsEqualIgnoreCase(name[i], mc));
        cur[i] = same && next[i + 1];
      }
    }
    std::swap(cur, next);
  }
  return next[0];
}

bool MaskMatch(std::u16string_view name, std::u16string_view mask, bool ignore_case) {
  if (mask.empty()) return false;
  afp::WideString m(mask);
  size_t at = m.find(u"*.*");
  if (at != afp::WideString::npos) m.replace(at, 3, u"*");
  const bool mask_ends_dot = mask.back() == u'.';
  if (mask_ends_dot && !m.empty()) m.pop_back();
  std::u16string_view nm = name;
  if (!nm.empty() && nm.back() == u'.') nm.remove_suffix(1);
  bool result = WildcardMatch(nm, m, ignore_case);
  if (result && mask_ends_dot) {
    size_t sep = name.find_last_of(u"\\:");
    size_t dot = name.rfind(u'.');
    afp::WideString ext;
    if (dot != std::u16string_view::npos && (sep == std::u16string_view::npos || dot > sep))
      ext = afp::WideString(name.substr(dot));
    result = ext.empty() || ext == u".";
  }
  return result;
}

}  // namespace arcfold
