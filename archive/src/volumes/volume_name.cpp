#include "volumes/volume_name.h"

#include <fmt/format.h>

#include "platform/files.h"

namespace arcfold {

namespace {

struct TNameParts {
  afp::WideString folder, base, ext;
};

// Folder up to and including the last "\", "/" or ":"; Ext from the last
// "." of the name part, dot included; Base the rest of the name part.
TNameParts Split(const afp::WideString& name) {
  TNameParts p;
  size_t cut = name.find_last_of(u"\\/:");
  p.folder = cut == afp::WideString::npos ? afp::WideString() : name.substr(0, cut + 1);
  afp::WideString rest = cut == afp::WideString::npos ? name : name.substr(cut + 1);
  size_t dot = rest.find_last_of(u'.');
  p.base = dot == afp::WideString::npos ? rest : rest.substr(0, dot);
  p.ext = dot == afp::WideString::npos ? afp::WideString() : rest.substr(dot);
  return p;
}

afp::WideString Numbered(int one_based) { return afp::FromUtf8(fmt::format("{:03}", one_based)); }

afp::WideString Lowered(afp::WideString s) {
  for (auto& c : s)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
  return s;
}

}  // namespace

bool HasExeExtension(const afp::WideString& file_name) { return Lowered(Split(file_name).ext) == u".exe"; }

bool MentionsExe(const afp::WideString& file_name) { return Lowered(file_name).find(u".exe") != afp::WideString::npos; }

afp::WideString VolumeName(const afp::WideString& file_name, int index, const TVolumeNaming& naming) {
  const TNameParts p = Split(file_name);
  const bool own_format = naming.method >= 252;
  if (index == -1) {
    if (naming.sfx && naming.mode == smSplitting) return p.folder + p.base + (own_format ? u".AF" : u".ZIP");
    return file_name;
  }
  if (naming.mode == smSpanning) {
    const afp::WideString ext = naming.sfx ? afp::WideString(u".exe") : p.ext;
    if (naming.advanced) return p.folder + p.base + u"_" + Numbered(index + 1) + ext;
    return p.folder + p.base + ext;
  }
  if (naming.mode == smSplitting) {
    if (index == 0 && naming.sfx) return p.folder + p.base + u".exe";
    if (naming.advanced) return p.folder + p.base + u"_" + Numbered(index + 1) + p.ext;
    char16_t letter = own_format ? u'F' : u'Z';
    if (afp::kCaseSensitiveNames) letter = static_cast<char16_t>(letter + 32);
    return p.folder + p.base + u"." + letter + afp::FromUtf8(fmt::format("{:02}", index + 1));
  }
  return file_name;
}

}  // namespace arcfold
