// The directory of one open archive: finding the end record, reading the
// central directory (or rebuilding it from local headers), measuring a
// self-extractor stub, and writing the directory back.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "arcfold/dir_array.h"
#include "arcfold/records.h"
#include "arcfold/types.h"
#include "platform/codepage.h"
#include "platform/wide.h"
#include "volumes/volume_source.h"

namespace arcfold {

class TStream;

// DataFits over a sorted list of local header offsets, for a reader that
// holds a copy of it.
bool DataFitsBetween(const std::vector<int64_t>& sorted_offsets, int64_t local_offset, int64_t data_end);

// The settings of the component that decide how a directory is read and
// written; they are asked for each time, as they may change while the
// archive is open.
class TAFDirSettings {
 public:
  virtual const TAFSignatureSet& Signatures() const = 0;
  virtual bool StandardSignatures() const = 0;
  // Whether a directory that cannot be used is rebuilt from local headers.
  virtual bool OpenDamaged() const = 0;
  // Whether names without the UTF-8 flag are in the OEM code page.
  virtual bool OemNames() const = 0;
  virtual const afp::CodePagePair& NameCodePages() const = 0;
  // The self-extractor stub a new archive starts with; empty: none.
  virtual const afp::WideString& StubFile() const = 0;
  // The size limit of a set's first volume; -1: none.
  virtual int64_t FirstVolumeLimit() const = 0;

 protected:
  ~TAFDirSettings() = default;
};

class TAFDirManager {
 public:
  TAFDirManager(TAFVolumeSource& volumes, const TAFDirSettings& settings, bool new_archive);

  TAFDirArray& Items() { return items_; }
  const TAFDirArray& Items() const { return items_; }
  // The items as they were when the transaction under way began.
  TAFDirArray& SavedItems() { return saved_items_; }
  const std::string& Comment() const { return comment_; }
  void SetComment(const std::string& comment) { comment_ = comment; }
  const TEndRecord& EndRecord() const { return end_record_; }
  bool IsZip64() const { return is_zip64_; }
  // The bytes before the first item (a self-extractor stub).
  int64_t StubLength() const { return stub_length_; }
  int64_t DirectoryOffset() const { return directory_offset_; }
  // The directory came from the recovery scan.
  bool Recovered() const { return recovered_; }
  // The directory held more central headers than its end record counts.
  bool ExtraEntriesFound() const { return extra_entries_found_; }

  // Whether the archive's end record is found (or a damaged archive may be
  // opened all the same).
  bool CheckEndRecord();
  void ReadDirectory();
  // Reads the central directory one header at a time and hands each item to
  // visit as it is read, keeping none (Items() stays empty); visit returns
  // false to stop. Only the plain case is walked: one volume, a directory
  // whose first header reads and no bytes before the first item. Otherwise
  // nothing is visited and false is returned: the caller reads the whole
  // directory with ReadDirectory. A header past the first that does not
  // read raises EReadError, as the items before it were already visited.
  bool WalkDirectory(const std::function<bool(const TDirItem&)>& visit);
  // The central directory and the end records after the last byte of
  // stream (null: the archive's current stream).
  void WriteDirectory(TStream* stream = nullptr);
  // The ZIP64 end records when size or count need them, then the end record
  // and the comment, for a directory of Items().Count() headers that starts
  // at dir_start and ends at out's position.
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

  // Volume numbers of the end records (0xFFFF resolved through ZIP64).
  uint32_t FirstDisk() const;
  uint32_t LastDisk() const;

