#include "arcfold/stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "arcfold/exception.h"
#include "platform/files.h"

namespace arcfold {

int64_t TStream::Size() {
  int64_t pos = Seek(0, SeekOrigin::Current);
  int64_t size = Seek(0, SeekOrigin::End);
  Seek(pos, SeekOrigin::Begin);
  return size;
}

void TStream::ReadBuffer(void* buffer, int64_t count) {
  if (count > 0 && Read(buffer, count) != count) throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
  if (count > 0 && Write(buffer, count) != count) throw EWriteError("Stream write error");
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  std::vector<unsigned char> buf(static_cast<size_t>(std::min<int64_t>(count, 1 << 20)));
  int64_t left = count;
  while (left > 0) {
    int64_t n = std::min<int64_t>(left, static_cast<int64_t>(buf.size()));
    source.ReadBuffer(buf.data(), n);
    WriteBuffer(buf.data(), n);
    left -= n;
  }
  return count;
}

// ---- TFileStream ----

namespace {
constexpr int64_t kCacheSize = 64 * 1024;
}

TFileStream::TFileStream(const afp::WideString& file_name, uint16_t mode) : name_(file_name) {
  std::string path = afp::NativePath(file_name);
  int flags;
  if (mode == fmCreate) flags = O_RDWR | O_CREAT | O_TRUNC;
  else if (mode == fmCreateNew) flags = O_RDWR | O_CREAT | O_EXCL;
  else if ((mode & 3) == fmOpenReadWrite) flags = O_RDWR;
  else if ((mode & 3) == fmOpenWrite) flags = O_WRONLY;
  else flags = O_RDONLY;
  fd_ = path.empty() ? -1 : ::open(path.c_str(), flags | O_CLOEXEC, 0666);
  if (fd_ >= 0 && mode != fmCreate && mode != fmCreateNew) {
    struct stat st;
    if (::fstat(fd_, &st) != 0 || S_ISDIR(st.st_mode)) {
      ::close(fd_);
      fd_ = -1;
      errno = EISDIR;
    }
  }
  if (fd_ < 0) {
    std::string what = mode == fmCreate || mode == fmCreateNew ? "Cannot create file \"" : "Cannot open file \"";
    throw EFOpenError(what + path + "\". " + std::strerror(errno));
  }
}

TFileStream::~TFileStream() {
  if (fd_ >= 0) ::close(fd_);
}

int64_t TFileStream::Read(void* buffer, int64_t count) {
  if (count <= 0) return 0;
  auto* out = static_cast<unsigned char*>(buffer);
  int64_t done = 0;
  while (done < count) {
    if (pos_ >= cache_start_ && pos_ < cache_start_ + cache_len_) {
      int64_t n = std::min(count - done, cache_start_ + cache_len_ - pos_);
      std::memcpy(out + done, cache_.data() + (pos_ - cache_start_), static_cast<size_t>(n));
      done += n;
      pos_ += n;
      continue;
    }
    int64_t want = count - done;
    if (want >= kCacheSize) {
      ssize_t r = ::pread(fd_, out + done, static_cast<size_t>(want), pos_);
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) break;
      done += r;
      pos_ += r;
      continue;
    }
    if (cache_.empty()) cache_.resize(kCacheSize);
    ssize_t r = ::pread(fd_, cache_.data(), kCacheSize, pos_);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) {
      cache_len_ = 0;
      break;
    }
    cache_start_ = pos_;
    cache_len_ = r;
  }
  return done;
}

int64_t TFileStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  cache_len_ = 0;
  auto* in = static_cast<const unsigned char*>(buffer);
  int64_t done = 0;
  while (done < count) {
    ssize_t w = ::pwrite(fd_, in + done, static_cast<size_t>(count - done), pos_);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) break;
    done += w;
    pos_ += w;
  }
  return done;
}

int64_t TFileStream::Seek(int64_t offset, SeekOrigin origin) {
  switch (origin) {
    case SeekOrigin::Begin: pos_ = offset; break;
    case SeekOrigin::Current: pos_ += offset; break;
    case SeekOrigin::End: pos_ = Size() + offset; break;
  }
  if (pos_ < 0) pos_ = 0;
  return pos_;
}

int64_t TFileStream::Size() {
  struct stat st;
  return ::fstat(fd_, &st) == 0 ? static_cast<int64_t>(st.st_size) : 0;
}

void TFileStream::SetSize(int64_t size) {
  cache_len_ = 0;
  if (::ftruncate(fd_, size) != 0) throw EWriteError("Cannot change the size of the file");
  if (pos_ > size) pos_ = size;
}

void TFileStream::Flush() { ::fsync(fd_); }

// ---- TMemoryStream ----

int64_t TMemoryStream::Read(void* buffer, int64_t count) {
  int64_t avail = std::max<int64_t>(0, Size() - pos_);
  int64_t n = std::min(avail, std::max<int64_t>(count, 0));
  if (n > 0) std::memcpy(buffer, data_.data() + pos_, static_cast<size_t>(n));
  pos_ += n;
  return n;
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  if (pos_ + count > Size()) data_.resize(static_cast<size_t>(pos_ + count));
  std::memcpy(data_.data() + pos_, buffer, static_cast<size_t>(count));
  pos_ += count;
  return count;
}

int64_t TMemoryStream::Seek(int64_t offset, SeekOrigin origin) {
  switch (origin) {
    case SeekOrigin::Begin: pos_ = offset; break;
    case SeekOrigin::Current: pos_ += offset; break;
    case SeekOrigin::End: pos_ = Size() + offset; break;
  }
  if (pos_ < 0) pos_ = 0;
  return pos_;
}

void TMemoryStream::SaveToFile(const afp::WideString& file_name) {
  TFileStream f(file_name, fmCreate);
  f.WriteBuffer(data_.data(), Size());
}

}  // namespace arcfold
