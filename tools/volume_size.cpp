#include "volume_size.h"

#include <cctype>
#include <cstdlib>

#include "platform/files.h"
#include "platform/wide.h"

namespace arcfold_cli {

std::optional<VolumeSizeChoice> ParseVolumeSize(const std::string& text) {
  std::string t;
  for (char c : text) t += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  // Media sizes are their own, not the arithmetic of their names: a
  // "1.44m" floppy holds 1457664 bytes, a "4.7g" DVD 4700 MiB.
  static const std::pair<const char*, arcfold::TAFVolumeSize> kNamed[] = {{"1.44m", arcfold::vs1_44MB},
                                                                          {"100m", arcfold::vs100MB},
                                                                          {"650m", arcfold::vs650MB},
                                                                          {"700m", arcfold::vs700MB},
                                                                          {"4.7g", arcfold::vs4700MB}};
  for (const auto& [name, kind] : kNamed)
    if (t == name) return VolumeSizeChoice{kind, 0};
  if (t.empty() || !std::isdigit(static_cast<unsigned char>(t[0]))) return std::nullopt;
  char* end = nullptr;
  const double number = std::strtod(t.c_str(), &end);
  std::string unit(end);
  double scale = 1;
  if (unit == "k" || unit == "kb")
    scale = 1024.0;
  else if (unit == "m" || unit == "mb")
    scale = 1024.0 * 1024;
  else if (unit == "g" || unit == "gb")
    scale = 1024.0 * 1024 * 1024;
  else if (!unit.empty() && unit != "b")
    return std::nullopt;
  const double bytes = number * scale;
  if (bytes < 1 || bytes > 9.0e18) return std::nullopt;
  return VolumeSizeChoice{arcfold::vsCustom, static_cast<int64_t>(bytes)};
}

std::string LastVolumeOf(const std::string& name, bool& numbered_split) {
  numbered_split = false;
  const size_t slash = name.find_last_of("/\\");
  const size_t dot = name.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return std::string();
  const std::string ext = name.substr(dot + 1);
  auto digits = [](const std::string& s) {
    if (s.empty()) return false;
    for (char c : s)
      if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    return true;
  };
  std::string last;
  if (ext.size() >= 3 && (ext[0] == 'z' || ext[0] == 'Z') && digits(ext.substr(1))) {
    numbered_split = true;
    last = name.substr(0, dot) + ".zip";
  } else {
    const std::string stem = name.substr(0, dot);
    const size_t under = stem.find_last_of('_');
    if (under == std::string::npos || stem.size() - under - 1 != 3 || !digits(stem.substr(under + 1)))
      return std::string();
    last = stem.substr(0, under) + name.substr(dot);
  }
  const std::string spelt = afp::ToUtf8(afp::ExistingSpelling(afp::FromUtf8(last)));
  return afp::FileExists(afp::FromUtf8(spelt)) && spelt != name ? spelt : std::string();
}

}  // namespace arcfold_cli
