// The terminal services of the command-line tool: whether a stream is a
// terminal, typing without echo, and the command line as UTF-8.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "arcfold/platform/export.h"

namespace afp {

ARCFOLD_API bool IsTerminal(std::FILE* stream);

// Turns echo off on a terminal for as long as it lives (passwords).
class ARCFOLD_API EchoOff {
 public:
  explicit EchoOff(std::FILE* in);
  ~EchoOff();
  EchoOff(const EchoOff&) = delete;
  EchoOff& operator=(const EchoOff&) = delete;
  // Whether echo was turned off (the stream is a terminal).
  bool Active() const { return active_; }

 private:
  std::FILE* in_;
  bool active_ = false;
  unsigned long saved_ = 0;
};

// The program's arguments in UTF-8 (Windows hands main() the ANSI page),
// and a console set up to show UTF-8 output.
ARCFOLD_API std::vector<std::string> Utf8Arguments(int argc, char** argv);
ARCFOLD_API void UseUtf8Console();
// Bytes read from or written to stream pass unchanged (Windows would
// otherwise turn line ends into CR LF and stop reading at Ctrl-Z).
ARCFOLD_API void UseBinaryMode(std::FILE* stream);

// Turns an interrupt, a termination request and a hang-up (Ctrl-C,
// Ctrl-Break and a closed console window on Windows) into a request to stop
// that the program polls, so that it can finish cleanly: the first one sets
// it; a second one ends the process at once, as it would have without this.
ARCFOLD_API void CatchStopSignals();
ARCFOLD_API bool StopRequested();
// A reader that goes away (`| head`) makes writes to the pipe fail with an
// error instead of killing the process on the spot, so that the program
// still removes its temporary files.
ARCFOLD_API void SurviveClosedPipes();

}  // namespace afp
