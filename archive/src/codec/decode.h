// Moving one item's data out of the archive: read, (decrypt,) inflate or
// copy, write, and check size and CRC-32.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "crypto/aes_transform.h"
#include "platform/wide.h"

namespace arcfold {

class TAFBaseArchiver;
class TStream;
struct TDirItem;

// What the decoder asks of whoever runs it: the component on the calling
// thread, with its events and questions, or a quiet helper decoding ahead.
class DecodeHost {
 public:
  virtual ~DecodeHost() = default;
  // Progress within the item, in bytes; false stops decoding (a cancel).
  virtual bool Report(int64_t processed) = 0;
  // The password did not fit the item: true to try again with `password`
  // changed, false to give up on the item.
  virtual bool PasswordRefused(std::string& password) = 0;
  // A short write: true to write the block again, false to stop.
  virtual bool WriteFailed() = 0;
  // Whether a cancel has been asked for, checked between chunks.
  virtual bool Stopped() = 0;
  // Whether size-complete data is accepted without its CRC or MAC check.
  virtual bool ChecksWaived() { return false; }
};

// What the decoder needs to know of the archive besides the item.
struct DecodeSettings {
  std::string password;
  TAesKeyDeriver deriver;  // empty: derive in place
  // Local header offsets of every file item, sorted, to refuse items whose
  // data runs into another's header; null when overlaps are allowed.
  const std::vector<int64_t>* sorted_offsets = nullptr;
  int64_t directory_offset = 0;  // data is clamped there; 0 when unknown
  int64_t chunk_size = 1 << 17;
  TAFTuning tuning;  // the inflater and the key derivation follow it
};

enum class DecodeResult { kGood, kBad, kPasswordRefused };

// How many wrong answers in a row the password question may give for one
// item before the item fails.
constexpr int kPasswordAnswersPerItem = 5;

// The archive stream stands at the item's local header. kGood when the
// whole item was decoded and checked; kBad for damaged data, a size or CRC
// mismatch, an unsupported method, a password question given up or a stop;
// kPasswordRefused when the question was answered with the password just
// refused, or with kPasswordAnswersPerItem wrong ones in a row.
DecodeResult DecodeItemStream(DecodeHost& host, DecodeSettings& settings, TStream& archive, TStream& dest,
                              const TDirItem& item);

// The chunk the component's decode moves: large when progress is reported
// per chunk, small enough for the processor's cache when nobody sees it.
int64_t DecodeChunkSize(const TAFBaseArchiver& archiver);

// The bytes an item's progress counts to (an empty item still moves).
int64_t ProgressTotal(const TDirItem& item);

// One progress report of the item being run (encoded or decoded), as file
// and overall progress events, processed bytes of total (a zero total counts
// as done); false when either event cancelled.
bool ReportItemProgress(TAFBaseArchiver& archiver, const TDirItem& item, const afp::WideString& name, int64_t total,
                        int64_t processed);

// The component's decode, with its events and questions: true when the
// whole item was decoded and checked; false for damaged data, a size or CRC
// mismatch, an unsupported method, a skipped password or a cancel. Error 67
// when the password question keeps giving wrong answers.
bool DecodeItemData(TAFBaseArchiver& archiver, TStream& archive, TStream& dest, TDirItem& item);

// Every write of item data: on a short write the disk-full question decides
// between writing the block again and cancelling (false).
bool WriteWithDiskFullRetry(TAFBaseArchiver& archiver, TStream& stream, const void* buffer, int64_t count);

}  // namespace arcfold
