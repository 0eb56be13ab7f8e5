#include "shown.h"

#include <fmt/format.h>

#include "platform/files.h"

namespace arcfold_cli {

std::string Printable(const std::string& utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    if (c < 0x20 || c == 0x7F) {
      out += fmt::format("\\x{:02x}", c);
    } else if (c == 0xC2 && i + 1 < utf8.size() && static_cast<unsigned char>(utf8[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(utf8[i + 1]) <= 0x9F) {
      out += fmt::format("\\u{:04x}", static_cast<unsigned char>(utf8[++i]));
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string ShownName(const afp::WideString& name) {
  std::string s = afp::ToUtf8(name);
  for (auto& c : s)
    if (c == '\\') c = '/';
  return Printable(s);
}

std::string ShownPath(const std::string& utf8) {
  std::string s = utf8;
  for (auto& c : s)
    if (c == '\\' || c == '/') c = afp::kPathSeparator;
  return Printable(s);
}

std::string ShownPath(const afp::WideString& name) { return ShownPath(afp::ToUtf8(name)); }

}  // namespace arcfold_cli