 private:
  void ResetDirectory();
  bool FindEndRecord(uint32_t signature, int64_t& position);
  // The stream read or written now: the archive's current volume, or the
  // whole set while its directory is read across volumes.
  TStream& In();
  void CopyStub();
  bool ValidateCandidate(int64_t pos, int64_t stream_size);
  // The end record, in the signature set in use (or the standard one).
  bool LocateEndRecord(int64_t& position);
  // Forgets the directory read before and finds the end record at
  // end_pos; false when there is none.
  bool StartReading(int64_t& end_pos);
  // Where the central directory of one volume starts and how many headers
  // its end records count; false when the directory bytes cannot hold them.
  bool DirectoryExtent(int64_t end_pos, int64_t records_start, int64_t& start, int64_t& count) const;
  // Whether the directory can be walked header by header (see WalkDirectory).
  bool WalkableDirectory(int64_t& records_start, int64_t& count);
  // The headers after the first, counted and uncounted, each handed to
  // visit; false when visit stopped the walk.
  bool WalkRemainingHeaders(int64_t count, int64_t records_start, TDirItem& item,
                            const std::function<bool(const TDirItem&)>& visit);
  // Whether a further central header starts at the current position, before
  // records_start.
  bool CentralHeaderFollows(int64_t records_start);
  // The ZIP64 locator and end record before the end record at end_pos;
  // returns where the records before the end record start.
  int64_t ReadZip64Records(int64_t end_pos);
  // The central directory of a one-volume archive whose end records start
  // at records_start.
  void ReadSingleDirectory(int64_t end_pos, int64_t records_start);
  // Central headers past the count of the end record, up to records_start.
  void ReadUncountedHeaders(int64_t records_start);
  void ReadCentralHeaders(int64_t count);
  // The central directory of a split or spanned set, from its first disk on.
  void ReadVolumeDirectory();
  void ReadCentralHeader(int index);
  // One central header at the current position into item, named by its
  // name bytes or the unicode name field that wins.
  void ReadCentralRecord(TDirItem& item);
  // Positions of each signature (with at least its min_tail bytes to the
  // end of the stream) in one forward pass over the stream.
  std::vector<std::vector<int64_t>> ScanSignatures(const std::vector<uint32_t>& signatures,
                                                   const std::vector<int64_t>& min_tails);
  // The extra area of item at the current position; returns the name a
  // unicode name field gives, if any.
  std::optional<afp::WideString> ReadItemExtra(TDirItem& item, uint16_t length, const std::string& raw_name);
  void InterpretExtra(TDirItem& item, const TExtraField& field, const std::string& raw_name,
                      std::optional<afp::WideString>& unicode_name);
  void DetectStub(int64_t end_records_pos);
  // The stub length from the first item of the directory.
  void DetectStubBefore(const TDirItem& first);
  void ShiftOffsets();
  void RecoveryScan(bool end_candidate_met);
  // One item from the local header at pos; false when it is left out.
  bool RecoverItem(int64_t pos, const std::vector<int64_t>& descriptors);
  // Sizes and CRC from the first data descriptor after the header at pos.
  void ApplyDataDescriptor(int index, int64_t pos, const std::vector<int64_t>& descriptors);
  int64_t SearchSignature(uint32_t signature, int64_t from, size_t block, int64_t min_tail);
  afp::WideString DecodeName(const std::string& raw, uint16_t flags) const;
  // Makes volume the archive's current one and reads from it.
  void SwitchVolume(const TAFVolumeNumberInfo& volume);

  TAFVolumeSource& volumes_;
  const TAFDirSettings& settings_;
  // Set while the directory of a set is read across its volumes.
  TStream* reading_ = nullptr;
  TAFDirArray items_;
  TAFDirArray saved_items_;
  std::string comment_;
  TEndRecord end_record_;
  TZip64Locator zip64_locator_;
  TZip64EndRecord zip64_end_record_;
  bool is_zip64_ = false;
  int64_t stub_length_ = 0;
  int64_t directory_offset_ = 0;
  // The end record search met a candidate carrying the standard signature
  // (decides whether OEM names are converted).
  bool standard_end_found_ = false;
  bool recovered_ = false;
  bool extra_entries_found_ = false;
  std::vector<int64_t> sorted_offsets_;
  bool offsets_ready_ = false;
};

}  // namespace arcfold
