// What the code pages and case services share on every system: the tables
// are filled by the system's own converter, used the same way everywhere.
#include "platform/codepage.h"

#include <map>
#include <memory>
#include <mutex>

namespace afp {

const CodePage& CodePage::Get(int number) {
  static std::mutex mu;
  static std::map<int, std::unique_ptr<CodePage>> pages;
  std::lock_guard<std::mutex> lock(mu);
  auto& slot = pages[number];
  if (!slot) {
    try {
      slot.reset(new CodePage(number));
    } catch (...) {
      pages.erase(number);
      throw;
    }
  }
  return *slot;
}

bool CodePage::FromWide(char16_t c, char& out) const {
  unsigned char b = from_wide_[c];
  if (b == 0 && c != 0) {
    out = '?';
    return false;
  }
  out = static_cast<char>(b);
  return true;
}

WideString CodePage::Decode(std::string_view bytes) const {
  WideString out(bytes.size(), u'\0');
  for (size_t i = 0; i < bytes.size(); ++i) out[i] = to_wide_[static_cast<unsigned char>(bytes[i])];
  return out;
}

std::string CodePage::Encode(std::u16string_view s, bool* lossless) const {
  std::string out(s.size(), '\0');
  bool ok = true;
  for (size_t i = 0; i < s.size(); ++i) ok &= FromWide(s[i], out[i]);
  if (lossless) *lossless = ok;
  return out;
}

std::string CodePagePair::OemToAnsi(std::string_view bytes) const {
  return CodePage::Get(ansi).Encode(CodePage::Get(oem).Decode(bytes));
}

std::string CodePagePair::AnsiToOem(std::string_view bytes) const {
  return CodePage::Get(oem).Encode(CodePage::Get(ansi).Decode(bytes));
}

WideString LowerCase(std::u16string_view s) {
  WideString out(s);
  for (auto& c : out) c = CharLower(c);
  return out;
}

WideString UpperCase(std::u16string_view s) {
  WideString out(s);
  for (auto& c : out) c = CharUpper(c);
  return out;
}

bool CharsEqualIgnoreCase(char16_t a, char16_t b) { return a == b || CharUpper(a) == CharUpper(b); }

}  // namespace afp
