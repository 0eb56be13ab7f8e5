#include "platform/win32/setup_window.h"

#include "windows_api.h"
#include <commctrl.h>
#include <commdlg.h>
#include <shlobj.h>

#include <algorithm>

#include "platform/files.h"
#include "wide_path.h"
#include "win_controls.h"

namespace afp::win32 {

namespace {

// A folder for the speed button, on the button's face colour: drawn on 16x16
// and enlarged pixel by pixel to side x side for a larger scale.
HBITMAP FolderGlyph(int side) {
  static const char* const rows[16] = {"                ", "                ", "  .....         ", " .+++++.        ",
                                       " .++++++......  ", " .@@@@@@@@@@@@. ", " .++++++++++++. ", " .++++++++++++. ",
                                       " .++++++++++++. ", " .++++++++++++. ", " .++++++++++++. ", " .++++++++++++. ",
                                       " .++++++++++++. ", " ..............",  "                ", "                "};
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = side;
  bi.bmiHeader.biHeight = -side;  // top-down
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bmp = ::CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!bmp) return nullptr;
  const COLORREF face = ::GetSysColor(COLOR_BTNFACE);
  auto bgr = [](COLORREF c) {
    return static_cast<uint32_t>((GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c));
  };
  auto* px = static_cast<uint32_t*>(bits);
  for (int y = 0; y < side; ++y)
    for (int x = 0; x < side; ++x) {
      const char c = rows[y * 16 / side][x * 16 / side];
      px[y * side + x] = c == '.' ? 0x000000 : c == '+' ? 0xF0D060 : c == '@' ? 0xC8A030 : bgr(face);
    }
  return bmp;
}

// Where the window and its controls sit at 96 dpi. Panel children are at
// their panel offsets plus the panel's (8, 8).
struct Placement {
  int x, y, w, h;
};
constexpr Placement kWindowAt{473, 228, 535, 160};
constexpr Placement kPanelAt{8, 8, 497, 97};
constexpr Placement kEditAt{24, 36, 313, 21};
constexpr Placement kFolderAt{360, 32, 23, 22};
constexpr Placement kInstallAt{408, 32, 75, 57};
constexpr Placement kLabelAt{24, 72, 57, 20};
constexpr int kGlyphSide = 16;
constexpr int kSmallIconSide = 16, kLargeIconSide = 32;
// The auto-sized label's room beside its text.
constexpr int kLabelSlack = 4;

}  // namespace

enum ControlId { kEditId = 1, kFolderId = 2, kInstallId = 3, kLabelId = 4 };

struct SetupWindow::Controls {
  HWND window = nullptr, edit = nullptr, label = nullptr, folder = nullptr, install = nullptr;
  HBITMAP glyph = nullptr;
  HICON small_icon = nullptr, large_icon = nullptr;
  unsigned dpi = kBaseDpi;  // what the layout is scaled to
  std::function<void()> on_folder, on_install;
};

