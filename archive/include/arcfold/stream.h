/// @file
/// Byte streams the component reads archives from and writes items to.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "arcfold/export.h"
#include "arcfold/platform/wide.h"

namespace arcfold {

/// Where a TStream::Seek offset counts from.
enum class SeekOrigin { Begin, Current, End };

/// A stream of bytes the component reads archives and items from and writes them to: the archive file, a memory buffer,
/// an item's source or destination. A stream is used by one thread at a time.
class ARCFOLD_API TStream {
 public:
  virtual ~TStream() = default;
  /// Reads up to count bytes; returns how many arrived (0 at the end).
  virtual int64_t Read(void* buffer, int64_t count) = 0;
  /// Writes up to count bytes; returns how many were taken.
  virtual int64_t Write(const void* buffer, int64_t count) = 0;
  /// Moves the position by offset from origin; returns the new position.
  virtual int64_t Seek(int64_t offset, SeekOrigin origin) = 0;
  /// The length in bytes.
  virtual int64_t Size();
  /// Cuts or extends the stream to size bytes.
  virtual void SetSize(int64_t size) = 0;
  /// Hands what is written to the system (to the disk for a file).
  virtual void Flush() {}

  /// The position of the next read or write.
  int64_t Position() { return Seek(0, SeekOrigin::Current); }
  /// Moves to pos from the start.
  void SetPosition(int64_t pos) { Seek(pos, SeekOrigin::Begin); }
  /// Full reads and writes: a short one raises EReadError / EWriteError.
  ///@{
  void ReadBuffer(void* buffer, int64_t count);
  void WriteBuffer(const void* buffer, int64_t count);
  ///@}
  /// Copies count bytes from source (all of it from its start when count is 0).
  int64_t CopyFrom(TStream& source, int64_t count);
};

/// File mode codes as the component passes them around.
enum : uint16_t {
  fmCreate = 0xFFFF,            ///< create, emptying a file that exists
  fmCreateNew = 0xFFFE,         ///< create, failing when the name exists
  fmCreateNewPrivate = 0xFFFD,  ///< the same, readable by its owner only (a copy of a private file)
  fmOpenRead = 0x0000,
  fmOpenWrite = 0x0001,
  fmOpenReadWrite = 0x0002,
  fmShareExclusive = 0x0010,
  fmShareDenyWrite = 0x0020,
  fmShareDenyNone = 0x0040,
};

/// A file on disk. Reads go through a small cache so that the many small reads
/// of directory parsing do not each become a system call.
class ARCFOLD_API TFileStream : public TStream {
 public:
  /// Raises EFOpenError when the file cannot be opened or created.
  TFileStream(const afp::WideString& file_name, uint16_t mode);
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, SeekOrigin origin) override;
  int64_t Size() override;
  void SetSize(int64_t size) override;
  /// Raises EWriteError when the disk refuses what was written.
  void Flush() override;
  /// The platform layer's handle of the open file.
  intptr_t Handle() const { return handle_; }
  /// The name it was opened by.
  const afp::WideString& FileName() const { return name_; }
  /// Copies count bytes from source's position to this one's inside the
  /// system where it can (both positions move on); the bytes copied.
  int64_t CopyInSystem(TFileStream& source, int64_t count);

 private:
  intptr_t handle_ = -1;
  afp::WideString name_;
  int64_t pos_ = 0;
  std::vector<unsigned char> cache_;
  int64_t cache_start_ = 0;
  int64_t cache_len_ = 0;
};

/// Bytes in memory: an in-memory archive, or an item decoded into memory (TAFBaseArchiver::DecodeItem).
class ARCFOLD_API TMemoryStream : public TStream {
 public:
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, SeekOrigin origin) override;
  int64_t Size() override { return static_cast<int64_t>(data_.size()); }
  void SetSize(int64_t size) override { data_.resize(static_cast<size_t>(size)); }
  /// The bytes held, to read or change in place.
  std::vector<unsigned char>& Data() { return data_; }
  /// Writes the bytes held to a file (EFOpenError when it cannot be created).
  void SaveToFile(const afp::WideString& file_name);

 private:
  std::vector<unsigned char> data_;
  int64_t pos_ = 0;
};

/// Discards whatever is written; used to test items.
class ARCFOLD_API TNullStream : public TStream {
 public:
  int64_t Read(void*, int64_t count) override { return count; }
  int64_t Write(const void*, int64_t count) override { return count; }
  int64_t Seek(int64_t, SeekOrigin) override { return 0; }
  int64_t Size() override { return 0; }
  void SetSize(int64_t) override {}
};

}  // namespace arcfold
