#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/files.h"
#include "platform/system.h"
#include "seams/shell.h"

namespace afp {

namespace {

bool LooksExecutable(const std::string& file) {
  std::ifstream f(file, std::ios::binary);
  char head[4] = {0, 0, 0, 0};
  f.read(head, 4);
  if (f.gcount() >= 4 && head[0] == 0x7F && head[1] == 'E' && head[2] == 'L' && head[3] == 'F') return true;
  return f.gcount() >= 2 && head[0] == '#' && head[1] == '!';
}

// A path as one quoted argument of an Exec key: the argument quoting first
// (\" \` \$ \\ inside quotes), then the string escaping of the value
// (every backslash doubled); "%" is a field code unless doubled.
std::string ExecArgument(const std::string& path) {
  std::string out = "\"";
  for (char c : path) {
    if (c == '"' || c == '`' || c == '$')
      out += std::string("\\\\") + c;
    else if (c == '\\')
      out += "\\\\\\\\";
    else if (c == '%')
      out += "%%";
    else
      out += c;
  }
  return out + "\"";
}

std::string Unquote(std::string v) {
  if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
  return v;
}

}  // namespace

bool PosixShell::Execute(const std::string& file) {
  if (GetFileTarget(FromNativePath(file)).type == PathType::None) return false;
  if (LooksExecutable(file)) {
    MakeExecutable(file);
    std::string dir = file.substr(0, file.find_last_of('/') + 1);
    return StartDetached(file, {}, dir.empty() ? "." : dir);
  }
  return StartDetached("xdg-open", {file}, "");
}

std::string PosixShell::DesktopFolder() {
  std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
  if (const char* d = std::getenv("XDG_DESKTOP_DIR"); d && *d) return d;
  std::string config = std::getenv("XDG_CONFIG_HOME") && *std::getenv("XDG_CONFIG_HOME")
                           ? std::getenv("XDG_CONFIG_HOME")
                           : home + "/.config";
  std::ifstream dirs(config + "/user-dirs.dirs");
  std::string line;
  while (std::getline(dirs, line)) {
    if (line.rfind("XDG_DESKTOP_DIR=", 0) != 0) continue;
    std::string v = Unquote(line.substr(16));
    if (v.rfind("$HOME", 0) == 0) v = home + v.substr(5);
    if (!v.empty()) return v;
  }
  return home.empty() ? std::string() : home + "/Desktop";
}

void PosixShell::CreateLink(const std::string& target, const std::string& link_path, const std::string& description,
                            const std::string& arguments) {
  // Desktops only show desktop entries, whatever name was asked for.
  std::string path = link_path;
  size_t slash = path.find_last_of('/');
  size_t dot = path.find_last_of('.');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) path.erase(dot);
  path += ".desktop";
  std::string name = path.substr(slash == std::string::npos ? 0 : slash + 1);
  name.erase(name.size() - 8);
  std::string dir = target.substr(0, target.find_last_of('/') + 1);
  std::ofstream f(path, std::ios::trunc);
  if (!f) return;
  f << "[Desktop Entry]\n"
    << "Type=Application\n"
    << "Name=" << name << "\n";
  if (!description.empty()) f << "Comment=" << description << "\n";
  f << "Exec=" << ExecArgument(target) << (arguments.empty() ? "" : " " + arguments) << "\n";
  if (!dir.empty()) f << "Path=" << dir << "\n";
  f << "Terminal=false\n";
  f.close();
  SetUnixMode(FromNativePath(path), 0755);
}

}  // namespace afp