namespace {

using Controls = SetupWindow::Controls;

void Place(HWND control, const Placement& at, unsigned dpi) {
  ::SetWindowPos(control, nullptr, Scaled(at.x, dpi), Scaled(at.y, dpi), Scaled(at.w, dpi), Scaled(at.h, dpi),
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

// The status label grows with its text, from its laid-out size on.
void FitStatusLabel(const Controls& c) {
  const SIZE s = TextSize(StatusFont(c.dpi), WindowText(c.label));
  ::SetWindowPos(c.label, nullptr, 0, 0, std::max<int>(s.cx + Scaled(kLabelSlack, c.dpi), Scaled(kLabelAt.w, c.dpi)),
                 std::max<int>(s.cy, Scaled(kLabelAt.h, c.dpi)), SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// The icon of the caption and the taskbar, at the scale's sizes.
void SetWindowIcons(Controls& c) {
  HICON small_icon = ProgramIcon(Scaled(kSmallIconSide, c.dpi));
  HICON large_icon = ProgramIcon(Scaled(kLargeIconSide, c.dpi));
  ::SendMessageW(c.window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small_icon));
  ::SendMessageW(c.window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(large_icon));
  if (c.small_icon) ::DestroyIcon(c.small_icon);
  if (c.large_icon) ::DestroyIcon(c.large_icon);
  c.small_icon = small_icon;
  c.large_icon = large_icon;
}

// Lays the window out at dpi, as a scaled form would: positions, sizes,
// fonts, the glyph and the icons. The window goes to where (a rectangle
// Windows suggests) or else to its own place at that scale.
void LayOut(Controls& c, unsigned dpi, const RECT* where = nullptr) {
  c.dpi = dpi;
  if (where)
    ::SetWindowPos(c.window, nullptr, where->left, where->top, where->right - where->left, where->bottom - where->top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
  else
    Place(c.window, kWindowAt, dpi);
  Place(c.edit, kEditAt, dpi);
  Place(c.folder, kFolderAt, dpi);
  Place(c.install, kInstallAt, dpi);
  Place(c.label, kLabelAt, dpi);
  for (HWND control : {c.edit, c.install})
    ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(UiFont(dpi)), TRUE);
  ::SendMessageW(c.label, WM_SETFONT, reinterpret_cast<WPARAM>(StatusFont(dpi)), TRUE);
  FitStatusLabel(c);
  HBITMAP old_glyph = c.glyph;
  c.glyph = FolderGlyph(Scaled(kGlyphSide, dpi));
  ::SendMessageW(c.folder, BM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(c.glyph));
  if (old_glyph) ::DeleteObject(old_glyph);
  SetWindowIcons(c);
  ::InvalidateRect(c.window, nullptr, TRUE);
}

LRESULT CALLBACK MainProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  auto* c = reinterpret_cast<SetupWindow::Controls*>(::GetWindowLongPtrW(h, GWLP_USERDATA));
  switch (msg) {
    case WM_COMMAND:
      if (c && HIWORD(wp) == BN_CLICKED) {
        if (LOWORD(wp) == kFolderId && c->on_folder) c->on_folder();
        if (LOWORD(wp) == kInstallId && c->on_install) c->on_install();
      }
      return 0;
    case WM_PAINT: {
      // The panel: a raised bevel.
      PAINTSTRUCT ps;
      HDC dc = ::BeginPaint(h, &ps);
      const unsigned dpi = c ? c->dpi : kBaseDpi;
      RECT panel{Scaled(kPanelAt.x, dpi), Scaled(kPanelAt.y, dpi), Scaled(kPanelAt.x + kPanelAt.w, dpi),
                 Scaled(kPanelAt.y + kPanelAt.h, dpi)};
      ::DrawEdge(dc, &panel, BDR_RAISEDINNER, BF_RECT);
      ::EndPaint(h, &ps);
      return 0;
    }
    case WM_DPICHANGED:
      // Moved to a monitor of another scale, or the scale was changed.
      if (c && c->label) LayOut(*c, HIWORD(wp), reinterpret_cast<const RECT*>(lp));
      return 0;
    case WM_CTLCOLORSTATIC:
      ::SetBkMode(reinterpret_cast<HDC>(wp), TRANSPARENT);
      return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_BTNFACE));
    case WM_DESTROY:
      if (c) c->window = c->edit = c->label = c->folder = c->install = nullptr;
      ::PostQuitMessage(0);
      return 0;
  }
  return ::DefWindowProcW(h, msg, wp, lp);
}

void AddTooltip(HWND tips, HWND owner, HWND control, const std::wstring& text) {
  TOOLINFOW ti{};
  ti.cbSize = sizeof ti;
  ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  ti.hwnd = owner;
  ti.uId = reinterpret_cast<UINT_PTR>(control);
  ti.lpszText = const_cast<wchar_t*>(text.c_str());
  ::SendMessageW(tips, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
}

}  // namespace

SetupWindow::SetupWindow(const std::string& title, std::function<void()> on_folder_button,
                         std::function<void()> on_install_button)
    : title_(title), c_(std::make_unique<Controls>()) {
  c_->on_folder = std::move(on_folder_button);
  c_->on_install = std::move(on_install_button);
  // The folder dialog's new style (with its create-folder button) needs OLE.
  ::OleInitialize(nullptr);
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_WIN95_CLASSES};
  ::InitCommonControlsEx(&icc);
  WNDCLASSW wc{};
  wc.lpfnWndProc = MainProc;
  wc.hInstance = Instance();
  wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  wc.hIcon = ::LoadIconW(Instance(), MAKEINTRESOURCEW(kProgramIconId));
  if (!wc.hIcon) wc.hIcon = ::LoadIconW(nullptr, IDI_APPLICATION);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = L"TForm1";
  ::RegisterClassW(&wc);
  // A single, non-resizable window; made at 96 dpi, then laid out at the
  // scale of the monitor it is on.
  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
  HWND w = ::CreateWindowExW(0, L"TForm1", Wide(title).c_str(), style, kWindowAt.x, kWindowAt.y, kWindowAt.w,
                             kWindowAt.h, nullptr, nullptr, Instance(), nullptr);
  c_->window = w;
  ::SetWindowLongPtrW(w, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(c_.get()));
  c_->edit = Child(w, L"EDIT", L"", WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL, kEditAt.x, kEditAt.y, kEditAt.w,
                   kEditAt.h, kEditId, WS_EX_CLIENTEDGE);
  c_->folder = Child(w, L"BUTTON", nullptr, WS_VISIBLE | BS_PUSHBUTTON | BS_BITMAP, kFolderAt.x, kFolderAt.y,
                     kFolderAt.w, kFolderAt.h, kFolderId);
  c_->install = Child(w, L"BUTTON", L"Install", WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, kInstallAt.x, kInstallAt.y,
                      kInstallAt.w, kInstallAt.h, kInstallId);
  c_->label = Child(w, L"STATIC", L"Label1", SS_LEFT | SS_NOPREFIX, kLabelAt.x, kLabelAt.y, kLabelAt.w, kLabelAt.h,
                    kLabelId, 0, StatusFont());
  LayOut(*c_, WindowDpi(w));
  HWND tips = ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT,
                                CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, w, nullptr, Instance(), nullptr);
  AddTooltip(tips, w, c_->edit, Wide("Ebbe a könyvtárba kerül a program"));
  AddTooltip(tips, w, c_->folder, Wide("Telepítési hely módosítása"));
}

