#include "win_controls.h"

#include "wide_path.h"

namespace afp::win32 {

std::wstring WindowText(HWND h) {
  std::wstring text(static_cast<size_t>(::GetWindowTextLengthW(h)) + 1, L'\0');
  text.resize(static_cast<size_t>(::GetWindowTextW(h, text.data(), static_cast<int>(text.size()))));
  return text;
}

HFONT UiFont() {
  static HFONT f = ::CreateFontW(-11, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, DEFAULT_QUALITY,
                                 DEFAULT_PITCH | FF_SWISS, L"MS Sans Serif");
  return f;
}

HFONT StatusFont() {
  static HFONT f = ::CreateFontW(-16, 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, 0, 0, DEFAULT_QUALITY,
                                 DEFAULT_PITCH | FF_SWISS, L"MS Sans Serif");
  return f;
}

HINSTANCE Instance() { return ::GetModuleHandleW(nullptr); }

HWND Child(HWND parent, const wchar_t* cls, const wchar_t* text, DWORD style, int x, int y, int w, int h, int id,
           DWORD ex_style, HFONT font) {
  HWND c = ::CreateWindowExW(ex_style, cls, text, WS_CHILD | style, x, y, w, h, parent,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), Instance(), nullptr);
  ::SendMessageW(c, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  return c;
}

SIZE TextSize(HFONT font, const std::wstring& text, int wrap_width) {
  HDC dc = ::GetDC(nullptr);
  HGDIOBJ old = ::SelectObject(dc, font);
  RECT r{0, 0, wrap_width ? wrap_width : 10000, 0};
  ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &r,
              DT_CALCRECT | DT_NOPREFIX | (wrap_width ? DT_WORDBREAK : 0));
  ::SelectObject(dc, old);
  ::ReleaseDC(nullptr, dc);
  return SIZE{r.right - r.left, r.bottom - r.top};
}

}  // namespace afp::win32
