#include "seams/posix/fltk_window.h"

// Before FLTK: the X11 headers it brings define None, a name files.h uses.
// clang-format off
#include "platform/files.h"
// clang-format on

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_File_Chooser.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Pixmap.H>
#include <FL/Fl_Return_Button.H>
#include <FL/Fl_Secret_Input.H>
#include <FL/Fl_Tooltip.H>
#include <FL/fl_ask.H>
#include <FL/fl_draw.H>

#include <chrono>
#include <cmath>
#include <thread>
#include <vector>

namespace afp {

namespace {

// "MS Sans Serif" 8 pt is 11 pixels high at 96 dpi; FLTK's sans stands in.
constexpr int kFontSize = 11;

// A 16x16 folder for the speed button.
const char* const kFolderXpm[] = {"16 16 4 1",        "  c None",         ". c #000000",      "+ c #F0D060",
                                  "@ c #C8A030",      "                ", "                ", "  .....         ",
                                  " .+++++.        ", " .++++++......  ", " .@@@@@@@@@@@@. ", " .++++++++++++. ",
                                  " .++++++++++++. ", " .++++++++++++. ", " .++++++++++++. ", " .++++++++++++. ",
                                  " .++++++++++++. ", " .++++++++++++. ", " ..............",  "                ",
                                  "                "};

void OnButton(Fl_Widget*, void* data) {
  auto* f = static_cast<std::function<void()>*>(data);
  if (*f) (*f)();
}

// One modal dialog: an icon, the text and a row of buttons; returns the index
// of the button pressed, or -1 when the dialog was closed.
int ModalDialog(const std::string& caption, const std::string& text, const char* icon, Fl_Color icon_color,
                const std::vector<std::string>& buttons, int default_button) {
  fl_font(FL_HELVETICA, kFontSize);
  int tw = 0, th = 0;
  fl_measure(text.c_str(), tw, th, 0);
  const int bw = 75, bh = 23, gap = 6;
  int row = static_cast<int>(buttons.size()) * (bw + gap) - gap;
  int w = std::max(row + 24, tw + 80);
  int h = std::max(th, 32) + bh + 44;
  Fl_Window dlg(w, h, caption.c_str());
  dlg.set_modal();
  Fl_Box ic(12, 12, 32, 32, icon);
  ic.box(FL_OVAL_BOX);
  ic.color(icon_color);
  ic.labelcolor(FL_WHITE);
  ic.labelfont(FL_HELVETICA_BOLD);
  ic.labelsize(20);
  Fl_Box msg(56, 12, w - 68, std::max(th, 32), nullptr);
  msg.copy_label(text.c_str());
  msg.labelsize(kFontSize);
  msg.align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE | FL_ALIGN_WRAP);
  int result = -1;
  struct Choice {
    int* result;
    int index;
  };
  std::vector<Choice> choices(buttons.size());
  std::vector<std::unique_ptr<Fl_Button>> widgets;
  int x = (w - row) / 2, y = h - bh - 10;
  for (size_t i = 0; i < buttons.size(); ++i) {
    Fl_Button* b =
        static_cast<int>(i) == default_button ? new Fl_Return_Button(x, y, bw, bh) : new Fl_Button(x, y, bw, bh);
    b->copy_label(buttons[i].c_str());
    b->labelsize(kFontSize);
    choices[i] = {&result, static_cast<int>(i)};
    b->callback(
        [](Fl_Widget* wdg, void* data) {
          auto* c = static_cast<Choice*>(data);
          *c->result = c->index;
          wdg->window()->hide();
        },
        &choices[i]);
    widgets.emplace_back(b);
    x += bw + gap;
  }
  dlg.end();
  dlg.position((Fl::w() - w) / 2, (Fl::h() - h) / 2);
  dlg.show();
  while (dlg.shown()) Fl::wait();
  for (auto& b : widgets) dlg.remove(b.get());
  return result;
}

}  // namespace

PromptAnswer FltkPrompts::Ask(std::string_view text, PromptButtons buttons) {
  const std::vector<PromptButton> choices = ButtonsOf(buttons);
  std::vector<std::string> labels;
  for (const auto& c : choices) labels.push_back(c.label);
  int i = ModalDialog("Confirm", std::string(text), "?", FL_BLUE, labels, 0);
  return i < 0 ? PromptAnswer::Closed : choices[static_cast<size_t>(i)].answer;
}

