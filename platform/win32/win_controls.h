// What the installer's window and its dialogs share on Windows: the fonts,
// child controls, text measurement and the scale of the display.
#pragma once

#include "windows_api.h"

#include <string>
#include <string_view>

#include "wide_path.h"

namespace afp::win32 {

// The layout's positions, sizes and font heights are given at 96 dots per
// inch and scaled to the display's.
constexpr unsigned kBaseDpi = 96;
// The programs' resource scripts give their icon this id.
constexpr int kProgramIconId = 1;

std::wstring WindowText(HWND h);
// "MS Sans Serif" 8 pt (11 pixels at 96 dpi); the status label's bold face.
// Each is made once per scale.
HFONT UiFont(unsigned dpi = kBaseDpi);
HFONT StatusFont(unsigned dpi = kBaseDpi);
HINSTANCE Instance();
// A child control with the dialog font (or the one given).
HWND Child(HWND parent, const wchar_t* cls, const wchar_t* text, DWORD style, int x, int y, int w, int h, int id,
           DWORD ex_style = 0, HFONT font = UiFont());
// The size text takes in font, wrapped at wrap_width when it is not 0.
SIZE TextSize(HFONT font, const std::wstring& text, int wrap_width = 0);

// The dots per inch of the monitor the window is on (of the system when
// Windows is older than 10 1607 or there is no window yet).
unsigned WindowDpi(HWND window);
// A length at 96 dpi, at dpi.
int Scaled(int length, unsigned dpi);
// The program's icon at the given square size, or the stock one when the
// program has none; the caller destroys it.
HICON ProgramIcon(int side);
// A system icon (IDI_QUESTION, ...) at the given square size.
HICON SystemIcon(const wchar_t* id, int side);

}  // namespace afp::win32
