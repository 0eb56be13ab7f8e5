#include "wide_path.h"

#include "windows_api.h"

namespace afp::win32 {

std::wstring WidePath(std::u16string_view path) {
  std::wstring p(reinterpret_cast<const wchar_t*>(path.data()), path.size());
  for (auto& c : p)
    if (c == L'/') c = L'\\';
  const bool drive_absolute = p.size() > 2 && p[1] == L':' && p[2] == L'\\';
  const bool unc = p.size() > 2 && p[0] == L'\\' && p[1] == L'\\' && p[2] != L'?';
  if (p.size() >= MAX_PATH && drive_absolute) return L"\\\\?\\" + p;
  if (p.size() >= MAX_PATH && unc) return L"\\\\?\\UNC\\" + p.substr(2);
  return p;
}

std::wstring Wide(std::string_view utf8) {
  const WideString w = FromUtf8(utf8);
  return std::wstring(w.begin(), w.end());
}

std::string Utf8(const std::wstring& w) { return ToUtf8(FromWide(w)); }

std::string ErrorText(unsigned long code) {
  wchar_t* text = nullptr;
  DWORD n =
      ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
  std::string out;
  if (n && text) {
    while (n && (text[n - 1] == L'\r' || text[n - 1] == L'\n' || text[n - 1] == L'.')) --n;
    out = ToUtf8(FromWide(text, n));
  }
  if (text) ::LocalFree(text);
  return out.empty() ? "error " + std::to_string(code) : out;
}

}  // namespace afp::win32
