// Archives read from standard input and items written to standard output.
#pragma once

#include <cstdint>
#include <stdexcept>

#include "arcfold/stream.h"
#include "platform/wide.h"

namespace arcfold_cli {

// A ZIP is read from its end, so one that arrives on standard input is
// copied to a temporary file first; the file is deleted when this object
// goes, on every way out (a stop request ends the copy with Interrupted).
class SpooledStdin {
 public:
  SpooledStdin();
  ~SpooledStdin();
  SpooledStdin(const SpooledStdin&) = delete;
  SpooledStdin& operator=(const SpooledStdin&) = delete;
  const afp::WideString& Path() const { return path_; }

 private:
  void Copy(arcfold::TStream& to);
  afp::WideString path_;
};

// A stop request (Ctrl-C) met while the tool itself reads or writes.
struct Interrupted : std::runtime_error {
  Interrupted() : std::runtime_error("interrupted") {}
};

// Whoever read standard output stopped reading (`| head`): nothing is
// wrong with the archive, so the run ends without a message.
struct OutputClosed : std::runtime_error {
  OutputClosed() : std::runtime_error("standard output was closed") {}
};

// status, or 2 with a message when what the run printed did not all reach
// standard output (a full disk behind `> file`): a script must not take a
// cut listing or item for the whole. A reader that stopped reading
// (`| head`) leaves status as it is.
int StatusWithStdoutWritten(int status);

// Item data written to standard output as it is decoded.
class StdoutStream : public arcfold::TStream {
 public:
  StdoutStream();
  int64_t Read(void*, int64_t) override { return 0; }
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, arcfold::SeekOrigin origin) override;
  void SetSize(int64_t) override {}
  void Flush() override;

 private:
  int64_t written_ = 0;
};

}  // namespace arcfold_cli
