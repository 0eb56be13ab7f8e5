// Open files as the archive streams use them: positioned reads and writes
// on a handle, so that no code outside this layer touches the system's calls.
#pragma once

#include <cstdint>
#include <string>

#include "platform/wide.h"

namespace afp {

// A file descriptor on POSIX, a HANDLE on Windows; kNoFile when not open.
using FileHandle = intptr_t;
constexpr FileHandle kNoFile = -1;

enum class FileOpen {
  Read,       // existing file, reading
  Write,      // existing file, writing
  ReadWrite,  // existing file, both
  Create,     // new or emptied file, both
  CreateNew,  // new file, both; fails when the name exists
};

// Opens path; on failure returns kNoFile and puts the system's reason in
// *error. A folder never opens.
FileHandle OpenFile(std::u16string_view path, FileOpen how, std::string* error);
void CloseFile(FileHandle h);
// Up to count bytes at pos; the count moved, 0 at the end, -1 on an error.
int64_t ReadFileAt(FileHandle h, void* buffer, int64_t count, int64_t pos);
int64_t WriteFileAt(FileHandle h, const void* buffer, int64_t count, int64_t pos);
int64_t FileSizeOf(FileHandle h);  // 0 when it cannot be read
bool SetFileSizeOf(FileHandle h, int64_t size);
void FlushFile(FileHandle h);

}  // namespace afp
