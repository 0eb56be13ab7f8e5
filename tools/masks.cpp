#include "masks.h"

#include "arcfold/search.h"
#include "platform/files.h"

namespace arcfold_cli {

NameMasks::NameMasks(const std::vector<std::string>& masks) {
  for (const auto& given : masks) {
    afp::WideString text = afp::FromUtf8(given);
    for (auto& c : text)
      if (c == u'\\') c = u'/';
    Mask m;
    m.whole_path = text.find(u'/') != afp::WideString::npos;
    m.folders_only = !text.empty() && text.back() == u'/';
    // Stored names start at the archive's root and folder items end in "/":
    // neither a leading "./" or "/" nor the trailing "/" take part in matching.
    while (!text.empty() && text.back() == u'/') text.pop_back();
    while (text.rfind(u"./", 0) == 0) text.erase(0, 2);
    while (!text.empty() && text.front() == u'/') text.erase(0, 1);
    if (text.empty()) continue;
    m.text = std::move(text);
    masks_.push_back(std::move(m));
  }
}

bool NameMasks::Selects(const afp::WideString& name) const {
  if (masks_.empty()) return false;
  afp::WideString path = name;
  for (auto& c : path)
    if (c == u'\\') c = u'/';
  const bool is_folder = !path.empty() && path.back() == u'/';
  while (!path.empty() && path.back() == u'/') path.pop_back();
  // Each folder that holds the item, from the root down, then the item:
  // "a/b/c" is tried as "a", "a/b" and "a/b/c".
  size_t part_start = 0;
  while (part_start <= path.size()) {
    size_t part_end = path.find(u'/', part_start);
    const bool last = part_end == afp::WideString::npos;
    if (last) part_end = path.size();
    const std::u16string_view prefix(path.data(), part_end);
    const std::u16string_view part(path.data() + part_start, part_end - part_start);
    for (const auto& m : masks_) {
      if (m.folders_only && last && !is_folder) continue;
      // Two names that differ in case are two files where the system says so,
      // so a mask for one must not select the other.
      if (arcfold::MaskMatch(m.whole_path ? prefix : part, m.text, !afp::kCaseSensitiveNames)) return true;
    }
    if (last) break;
    part_start = part_end + 1;
  }
  return false;
}

}  // namespace arcfold_cli
