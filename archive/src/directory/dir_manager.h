// The directory of one open archive: finding the end record, reading the
// central directory (or rebuilding it from local headers), measuring a
// self-extractor stub, and writing the directory back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "arcfold/dir_array.h"
#include "arcfold/records.h"
#include "arcfold/types.h"

namespace arcfold {

class TAFBaseArchiver;
class TStream;

// DataFits over a sorted list of local header offsets, for a reader that
// holds a copy of it.
bool DataFitsBetween(const std::vector<int64_t>& sorted_offsets, int64_t local_offset, int64_t data_end);

class TAFDirManager {
 public:
  TAFDirManager(TStream* stream, TAFBaseArchiver* archiver, bool new_archive);

  TStream* ArchiveStream;
  bool ExternalStream = false;
  bool NewArchive;
  TAFBaseArchiver* Archiver;
  TAFDirArray Items;
  TAFDirArray SavedItems;
  std::string Comment;
  TEndRecord EndRecord;
  TZip64Locator Zip64Locator;
  TZip64EndRecord Zip64EndRecord;
  bool IsZip64 = false;
  int64_t StubLength = 0;
  int64_t DirectoryOffset = 0;
  // The end record search met a candidate carrying the standard signature
  // (decides whether OEM names are converted).
  bool StandardEndFound = false;
  // The directory came from the recovery scan.
  bool Recovered = false;
  // The directory held more central headers than its end record counts.
  bool ExtraEntriesFound = false;

  void ResetDirectory();
  void CopyStub();
  bool FindEndRecord(uint32_t signature, int64_t& position);
  bool CheckEndRecord();
  void ReadDirectory();
  void WriteDirectory(TStream* stream = nullptr);
  // The ZIP64 end records when size or count need them, then the end record
  // and the comment, for a directory of Items.Count() headers that starts at
  // dir_start and ends at out's position.
  void WriteEndRecords(TStream& out, int64_t dir_start);
  // The same for a directory of dir_size bytes that starts at dir_start on
  // volume dir_disk, the records going to volume this_disk.
  void WriteEndRecords(TStream& out, int64_t dir_start, uint32_t dir_disk, int64_t dir_size, uint32_t this_disk);

  // Whether an item's data, from its local header at local_offset to
  // data_end, stays clear of every other item's local header, and no other
  // item shares that header. Overlapping items are how a small archive
  // inflates to terabytes; sound archives never have them.
  bool DataFits(int64_t local_offset, int64_t data_end) {
    return DataFitsBetween(SortedLocalOffsets(), local_offset, data_end);
  }
  // The local header offsets of every file item, sorted (built once).
  const std::vector<int64_t>& SortedLocalOffsets();

  // Makes volume the archive's current one and reads from it (nothing
  // changes on an external stream).
  void SwitchVolume(const TAFVolumeNumberInfo& volume);

  // Volume numbers of the end records (0xFFFF resolved through ZIP64).
  uint32_t FirstDisk() const;
  uint32_t LastDisk() const;

 private:
  bool ValidateCandidate(int64_t pos, int64_t stream_size);
  void ReadCentralHeaders(int64_t count);
  // The central directory of a split or spanned set, from its first disk on.
  void ReadVolumeDirectory();
  void ReadCentralHeader(int index);
  // Positions of each signature (with at least its min_tail bytes to the
  // end of the stream) in one forward pass over the stream.
  std::vector<std::vector<int64_t>> ScanSignatures(const std::vector<uint32_t>& signatures,
                                                   const std::vector<int64_t>& min_tails);
  void ReadItemExtra(int index, uint16_t length, const std::string& raw_name);
  void InterpretExtra(TDirItem& item, int index, const TExtraField& field, const std::string& raw_name,
                      bool& unicode_name_set);
  void DetectStub(int64_t end_records_pos);
  void ShiftOffsets();
  void RecoveryScan(bool end_candidate_met);
  int64_t SearchSignature(uint32_t signature, int64_t from, size_t block, int64_t min_tail);
  afp::WideString DecodeName(const std::string& raw, uint16_t flags) const;

  std::vector<int64_t> sorted_offsets_;
  bool offsets_ready_ = false;
};

}  // namespace arcfold
