// What the installer's window and its dialogs share on Windows: the fonts,
// child controls and text measurement.
#pragma once

#include <string>
#include <string_view>

#include "wide_path.h"
#include "windows_api.h"

namespace afp::win32 {

std::wstring WindowText(HWND h);
// "MS Sans Serif" 8 pt (11 pixels at 96 dpi); the status label's bold face.
HFONT UiFont();
HFONT StatusFont();
HINSTANCE Instance();
// A child control with the dialog font (or the one given).
HWND Child(HWND parent, const wchar_t* cls, const wchar_t* text, DWORD style, int x, int y, int w, int h, int id,
           DWORD ex_style = 0, HFONT font = UiFont());
// The size text takes in font, wrapped at wrap_width when it is not 0.
SIZE TextSize(HFONT font, const std::wstring& text, int wrap_width = 0);

}  // namespace afp::win32
