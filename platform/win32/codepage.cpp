#include "platform/codepage.h"

#include "windows_api.h"

#include <memory>
#include <stdexcept>
#include <string>

namespace afp {

CodePage::CodePage(int number) : number_(number) {
  CPINFO info{};
  if (!::GetCPInfo(static_cast<UINT>(number), &info) || info.MaxCharSize != 1)
    throw std::invalid_argument("unknown code page " + std::to_string(number));
  for (int b = 0; b < 256; ++b) {
    const char in = static_cast<char>(b);
    wchar_t w = static_cast<wchar_t>(b);  // bytes the page leaves undefined pass through
    wchar_t out = 0;
    if (::MultiByteToWideChar(static_cast<UINT>(number), MB_ERR_INVALID_CHARS, &in, 1, &out, 1) == 1) w = out;
    to_wide_[b] = static_cast<char16_t>(w);
  }
  for (int b = 255; b >= 0; --b) from_wide_[to_wide_[b]] = static_cast<unsigned char>(b);
}

// The system's own pages: a Hungarian Windows reads 1250/852 names without
// being told. A multi-byte system page (Far East) is not one a ZIP name can
// be read in byte by byte, so the Western pair stands in.
CodePagePair DefaultCodePages() {
  CodePagePair pair;
  CPINFO info{};
  if (::GetCPInfo(::GetACP(), &info) && info.MaxCharSize == 1) pair.ansi = static_cast<int>(::GetACP());
  if (::GetCPInfo(::GetOEMCP(), &info) && info.MaxCharSize == 1) pair.oem = static_cast<int>(::GetOEMCP());
  return pair;
}

namespace {

// The user's case mapping of every UTF-16 unit, read once from the system:
// names and masks compare many characters, one call each would be slow.
struct CaseTables {
  std::unique_ptr<char16_t[]> lower{new char16_t[65536]};
  std::unique_ptr<char16_t[]> upper{new char16_t[65536]};
  CaseTables() {
    for (uint32_t c = 0; c < 65536; ++c) lower[c] = upper[c] = static_cast<char16_t>(c);
    // Surrogates are left alone: they are halves, not characters.
    for (uint32_t c = 0xD800; c < 0xE000; ++c) lower[c] = upper[c] = 0;
    ::CharLowerBuffW(reinterpret_cast<LPWSTR>(lower.get()), 65536);
    ::CharUpperBuffW(reinterpret_cast<LPWSTR>(upper.get()), 65536);
    for (uint32_t c = 0xD800; c < 0xE000; ++c) lower[c] = upper[c] = static_cast<char16_t>(c);
    lower[0] = upper[0] = 0;
  }
};

const CaseTables& Tables() {
  static const CaseTables tables;
  return tables;
}

}  // namespace

char16_t CharLower(char16_t c) { return Tables().lower[c]; }
char16_t CharUpper(char16_t c) { return Tables().upper[c]; }

}  // namespace afp
