// Names as the wide Windows calls take them.
#pragma once

#include <string>
#include <string_view>

#include "platform/wide.h"

namespace afp::win32 {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide characters are UTF-16 units");

// Either separator becomes "\"; an absolute path longer than the classic
// limit gets the "\\?\" prefix so that deep trees still work.
std::wstring WidePath(std::u16string_view path);

inline WideString FromWide(const wchar_t* s, size_t n) { return WideString(reinterpret_cast<const char16_t*>(s), n); }
inline WideString FromWide(const std::wstring& s) { return FromWide(s.data(), s.size()); }
// UTF-8 text (as the installer and the tool keep it) for the wide calls, and back.
std::wstring Wide(std::string_view utf8);
std::string Utf8(const std::wstring& w);

// The system's text for an error code, in UTF-8.
std::string ErrorText(unsigned long code);

}  // namespace afp::win32
