#include "platform/console.h"

#include "windows_api.h"
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include "platform/wide.h"

namespace afp {

namespace {
HANDLE ConsoleOf(std::FILE* stream) { return reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream))); }
}  // namespace

bool IsTerminal(std::FILE* stream) {
  DWORD mode = 0;
  return ::GetConsoleMode(ConsoleOf(stream), &mode) != 0;
}

EchoOff::EchoOff(std::FILE* in) : in_(in) {
  DWORD mode = 0;
  HANDLE h = ConsoleOf(in_);
  if (!::GetConsoleMode(h, &mode)) return;
  saved_ = mode;
  active_ = ::SetConsoleMode(h, mode & ~DWORD(ENABLE_ECHO_INPUT)) != 0;
}

EchoOff::~EchoOff() {
  if (active_) ::SetConsoleMode(ConsoleOf(in_), static_cast<DWORD>(saved_));
}

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
  int count = 0;
  LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (!wide) return std::vector<std::string>(argv, argv + argc);
  std::vector<std::string> args;
  for (int i = 0; i < count; ++i) args.push_back(ToUtf8(reinterpret_cast<const char16_t*>(wide[i])));
  ::LocalFree(wide);
  return args;
}

void UseUtf8Console() {
  ::SetConsoleOutputCP(CP_UTF8);
  ::SetConsoleCP(CP_UTF8);
}

void UseBinaryMode(std::FILE* stream) { ::_setmode(::_fileno(stream), _O_BINARY); }

namespace {

volatile LONG stop_requested = 0;

BOOL WINAPI OnConsoleEvent(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
  // Asked twice: the default handling ends the process.
  if (::InterlockedExchange(&stop_requested, 1) != 0) return FALSE;
  if (event == CTRL_CLOSE_EVENT) {
    // The system ends the process when this returns: give the run a moment
    // to stop at its next safe point.
    ::Sleep(2000);
  }
  return TRUE;
}

}  // namespace

void CatchStopSignals() { ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE); }

bool StopRequested() { return stop_requested != 0; }

// Windows has no signal for it: a write to a closed pipe already fails.
void SurviveClosedPipes() {}

}  // namespace afp
