/// @file
/// Open files as the archive streams use them: positioned reads and writes
/// on a handle, so that no code outside this layer touches the system's calls.
#pragma once

#include <cstdint>
#include <string>

#include "arcfold/platform/export.h"
#include "arcfold/platform/wide.h"

namespace afp {

/// A file descriptor on POSIX, a HANDLE on Windows; kNoFile when not open.
using FileHandle = intptr_t;
constexpr FileHandle kNoFile = -1;  ///< no file open

/// How OpenFile opens a file.
enum class FileOpen {
  Read,              ///< existing file, reading
  Write,             ///< existing file, writing
  ReadWrite,         ///< existing file, both
  Create,            ///< new or emptied file, both
  CreateNew,         ///< new file, both; fails when the name exists
  CreateNewPrivate,  ///< as CreateNew, readable and writable by its owner only
};

/// Opens path; on failure returns kNoFile and puts the system's reason in
/// *error and its number (errno, GetLastError()) in *error_number. A folder
/// never opens.
ARCFOLD_API FileHandle OpenFile(std::u16string_view path, FileOpen how, std::string* error,
                                int* error_number = nullptr);
ARCFOLD_API void CloseFile(FileHandle h);  ///< kNoFile is left alone
/// Up to count bytes at pos; the count moved, 0 at the end, -1 on an error.
///@{
ARCFOLD_API int64_t ReadFileAt(FileHandle h, void* buffer, int64_t count, int64_t pos);
ARCFOLD_API int64_t WriteFileAt(FileHandle h, const void* buffer, int64_t count, int64_t pos);
///@}
ARCFOLD_API int64_t FileSizeOf(FileHandle h);                ///< 0 when it cannot be read
ARCFOLD_API bool SetFileSizeOf(FileHandle h, int64_t size);  ///< cuts or extends; false when it cannot
/// Writes what the system holds of the file to the disk. False when the
/// disk refused it (an I/O error, no space left): what was written may not
/// be there.
ARCFOLD_API bool FlushFile(FileHandle h);
/// Copies count bytes from one open file to another inside the system (no
/// trip through the caller's memory; a clone where the file system shares
/// blocks). Returns the bytes copied, which may be fewer than count (0 where
/// the system cannot: the caller then copies the rest itself).
ARCFOLD_API int64_t CopyFileBytes(FileHandle from, int64_t from_pos, FileHandle to, int64_t to_pos, int64_t count);

/// An exclusive lock between processes on the whole of an open file, held
/// until UnlockFile or until the handle is closed. It guards only against
/// others who take it too; reading and writing through any handle go on.
/// Never waits: false when another handle holds it.
ARCFOLD_API bool TryLockFile(FileHandle h);
ARCFOLD_API void UnlockFile(FileHandle h);  ///< gives TryLockFile's lock back
/// Whether path names the very file open on h (not a file renamed there since).
ARCFOLD_API bool IsSameFile(FileHandle h, std::u16string_view path);

}  // namespace afp
