// The component's questions on Windows: the message dialog with its button
// sets and the password box, both modal windows built at run time.
#include "platform/win32/win_prompts.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "win_controls.h"

namespace afp {

using namespace win32;

namespace {

// Runs a modal window: its owner is disabled until *done is set. The
// caller reads what it needs and destroys the dialog.
void RunModal(HWND dialog, HWND owner, const bool* done, HWND focus = nullptr) {
  if (owner) ::EnableWindow(owner, FALSE);
  ::ShowWindow(dialog, SW_SHOW);
  ::SetForegroundWindow(dialog);
  if (focus) ::SetFocus(focus);
  MSG msg;
  while (!*done && ::GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (::IsDialogMessageW(dialog, &msg)) continue;
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  if (owner) ::EnableWindow(owner, TRUE);
}

// What a modal dialog's window procedure reports back.
struct DialogState {
  bool done = false;
  int result = -1;  // the button's index, or -1 when closed
};

LRESULT CALLBACK DialogProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  auto* state = reinterpret_cast<DialogState*>(::GetWindowLongPtrW(h, GWLP_USERDATA));
  switch (msg) {
    case WM_COMMAND:
      if (state && HIWORD(wp) == BN_CLICKED) {
        const int id = LOWORD(wp);
        // Enter is the default button (IDOK), Escape is closing (IDCANCEL).
        state->result = id == IDCANCEL ? -1 : id == IDOK ? 0 : id - 100;
        state->done = true;
      }
      return 0;
    case WM_CLOSE:
      if (state) state->done = true;
      return 0;
  }
  return ::DefWindowProcW(h, msg, wp, lp);
}

const wchar_t* DialogClass() {
  static const wchar_t* name = [] {
    WNDCLASSW wc{};
    wc.lpfnWndProc = DialogProc;
    wc.hInstance = Instance();
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = L"QuorelDialog";
    ::RegisterClassW(&wc);
    return L"QuorelDialog";
  }();
  return name;
}

// A popup of the given client size, centred on the screen.
HWND MakeDialog(const std::wstring& caption, int client_w, int client_h, HWND owner, DialogState* state) {
  const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
  const DWORD ex = WS_EX_DLGMODALFRAME;
  RECT r{0, 0, client_w, client_h};
  ::AdjustWindowRectEx(&r, style, FALSE, ex);
  const int w = r.right - r.left, h = r.bottom - r.top;
  HWND d = ::CreateWindowExW(ex, DialogClass(), caption.c_str(), style, (::GetSystemMetrics(SM_CXSCREEN) - w) / 2,
                             (::GetSystemMetrics(SM_CYSCREEN) - h) / 2, w, h, owner, nullptr, Instance(), nullptr);
  ::SetWindowLongPtrW(d, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state));
  return d;
}

// The message dialog: question icon, the text, a centred row of buttons
// (the first is the default). Returns the button's index, -1 when closed.
// Lengths are at 96 dpi and scaled to the owner's monitor.
int MessageDialog(const std::wstring& caption, const std::wstring& text, const std::vector<std::wstring>& buttons) {
  HWND owner = ::GetActiveWindow();
  const unsigned dpi = WindowDpi(owner);
  auto px = [dpi](int length) { return Scaled(length, dpi); };
  const int bw = px(75), bh = px(23), gap = px(6), icon_side = px(32);
  const int row = static_cast<int>(buttons.size()) * (bw + gap) - gap;
  const SIZE ts = TextSize(UiFont(dpi), text, px(400));
  const int w = std::max(row + px(24), static_cast<int>(ts.cx) + px(80));
  const int text_h = std::max(static_cast<int>(ts.cy), icon_side);
  const int h = text_h + bh + px(34);
  DialogState state;
  HWND d = MakeDialog(caption, w, h, owner, &state);
  HWND icon =
      Child(d, L"STATIC", nullptr, WS_VISIBLE | SS_ICON | SS_REALSIZECONTROL, px(12), px(12), icon_side, icon_side, -1);
  HICON question = SystemIcon(IDI_QUESTION, icon_side);
  ::SendMessageW(icon, STM_SETICON, reinterpret_cast<WPARAM>(question), 0);
  Child(d, L"STATIC", text.c_str(), WS_VISIBLE | SS_NOPREFIX, px(56), px(12), ts.cx + px(4), text_h, -1, 0,
        UiFont(dpi));
  int x = (w - row) / 2;
  for (size_t i = 0; i < buttons.size(); ++i, x += bw + gap)
    Child(d, L"BUTTON", buttons[i].c_str(), WS_VISIBLE | WS_TABSTOP | (i == 0 ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON), x,
          h - bh - px(10), bw, bh, i == 0 ? IDOK : 100 + static_cast<int>(i), 0, UiFont(dpi));
  RunModal(d, owner, &state.done);
  ::DestroyWindow(d);
  ::DestroyIcon(question);
  return state.result;
}

}  // namespace

PromptAnswer Win32Prompts::Ask(std::string_view text, PromptButtons buttons) {
  const std::vector<PromptButton> choices = ButtonsOf(buttons);
  std::vector<std::wstring> labels;
  for (const auto& c : choices) labels.push_back(Wide(c.label));
  const int i = MessageDialog(L"Confirm", Wide(text), labels);
  return i < 0 ? PromptAnswer::Closed : choices[static_cast<size_t>(i)].answer;
}

bool Win32Prompts::AskPassword(std::string_view caption, std::string_view prompt, std::string& password) {
  // Dialog units: cw is the average width of A-Z and a-z in the dialog
  // font, ch its height; the font is the one of the owner's scale.
  HWND owner = ::GetActiveWindow();
  const unsigned dpi = WindowDpi(owner);
  const HFONT font = UiFont(dpi);
  const SIZE letters = TextSize(font, L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  const int cw = letters.cx / 52, ch = letters.cy;
  auto dx = [&](int a) { return static_cast<int>(std::lround(a * cw / 4.0)); };
  auto dy = [&](int a) { return static_cast<int>(std::lround(a * ch / 8.0)); };
  DialogState state;
  HWND d = MakeDialog(Wide(caption), dx(180), dy(63), owner, &state);
  const std::wstring p = Wide(prompt);
  const SIZE ps = TextSize(font, p);
  Child(d, L"STATIC", p.c_str(), WS_VISIBLE | SS_NOPREFIX, dx(8), dy(8), ps.cx, ps.cy, -1, 0, font);
  HWND edit = Child(d, L"EDIT", L"", WS_VISIBLE | WS_TABSTOP | ES_PASSWORD | ES_AUTOHSCROLL, dx(8), dy(19), dx(164),
                    ps.cy + Scaled(8, dpi), 10, WS_EX_CLIENTEDGE, font);
  ::SendMessageW(edit, EM_LIMITTEXT, 255, 0);
  Child(d, L"BUTTON", L"OK", WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, dx(38), dy(41), dx(50), dy(14), IDOK, 0, font);
  Child(d, L"BUTTON", L"Cancel", WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, dx(92), dy(41), dx(50), dy(14), IDCANCEL, 0,
        font);
  RunModal(d, owner, &state.done, edit);
  const bool ok = state.result == 0;
  if (ok) password = Utf8(WindowText(edit));
  ::DestroyWindow(d);
  return ok;
}

}  // namespace afp
