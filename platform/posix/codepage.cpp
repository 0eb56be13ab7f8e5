#include "platform/codepage.h"

#include <iconv.h>
#include <locale.h>
#include <wctype.h>

#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>

namespace afp {

namespace {

std::string IconvName(int number) { return "CP" + std::to_string(number); }

locale_t Utf8Locale() {
  static locale_t loc = [] {
    locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    return l ? l : newlocale(LC_CTYPE_MASK, "C", static_cast<locale_t>(nullptr));
  }();
  return loc;
}

}  // namespace

CodePage::CodePage(int number) : number_(number) {
  iconv_t cd = iconv_open("UTF-16LE", IconvName(number).c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) throw std::invalid_argument("unknown code page " + std::to_string(number));
  for (int b = 0; b < 256; ++b) {
    char in = static_cast<char>(b);
    char out[8];
    char* ip = &in;
    char* op = out;
    size_t il = 1, ol = sizeof out;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char16_t w = static_cast<char16_t>(b);  // bytes the page leaves undefined pass through as Windows does
    if (iconv(cd, &ip, &il, &op, &ol) != static_cast<size_t>(-1) && ol == sizeof out - 2)
      w = static_cast<char16_t>(static_cast<unsigned char>(out[0]) | (static_cast<unsigned char>(out[1]) << 8));
    to_wide_[b] = w;
  }
  iconv_close(cd);
  for (int b = 255; b >= 0; --b) from_wide_[to_wide_[b]] = static_cast<unsigned char>(b);
}

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

CodePagePair DefaultCodePages() { return CodePagePair{}; }

char16_t CharLower(char16_t c) {
  if (c < 0x80) return (c >= 'A' && c <= 'Z') ? c + 32 : c;
  if (c >= 0xD800 && c <= 0xDFFF) return c;
  wint_t r = towlower_l(c, Utf8Locale());
  return r <= 0xFFFF ? static_cast<char16_t>(r) : c;
}

char16_t CharUpper(char16_t c) {
  if (c < 0x80) return (c >= 'a' && c <= 'z') ? c - 32 : c;
  if (c >= 0xD800 && c <= 0xDFFF) return c;
  wint_t r = towupper_l(c, Utf8Locale());
  return r <= 0xFFFF ? static_cast<char16_t>(r) : c;
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
