#include "platform/codepage.h"

#include <iconv.h>
#include <locale.h>
#include <wctype.h>

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

}  // namespace afp
