#include "platform/file_io.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/files.h"

namespace afp {

FileHandle OpenFile(std::u16string_view path, FileOpen how, std::string* error, int* error_number) {
  std::string p = NativePath(path);
  int flags = O_RDONLY;
  switch (how) {
    case FileOpen::Read: flags = O_RDONLY; break;
    case FileOpen::Write: flags = O_WRONLY; break;
    case FileOpen::ReadWrite: flags = O_RDWR; break;
    case FileOpen::Create: flags = O_RDWR | O_CREAT | O_TRUNC; break;
    case FileOpen::CreateNew:
    case FileOpen::CreateNewPrivate: flags = O_RDWR | O_CREAT | O_EXCL; break;
  }
  const mode_t mode = how == FileOpen::CreateNewPrivate ? 0600 : 0666;
  int fd = p.empty() ? -1 : ::open(p.c_str(), flags | O_CLOEXEC, mode);
  if (p.empty()) errno = ENOENT;
  if (fd >= 0 && how != FileOpen::Create && how != FileOpen::CreateNew && how != FileOpen::CreateNewPrivate) {
    struct stat st;
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
      ::close(fd);
      fd = -1;
      errno = EISDIR;
    }
  }
  if (fd < 0 && error_number) *error_number = errno;
  if (fd < 0 && error) *error = std::strerror(errno);
  return fd < 0 ? kNoFile : fd;
}

void CloseFile(FileHandle h) {
  if (h != kNoFile) ::close(static_cast<int>(h));
}

int64_t ReadFileAt(FileHandle h, void* buffer, int64_t count, int64_t pos) {
  for (;;) {
    ssize_t r = ::pread(static_cast<int>(h), buffer, static_cast<size_t>(count), pos);
    if (r < 0 && errno == EINTR) continue;
    return r;
  }
}

int64_t WriteFileAt(FileHandle h, const void* buffer, int64_t count, int64_t pos) {
  for (;;) {
    ssize_t w = ::pwrite(static_cast<int>(h), buffer, static_cast<size_t>(count), pos);
    if (w < 0 && errno == EINTR) continue;
    return w;
  }
}

int64_t FileSizeOf(FileHandle h) {
  struct stat st;
  return ::fstat(static_cast<int>(h), &st) == 0 ? static_cast<int64_t>(st.st_size) : 0;
}

bool SetFileSizeOf(FileHandle h, int64_t size) { return ::ftruncate(static_cast<int>(h), size) == 0; }

bool FlushFile(FileHandle h) {
  for (;;) {
    if (::fsync(static_cast<int>(h)) == 0) return true;
    if (errno == EINTR) continue;
    // A file that cannot be synced (a pipe, a special file) has nothing
    // waiting for the disk.
    return errno == EINVAL || errno == EROFS;
  }
}

int64_t CopyFileBytes(FileHandle from, int64_t from_pos, FileHandle to, int64_t to_pos, int64_t count) {
  int64_t done = 0;
  while (done < count) {
    loff_t in = from_pos + done, out = to_pos + done;
    const ssize_t n = ::copy_file_range(static_cast<int>(from), &in, static_cast<int>(to), &out,
                                        static_cast<size_t>(count - done), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // not supported here, or an error the caller's own copy will meet
    done += n;
  }
  return done;
}

bool TryLockFile(FileHandle h) {
  for (;;) {
    if (::flock(static_cast<int>(h), LOCK_EX | LOCK_NB) == 0) return true;
    if (errno != EINTR) return false;
  }
}

void UnlockFile(FileHandle h) { ::flock(static_cast<int>(h), LOCK_UN); }

bool IsSameFile(FileHandle h, std::u16string_view path) {
  struct stat open_file, named;
  if (::fstat(static_cast<int>(h), &open_file) != 0) return false;
  if (::stat(NativePath(path).c_str(), &named) != 0) return false;
  return open_file.st_dev == named.st_dev && open_file.st_ino == named.st_ino;
}

}  // namespace afp