SetupWindow::~SetupWindow() {
  if (c_->window) ::DestroyWindow(c_->window);
  if (c_->glyph) ::DeleteObject(c_->glyph);
  for (HICON icon : {c_->small_icon, c_->large_icon})
    if (icon) ::DestroyIcon(icon);
}

int SetupWindow::Run() {
  ::ShowWindow(c_->window, SW_SHOWNORMAL);
  ::UpdateWindow(c_->window);
  MSG msg;
  while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (c_->window && ::IsDialogMessageW(c_->window, &msg)) continue;
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  return 0;
}

std::string SetupWindow::EditText() { return c_->edit ? Utf8(WindowText(c_->edit)) : std::string(); }

void SetupWindow::SetEditText(const std::string& text) {
  if (c_->edit) ::SetWindowTextW(c_->edit, Wide(text).c_str());
}

void SetupWindow::SetStatus(const std::string& text) {
  if (!c_->label) return;
  const std::wstring w = Wide(text);
  ::SetWindowTextW(c_->label, w.c_str());
  FitStatusLabel(*c_);
  ::InvalidateRect(c_->window, nullptr, TRUE);
}

void SetupWindow::ShowStatus() {
  if (c_->label) ::ShowWindow(c_->label, SW_SHOW);
}

void SetupWindow::ProcessMessages() {
  MSG msg;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      ::PostQuitMessage(static_cast<int>(msg.wParam));  // the main loop still has to see it
      return;
    }
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
}

void SetupWindow::MessageBox(const std::string& text) {
  ::MessageBoxW(c_->window, Wide(text).c_str(), Wide(title_).c_str(), MB_OK);
}

void SetupWindow::ErrorBox(const std::string& text) {
  ::MessageBoxW(c_->window, Wide(text).c_str(), Wide(title_).c_str(), MB_OK | MB_ICONERROR);
}

namespace {
int CALLBACK BrowseStart(HWND h, UINT msg, LPARAM, LPARAM start) {
  if (msg == BFFM_INITIALIZED) ::SendMessageW(h, BFFM_SETSELECTIONW, TRUE, start);
  return 0;
}
}  // namespace

bool SetupWindow::SelectDirectory(std::string& folder) {
  const std::wstring start = Wide(folder);
  wchar_t name[MAX_PATH] = {};
  BROWSEINFOW bi{};
  bi.hwndOwner = c_->window;
  bi.pszDisplayName = name;
  bi.lpszTitle = L"Select Directory";
  bi.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE | BIF_EDITBOX;
  bi.lpfn = BrowseStart;
  bi.lParam = reinterpret_cast<LPARAM>(start.c_str());
  PIDLIST_ABSOLUTE chosen = ::SHBrowseForFolderW(&bi);
  if (!chosen) return false;
  wchar_t path[MAX_PATH] = {};
  const bool got = ::SHGetPathFromIDListW(chosen, path);
  ::CoTaskMemFree(chosen);
  if (!got) return false;
  const WideString dir = FromWide(path, wcslen(path));
  if (!DirectoryExists(dir)) {
    if (::MessageBoxW(c_->window, L"The specified directory does not exist. Create it?", L"Confirm",
                      MB_YESNO | MB_ICONQUESTION) != IDYES)
      return false;
    if (!ForceDirectories(dir)) return false;
  }
  folder = ToUtf8(dir);
  return true;
}

void SetupWindow::OpenFileDialog(const std::string& initial_dir) {
  const std::wstring dir = Wide(initial_dir);
  wchar_t file[MAX_PATH] = {};
  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = c_->window;
  ofn.lpstrFilter = L"*.*\0*.*\0";
  ofn.lpstrFile = file;
  ofn.nMaxFile = MAX_PATH;
  ofn.lpstrInitialDir = dir.c_str();
  ofn.Flags = OFN_EXPLORER | OFN_HIDEREADONLY;
  ::GetOpenFileNameW(&ofn);
}

void SetupWindow::Beep() { ::MessageBeep(0); }
void SetupWindow::Sleep(int milliseconds) { ::Sleep(static_cast<DWORD>(milliseconds)); }

void SetupWindow::Quit() {
  if (c_->window) ::DestroyWindow(c_->window);
}

}  // namespace afp::win32
