#include "platform/file_io.h"

#include "windows_api.h"

#include <algorithm>

#include "wide_path.h"

namespace afp {

FileHandle OpenFile(std::u16string_view path, FileOpen how, std::string* error, int* error_number) {
  DWORD access = GENERIC_READ, disposition = OPEN_EXISTING;
  switch (how) {
    case FileOpen::Read: break;
    case FileOpen::Write: access = GENERIC_WRITE | FILE_READ_ATTRIBUTES; break;
    case FileOpen::ReadWrite: access = GENERIC_READ | GENERIC_WRITE; break;
    case FileOpen::Create:
      access = GENERIC_READ | GENERIC_WRITE;
      disposition = CREATE_ALWAYS;
      break;
    case FileOpen::CreateNew:
    case FileOpen::CreateNewPrivate:
      access = GENERIC_READ | GENERIC_WRITE;
      disposition = CREATE_NEW;
      break;
  }
  // Others may read, write and rename while we hold the file, as on POSIX.
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  HANDLE h = INVALID_HANDLE_VALUE;
  if (!path.empty())
    h = ::CreateFileW(win32::WidePath(path).c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                      nullptr);
  // A folder does not open without backup semantics, so it fails here as a
  // folder must.
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD code = path.empty() ? ERROR_FILE_NOT_FOUND : ::GetLastError();
    if (error) *error = win32::ErrorText(code);
    if (error_number) *error_number = static_cast<int>(code);
    return kNoFile;
  }
  return reinterpret_cast<FileHandle>(h);
}

void CloseFile(FileHandle h) {
  if (h != kNoFile) ::CloseHandle(reinterpret_cast<HANDLE>(h));
}

namespace {
OVERLAPPED At(int64_t pos) {
  OVERLAPPED o{};
  o.Offset = static_cast<DWORD>(static_cast<uint64_t>(pos));
  o.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(pos) >> 32);
  return o;
}
// One call moves at most this much; larger counts are split by the callers'
// loops, which treat a short count as progress.
constexpr int64_t kMaxPiece = 1 << 30;
}  // namespace

int64_t ReadFileAt(FileHandle h, void* buffer, int64_t count, int64_t pos) {
  OVERLAPPED o = At(pos);
  DWORD got = 0;
  if (!::ReadFile(reinterpret_cast<HANDLE>(h), buffer, static_cast<DWORD>(std::min(count, kMaxPiece)), &got, &o))
    return ::GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
  return got;
}

int64_t WriteFileAt(FileHandle h, const void* buffer, int64_t count, int64_t pos) {
  OVERLAPPED o = At(pos);
  DWORD put = 0;
  if (!::WriteFile(reinterpret_cast<HANDLE>(h), buffer, static_cast<DWORD>(std::min(count, kMaxPiece)), &put, &o))
    return -1;
  return put;
}

int64_t FileSizeOf(FileHandle h) {
  LARGE_INTEGER size{};
  return ::GetFileSizeEx(reinterpret_cast<HANDLE>(h), &size) ? size.QuadPart : 0;
}

bool SetFileSizeOf(FileHandle h, int64_t size) {
  FILE_END_OF_FILE_INFO eof{};
  eof.EndOfFile.QuadPart = size;
  return ::SetFileInformationByHandle(reinterpret_cast<HANDLE>(h), FileEndOfFileInfo, &eof, sizeof eof) != 0;
}

bool FlushFile(FileHandle h) { return ::FlushFileBuffers(reinterpret_cast<HANDLE>(h)) != 0; }

// No copy inside the system for two open handles: the caller copies.
int64_t CopyFileBytes(FileHandle, int64_t, FileHandle, int64_t, int64_t) { return 0; }

namespace {
// The lock covers one byte far beyond any data: a Windows lock also keeps
// the locking process's other handles off its range, and the archive's own
// reads and writes must go on.
constexpr DWORD kLockOffsetLow = 0xFFFFFFFE, kLockOffsetHigh = 0x7FFFFFFF;
}  // namespace

bool TryLockFile(FileHandle h) {
  OVERLAPPED o{};
  o.Offset = kLockOffsetLow;
  o.OffsetHigh = kLockOffsetHigh;
  return ::LockFileEx(reinterpret_cast<HANDLE>(h), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &o) !=
         0;
}

void UnlockFile(FileHandle h) {
  OVERLAPPED o{};
  o.Offset = kLockOffsetLow;
  o.OffsetHigh = kLockOffsetHigh;
  ::UnlockFileEx(reinterpret_cast<HANDLE>(h), 0, 1, 0, &o);
}

bool IsSameFile(FileHandle h, std::u16string_view path) {
  BY_HANDLE_FILE_INFORMATION open_file{}, named{};
  if (!::GetFileInformationByHandle(reinterpret_cast<HANDLE>(h), &open_file)) return false;
  HANDLE other = ::CreateFileW(win32::WidePath(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (other == INVALID_HANDLE_VALUE) return false;
  const bool got = ::GetFileInformationByHandle(other, &named) != 0;
  ::CloseHandle(other);
  return got && open_file.dwVolumeSerialNumber == named.dwVolumeSerialNumber &&
         open_file.nFileIndexHigh == named.nFileIndexHigh && open_file.nFileIndexLow == named.nFileIndexLow;
}

}  // namespace afp