bool FltkPrompts::AskPassword(std::string_view caption, std::string_view prompt, std::string& password) {
  // Geometry in dialog units: cw is the average width of A-Z and a-z in the
  // dialog font, ch their height.
  fl_font(FL_HELVETICA, kFontSize);
  const char* letters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  int lw = 0, lh = 0;
  fl_measure(letters, lw, lh, 0);
  const int cw = lw / 52, ch = lh;
  auto dx = [&](int a) { return static_cast<int>(std::lround(a * cw / 4.0)); };
  auto dy = [&](int a) { return static_cast<int>(std::lround(a * ch / 8.0)); };
  std::string cap(caption), pr(prompt);
  Fl_Window dlg(dx(180), dy(63), cap.c_str());
  dlg.set_modal();
  int pw = 0, ph = 0;
  fl_measure(pr.c_str(), pw, ph, 0);
  Fl_Box label(dx(8), dy(8), pw, ph);
  label.copy_label(pr.c_str());
  label.labelsize(kFontSize);
  label.align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE);
  Fl_Secret_Input edit(dx(8), dy(19), dx(164), ph + 8);
  edit.textsize(kFontSize);
  edit.maximum_size(255);
  bool ok = false;
  Fl_Return_Button okb(dx(38), dy(41), dx(50), dy(14), "OK");
  Fl_Button cancel(dx(92), dy(41), dx(50), dy(14), "Cancel");
  okb.labelsize(kFontSize);
  cancel.labelsize(kFontSize);
  okb.callback(
      [](Fl_Widget* w, void* r) {
        *static_cast<bool*>(r) = true;
        w->window()->hide();
      },
      &ok);
  cancel.callback([](Fl_Widget* w, void*) { w->window()->hide(); });
  cancel.shortcut(FL_Escape);
  dlg.end();
  dlg.position((Fl::w() - dlg.w()) / 2, (Fl::h() - dlg.h()) / 2);
  dlg.show();
  edit.take_focus();
  while (dlg.shown()) Fl::wait();
  if (ok) password = edit.value();
  return ok;
}

FltkInstallerWindow::FltkInstallerWindow(const std::string& title, std::function<void()> on_folder_button,
                                         std::function<void()> on_install_button)
    : title_(title), on_folder_button_(std::move(on_folder_button)), on_install_button_(std::move(on_install_button)) {
  Fl::scheme("gtk+");
  Fl_Tooltip::enable(1);
  // Outer size 535x160 on Windows includes its frame; the client area is what
  // is laid out here.
  window_ = std::make_unique<Fl_Double_Window>(473, 228, 527, 126, title_.c_str());
  window_->color(FL_BACKGROUND_COLOR);
  auto* panel = new Fl_Group(8, 8, 497, 97);
  panel->box(FL_UP_BOX);
  // Panel children are placed relative to the panel, as the layout gives them.
  const int px = 8, py = 8;
  edit_ = new Fl_Input(px + 16, py + 28, 313, 21);
  edit_->textsize(kFontSize);
  edit_->tooltip("Ebbe a könyvtárba kerül a program");
  auto* folder = new Fl_Button(px + 352, py + 24, 23, 22);
  static Fl_Pixmap glyph(kFolderXpm);
  folder->image(glyph);
  folder->tooltip("Telepítési hely módosítása");
  folder->callback(OnButton, &on_folder_button_);
  auto* install = new Fl_Button(px + 400, py + 24, 75, 57, "Install");
  install->labelsize(kFontSize);
  install->callback(OnButton, &on_install_button_);
  label_ = new Fl_Box(px + 16, py + 64, 57, 20, "Label1");
  label_->labelfont(FL_HELVETICA_BOLD);
  label_->labelsize(16);
  label_->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE | FL_ALIGN_CLIP);
  label_->hide();
  panel->end();
  window_->end();
}

FltkInstallerWindow::~FltkInstallerWindow() = default;

int FltkInstallerWindow::Run() {
  window_->show();
  return Fl::run();
}

std::string FltkInstallerWindow::EditText() { return edit_->value(); }
void FltkInstallerWindow::SetEditText(const std::string& text) { edit_->value(text.c_str()); }

void FltkInstallerWindow::SetStatus(const std::string& text) {
  label_text_ = text;
  label_->copy_label(text.c_str());
  // An auto-sized label grows with its text.
  fl_font(FL_HELVETICA_BOLD, 16);
  int w = 0, h = 0;
  fl_measure(text.c_str(), w, h, 0);
  label_->size(std::max(w + 4, 57), 20);
  window_->redraw();
}

void FltkInstallerWindow::ShowStatus() { label_->show(); }
void FltkInstallerWindow::ProcessMessages() { Fl::check(); }

void FltkInstallerWindow::MessageBox(const std::string& text) {
  ModalDialog(title_, text, "i", FL_DARK_BLUE, {"OK"}, 0);
}

void FltkInstallerWindow::ErrorBox(const std::string& text) { ModalDialog(title_, text, "X", FL_RED, {"OK"}, 0); }

bool FltkInstallerWindow::SelectDirectory(std::string& folder) {
  const char* chosen = fl_dir_chooser("Select Directory", folder.c_str(), 0);
  if (!chosen) return false;
  std::string dir = chosen;
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  const WideString path = FromNativePath(dir);
  auto something_there = [&] { return DirectoryExists(path) || FileExists(path); };
  if (!something_there()) {
    if (fl_choice("The specified directory does not exist. Create it?", "No", "Yes", nullptr) != 1) return false;
    ForceDirectories(path);
    if (!something_there()) return false;
  }
  folder = dir;
  return true;
}

void FltkInstallerWindow::OpenFileDialog(const std::string& initial_dir) {
  std::string start = initial_dir.empty() || initial_dir.back() == '/' ? initial_dir : initial_dir + "/";
  fl_file_chooser("Open", "*", start.c_str(), 0);
}

void FltkInstallerWindow::Beep() { fl_beep(FL_BEEP_DEFAULT); }
void FltkInstallerWindow::Sleep(int milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void FltkInstallerWindow::Quit() {
  while (Fl_Window* w = Fl::first_window()) w->hide();
}

}  // namespace afp
