#include "stdio_archive.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <vector>

#include "platform/console.h"
#include "platform/files.h"

namespace arcfold_cli {

namespace {
constexpr size_t kCopyChunk = 256 * 1024;
constexpr int kOutputFailedStatus = 2;
}  // namespace

SpooledStdin::SpooledStdin() {
  // Typing a ZIP archive is not what anybody means: waiting for it would
  // look like a hang.
  if (afp::IsTerminal(stdin)) throw std::runtime_error("-: standard input is a terminal; pipe a ZIP archive into it");
  afp::UseBinaryMode(stdin);
  const afp::WideString folder = afp::TempDirectory();
  // What a killed run left behind goes first.
  afp::RemoveDeadTempFiles(folder);
  path_ = afp::UniqueTempName(folder);
  try {
    arcfold::TFileStream spool(path_, arcfold::fmCreateNewPrivate);
    Copy(spool);
  } catch (...) {
    afp::DeleteFile(path_);
    throw;
  }
}

SpooledStdin::~SpooledStdin() { afp::DeleteFile(path_); }

void SpooledStdin::Copy(arcfold::TStream& to) {
  std::vector<char> buffer(kCopyChunk);
  for (;;) {
    const size_t got = std::fread(buffer.data(), 1, buffer.size(), stdin);
    if (afp::StopRequested()) throw Interrupted();
    if (got > 0 && to.Write(buffer.data(), static_cast<int64_t>(got)) != static_cast<int64_t>(got))
      throw std::runtime_error("standard input: cannot copy it to a temporary file (is the disk full?)");
    if (got == buffer.size()) continue;
    if (std::ferror(stdin)) throw std::runtime_error("standard input: cannot be read");
    if (std::feof(stdin)) return;
  }
}

StdoutStream::StdoutStream() { afp::UseBinaryMode(stdout); }

int64_t StdoutStream::Write(const void* buffer, int64_t count) {
  if (afp::StopRequested()) throw Interrupted();
  errno = 0;
  const size_t put = std::fwrite(buffer, 1, static_cast<size_t>(count), stdout);
  if (put != static_cast<size_t>(count)) {
    if (errno == EPIPE) throw OutputClosed();
    throw std::runtime_error("standard output: cannot be written");
  }
  written_ += count;
  return count;
}

int64_t StdoutStream::Seek(int64_t offset, arcfold::SeekOrigin origin) {
  // Only where the data stands can be asked for: what was written is gone.
  if (offset == 0 && origin != arcfold::SeekOrigin::Begin) return written_;
  if (origin == arcfold::SeekOrigin::Begin && offset == written_) return written_;
  throw std::runtime_error("standard output: cannot seek");
}

void StdoutStream::Flush() {
  errno = 0;
  if (std::fflush(stdout) == 0) return;
  if (errno == EPIPE) throw OutputClosed();
  throw std::runtime_error("standard output: cannot be written");
}

int StatusWithStdoutWritten(int status) {
  errno = 0;
  if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return status;
  if (errno == EPIPE) return status;
  std::fprintf(stderr, "arcfold: standard output: cannot be written\n");
  return std::max(status, kOutputFailedStatus);
}

}  // namespace arcfold_cli
