#include "arcfold/stream.h"

#include <algorithm>
#include <cstring>

#include "arcfold/exception.h"
#include "platform/file_io.h"
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
  int64_t left = count;
  // Between two files the system copies without the bytes coming up here.
  auto* to_file = dynamic_cast<TFileStream*>(this);
  auto* from_file = dynamic_cast<TFileStream*>(&source);
  if (to_file && from_file && to_file != from_file) left -= to_file->CopyInSystem(*from_file, left);
  if (left <= 0) return count;
  std::vector<unsigned char> buf(static_cast<size_t>(std::min<int64_t>(left, 1 << 20)));
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
  afp::FileOpen how;
  if (mode == fmCreate)
    how = afp::FileOpen::Create;
  else if (mode == fmCreateNew)
    how = afp::FileOpen::CreateNew;
  else if (mode == fmCreateNewPrivate)
    how = afp::FileOpen::CreateNewPrivate;
  else if ((mode & 3) == fmOpenReadWrite)
    how = afp::FileOpen::ReadWrite;
  else if ((mode & 3) == fmOpenWrite)
    how = afp::FileOpen::Write;
  else
    how = afp::FileOpen::Read;
  std::string reason;
  int error_number = 0;
  handle_ = afp::OpenFile(file_name, how, &reason, &error_number);
  if (handle_ == afp::kNoFile) {
    std::string what = mode == fmCreate || mode == fmCreateNew || mode == fmCreateNewPrivate ? "Cannot create file \""
                                                                                             : "Cannot open file \"";
    throw EFOpenError(what + afp::NativePath(file_name) + "\". " + reason, error_number);
  }
}

TFileStream::~TFileStream() { afp::CloseFile(handle_); }

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
      int64_t r = afp::ReadFileAt(handle_, out + done, want, pos_);
      if (r <= 0) break;
      done += r;
      pos_ += r;
      continue;
    }
    if (cache_.empty()) cache_.resize(kCacheSize);
    int64_t r = afp::ReadFileAt(handle_, cache_.data(), kCacheSize, pos_);
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
    int64_t w = afp::WriteFileAt(handle_, in + done, count - done, pos_);
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

int64_t TFileStream::Size() { return afp::FileSizeOf(handle_); }

void TFileStream::SetSize(int64_t size) {
  cache_len_ = 0;
  if (!afp::SetFileSizeOf(handle_, size)) throw EWriteError("Cannot change the size of the file");
  if (pos_ > size) pos_ = size;
}

// A file whose bytes the disk refused must not be taken for written (an
// archive renamed into place over the old one, say).
void TFileStream::Flush() {
  if (!afp::FlushFile(handle_)) throw EWriteError("Cannot write file \"" + afp::NativePath(name_) + "\" to the disk");
}

int64_t TFileStream::CopyInSystem(TFileStream& source, int64_t count) {
  const int64_t copied = afp::CopyFileBytes(source.handle_, source.pos_, handle_, pos_, count);
  if (copied <= 0) return 0;
  cache_len_ = 0;
  source.pos_ += copied;
  pos_ += copied;
  return copied;
}

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
