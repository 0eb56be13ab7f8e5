#include "win_controls.h"

#include <map>
#include <tuple>

#include "wide_path.h"

namespace afp::win32 {

namespace {

// "MS Sans Serif" of the given pixel height at 96 dpi, made once per scale.
HFONT SansSerif(int height, int weight, unsigned dpi) {
  static std::map<std::tuple<int, int, unsigned>, HFONT> made;
  HFONT& f = made[{height, weight, dpi}];
  if (!f)
    f = ::CreateFontW(-Scaled(height, dpi), 0, 0, 0, weight, 0, 0, 0, DEFAULT_CHARSET, 0, 0, DEFAULT_QUALITY,
                      DEFAULT_PITCH | FF_SWISS, L"MS Sans Serif");
  return f;
}

// A function that older Windows lack (or an import library), or null.
template <typename Function>
Function LoadedFunction(const wchar_t* module, const char* name) {
  HMODULE loaded = ::GetModuleHandleW(module);
  const FARPROC found = loaded ? ::GetProcAddress(loaded, name) : nullptr;
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(found));
}

// An icon of module (null: the system's) drawn for side x side: scaled
// down from a larger image where Common Controls 6 can, else the nearest.
HICON IconAtSize(HINSTANCE module, const wchar_t* id, int side) {
  using LoadIconWithScaleDownFunction = HRESULT(WINAPI*)(HINSTANCE, PCWSTR, int, int, HICON*);
  static const auto scale_down =
      LoadedFunction<LoadIconWithScaleDownFunction>(L"comctl32.dll", "LoadIconWithScaleDown");
  HICON icon = nullptr;
  if (scale_down && SUCCEEDED(scale_down(module, id, side, side, &icon))) return icon;
  if (module) return static_cast<HICON>(::LoadImageW(module, id, IMAGE_ICON, side, side, 0));
  return ::CopyIcon(::LoadIconW(nullptr, id));
}

}  // namespace

std::wstring WindowText(HWND h) {
  std::wstring text(static_cast<size_t>(::GetWindowTextLengthW(h)) + 1, L'\0');
  text.resize(static_cast<size_t>(::GetWindowTextW(h, text.data(), static_cast<int>(text.size()))));
  return text;
}

HFONT UiFont(unsigned dpi) { return SansSerif(11, FW_NORMAL, dpi); }

HFONT StatusFont(unsigned dpi) { return SansSerif(16, FW_BOLD, dpi); }

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

unsigned WindowDpi(HWND window) {
  // GetDpiForWindow came with Windows 10 1607: looked up, so that the
  // program still starts on Windows 7.
  using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
  static const auto for_window = LoadedFunction<GetDpiForWindowFunction>(L"user32.dll", "GetDpiForWindow");
  if (for_window && window) {
    if (const UINT dpi = for_window(window)) return dpi;
  }
  HDC dc = ::GetDC(nullptr);
  const int dpi = ::GetDeviceCaps(dc, LOGPIXELSY);
  ::ReleaseDC(nullptr, dc);
  return dpi > 0 ? static_cast<unsigned>(dpi) : kBaseDpi;
}

int Scaled(int length, unsigned dpi) { return ::MulDiv(length, static_cast<int>(dpi), static_cast<int>(kBaseDpi)); }

HICON ProgramIcon(int side) {
  if (HICON icon = IconAtSize(Instance(), MAKEINTRESOURCEW(kProgramIconId), side)) return icon;
  return SystemIcon(IDI_APPLICATION, side);
}

HICON SystemIcon(const wchar_t* id, int side) { return IconAtSize(nullptr, id, side); }

}  // namespace afp::win32
