#include "seams/win32/win_window.h"

#include "windows_api.h"
#include <commctrl.h>
#include <commdlg.h>
#include <shlobj.h>

#include <algorithm>

#include "platform/files.h"
#include "wide_path.h"
#include "win_controls.h"

namespace afp {

using namespace win32;

namespace {

// A 16x16 folder for the speed button, on the button's face colour.
HBITMAP FolderGlyph() {
  static const char* const rows[16] = {
      "                ", "                ", "  .....         ", " .+++++.        ", " .++++++......  ",
      " .@@@@@@@@@@@@. ", " .++++++++++++. ", " .++++++++++++. ", " .++++++++++++. ", " .++++++++++++. ",
      " .++++++++++++. ", " .++++++++++++. ", " .++++++++++++. ", " ..............", "                ",
      "                "};
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = 16;
  bi.bmiHeader.biHeight = -16;  // top-down
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bmp = ::CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!bmp) return nullptr;
  const COLORREF face = ::GetSysColor(COLOR_BTNFACE);
  auto bgr = [](COLORREF c) { return static_cast<uint32_t>((GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c)); };
  auto* px = static_cast<uint32_t*>(bits);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) {
      const char c = rows[y][x];
      px[y * 16 + x] = c == '.' ? 0x000000 : c == '+' ? 0xF0D060 : c == '@' ? 0xC8A030 : bgr(face);
    }
  return bmp;
}

}  // namespace

enum ControlId { kEditId = 1, kFolderId = 2, kInstallId = 3, kLabelId = 4 };

struct Win32InstallerWindow::Controls {
  HWND window = nullptr, edit = nullptr, label = nullptr;
  HBITMAP glyph = nullptr;
  std::function<void()> on_folder, on_install;
};

namespace {

LRESULT CALLBACK MainProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  auto* c = reinterpret_cast<Win32InstallerWindow::Controls*>(::GetWindowLongPtrW(h, GWLP_USERDATA));
  switch (msg) {
    case WM_COMMAND:
      if (c && HIWORD(wp) == BN_CLICKED) {
        if (LOWORD(wp) == kFolderId && c->on_folder) c->on_folder();
        if (LOWORD(wp) == kInstallId && c->on_install) c->on_install();
      }
      return 0;
    case WM_PAINT: {
      // The panel: a raised bevel, 497x97 at (8, 8).
      PAINTSTRUCT ps;
      HDC dc = ::BeginPaint(h, &ps);
      RECT panel{8, 8, 8 + 497, 8 + 97};
      ::DrawEdge(dc, &panel, BDR_RAISEDINNER, BF_RECT);
      ::EndPaint(h, &ps);
      return 0;
    }
    case WM_CTLCOLORSTATIC:
      ::SetBkMode(reinterpret_cast<HDC>(wp), TRANSPARENT);
      return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_BTNFACE));
    case WM_DESTROY:
      if (c) c->window = c->edit = c->label = nullptr;
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

Win32InstallerWindow::Win32InstallerWindow(const std::string& title, std::function<void()> on_folder_button,
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
  wc.hIcon = ::LoadIconW(nullptr, IDI_APPLICATION);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = L"TForm1";
  ::RegisterClassW(&wc);
  // 535x160 outside at (473, 228): a single, non-resizable window.
  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
  HWND w = ::CreateWindowExW(0, L"TForm1", Wide(title).c_str(), style, 473, 228, 535, 160, nullptr, nullptr,
                             Instance(), nullptr);
  c_->window = w;
  ::SetWindowLongPtrW(w, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(c_.get()));
  // Panel children sit at their panel offsets plus the panel's (8, 8).
  c_->edit = Child(w, L"EDIT", L"", WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL, 24, 36, 313, 21, kEditId,
                   WS_EX_CLIENTEDGE);
  HWND folder = Child(w, L"BUTTON", nullptr, WS_VISIBLE | BS_PUSHBUTTON | BS_BITMAP, 360, 32, 23, 22, kFolderId);
  c_->glyph = FolderGlyph();
  ::SendMessageW(folder, BM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(c_->glyph));
  HWND install = Child(w, L"BUTTON", L"Install", WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 408, 32, 75, 57, kInstallId);
  c_->label = Child(w, L"STATIC", L"Label1", SS_LEFT | SS_NOPREFIX, 24, 72, 57, 20, kLabelId, 0, StatusFont());
  HWND tips = ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT,
                                CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, w, nullptr, Instance(), nullptr);
  AddTooltip(tips, w, c_->edit, Wide("Ebbe a könyvtárba kerül a program"));
  AddTooltip(tips, w, folder, Wide("Telepítési hely módosítása"));
  (void)install;
}

Win32InstallerWindow::~Win32InstallerWindow() {
  if (c_->window) ::DestroyWindow(c_->window);
  if (c_->glyph) ::DeleteObject(c_->glyph);
}

int Win32InstallerWindow::Run() {
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

std::string Win32InstallerWindow::EditText() {
  return c_->edit ? Utf8(WindowText(c_->edit)) : std::string();
}

void Win32InstallerWindow::SetEditText(const std::string& text) {
  if (c_->edit) ::SetWindowTextW(c_->edit, Wide(text).c_str());
}

void Win32InstallerWindow::SetStatus(const std::string& text) {
  if (!c_->label) return;
  const std::wstring w = Wide(text);
  ::SetWindowTextW(c_->label, w.c_str());
  // An auto-sized label grows with its text.
  const SIZE s = TextSize(StatusFont(), w);
  ::SetWindowPos(c_->label, nullptr, 0, 0, std::max<int>(s.cx + 4, 57), std::max<int>(s.cy, 20),
                 SWP_NOMOVE | SWP_NOZORDER);
  ::InvalidateRect(c_->window, nullptr, TRUE);
}

void Win32InstallerWindow::ShowStatus() {
  if (c_->label) ::ShowWindow(c_->label, SW_SHOW);
}

void Win32InstallerWindow::ProcessMessages() {
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

void Win32InstallerWindow::MessageBox(const std::string& text) {
  ::MessageBoxW(c_->window, Wide(text).c_str(), Wide(title_).c_str(), MB_OK);
}

void Win32InstallerWindow::ErrorBox(const std::string& text) {
  ::MessageBoxW(c_->window, Wide(text).c_str(), Wide(title_).c_str(), MB_OK | MB_ICONERROR);
}

namespace {
int CALLBACK BrowseStart(HWND h, UINT msg, LPARAM, LPARAM start) {
  if (msg == BFFM_INITIALIZED) ::SendMessageW(h, BFFM_SETSELECTIONW, TRUE, start);
  return 0;
}
}  // namespace

bool Win32InstallerWindow::SelectDirectory(std::string& folder) {
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

void Win32InstallerWindow::OpenFileDialog(const std::string& initial_dir) {
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

void Win32InstallerWindow::Beep() { ::MessageBeep(0); }
void Win32InstallerWindow::Sleep(int milliseconds) { ::Sleep(static_cast<DWORD>(milliseconds)); }

void Win32InstallerWindow::Quit() {
  if (c_->window) ::DestroyWindow(c_->window);
}

}  // namespace afp
