#include "platform/console.h"

#include <termios.h>
#include <unistd.h>

namespace afp {

bool IsTerminal(std::FILE* stream) { return ::isatty(::fileno(stream)) != 0; }

EchoOff::EchoOff(std::FILE* in) : in_(in) {
  const int fd = ::fileno(in_);
  termios t{};
  if (!::isatty(fd) || ::tcgetattr(fd, &t) != 0) return;
  saved_ = t.c_lflag;
  t.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  active_ = ::tcsetattr(fd, TCSANOW, &t) == 0;
}

EchoOff::~EchoOff() {
  if (!active_) return;
  const int fd = ::fileno(in_);
  termios t{};
  if (::tcgetattr(fd, &t) != 0) return;
  t.c_lflag = static_cast<tcflag_t>(saved_);
  ::tcsetattr(fd, TCSANOW, &t);
}

std::vector<std::string> Utf8Arguments(int argc, char** argv) { return std::vector<std::string>(argv, argv + argc); }

void UseUtf8Console() {}

}  // namespace afp
