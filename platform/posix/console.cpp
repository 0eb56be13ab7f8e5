#include "platform/console.h"

#include <signal.h>
#include <termios.h>
#include <unistd.h>

namespace afp {

bool IsTerminal(std::FILE* stream) { return ::isatty(::fileno(stream)) != 0; }

void UseBinaryMode(std::FILE*) {}  // bytes pass unchanged here anyway

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

namespace afp {

namespace {

volatile sig_atomic_t stop_requested = 0;

void OnStopSignal(int signal_number) {
  if (stop_requested) {
    // Asked twice: the program is not finishing fast enough for its user.
    ::signal(signal_number, SIG_DFL);
    ::raise(signal_number);
    return;
  }
  stop_requested = 1;
}

}  // namespace

void CatchStopSignals() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  ::sigemptyset(&action.sa_mask);
  // No SA_RESTART: a call that waits (a read from the terminal) returns, so
  // that the program gets to look at the request.
  action.sa_flags = 0;
  for (int s : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(s, &action, nullptr);
}

bool StopRequested() { return stop_requested != 0; }

void SurviveClosedPipes() { ::signal(SIGPIPE, SIG_IGN); }

}  // namespace afp
