/// @file
/// Enumerations and option objects of the archive component.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "arcfold/export.h"

namespace arcfold {

/// The attribute mask of a search that selects every file and folder: the
/// default mask of each search, add, extract and delete call.
constexpr uint32_t kAnyAttributes = 10431;

/// What a run or an event is about: adding, moving, deleting, updating, extracting, testing, renaming, ...
enum TAFProcessOperation : uint8_t {
  poAdd,
  poMove,
  poDelete,
  poUpdate,
  poExtract,
  poTest,
  poRename,
  poChangeAttr,
  poChangeComment,
  poMakeSFX,
  poMerge
};
/// Where a progress event stands in its item or run.
enum TAFProgressPhase : uint8_t { ppStart, ppProcess, ppEnd };
/// A failure handler's answer: try again, pass the item over, or end the run.
enum TAFAction : uint8_t { fxaRetry, fxaIgnore, fxaAbort };
/// Whether an existing file (or item) is replaced: ask, always, never, or by its time.
enum TAFOverwriteMode : uint8_t { omPrompt, omAlways, omNever, omIfNewer, omIfOlder };
/// How much of an added file's path its item name keeps.
enum TAFStorePathMode : uint8_t { spNoPath, spRelativePath, spFullPath, spFullPathWithDrive };
/// What others may do with the archive file while it is open.
enum TAFFileShareMode : uint8_t { smShareCompat, smShareExclusive, smShareDenyWrite, smShareDenyRead, smShareDenyNone };
/// One file, volumes on removable media (spanning), or volumes of a set size (splitting).
enum TAFSpanningMode : uint8_t { smNone, smSpanning, smSplitting };
/// When ZIP64 records are written: never, when sizes need them, always.
enum TZip64Mode : uint8_t { zmDisabled, zmAuto, zmAlways };
/// The encryption of new items: the classic PKZIP cipher or WinZip AES.
enum TAFCryptoAlgorithm : uint8_t { caPkzipClassic, caAES_128, caAES_192, caAES_256 };
/// The deflate level of new items, from stored to maximum.
enum TAFCompressionLevel : uint8_t { clNone, clFastest, clNormal, clMax };
/// The method new items are compressed with: deflate, or store (no
/// compression), or one of the methods that need a newer reader (bzip2 from
/// version 4.6, LZMA, xz and zstd from 6.3). The compression mode (0-9) maps
/// onto each method's own levels.
enum TAFCompressionMethod : uint8_t { cmDeflate, cmStore, cmBZip2, cmLZMA, cmXz, cmZstd };
/// Whether this build has the library that writes (and reads) the method.
ARCFOLD_API bool CompressionMethodAvailable(TAFCompressionMethod method);
/// The volume size of a split archive: the medium's, a custom size, or a standard medium's.
enum TAFVolumeSize : uint8_t {
  vsAutoDetect,
  vsCustom,
  vs1_44MB,
  vs100MB,
  vs200MB,
  vs250MB,
  vs600MB,
  vs650MB,
  vs700MB,
  vs4700MB
};

/// Where AES key material comes from: by default PBKDF2 on the spot; an
/// extraction run may hand in material derived ahead of time.
using TAesKeyDeriver =
    std::function<std::vector<uint8_t>(const std::string& password, const std::vector<uint8_t>& salt, size_t length)>;

/// A switch of TAFTuning. tsDefault leaves the choice to the environment
/// variable named at the field (read once per process), and without it
/// takes the fast path.
enum TAFTuningSwitch : uint8_t { tsDefault, tsOn, tsOff };

/// The component's fast paths, each of which can be turned off to compare
/// with the reference path or to measure it; none of them changes an
/// archive, a file extracted or an event.
struct ARCFOLD_API TAFTuning {
  /// Helper threads: compression on a second core, extraction ahead, AES
  /// keys derived ahead (ARCFOLD_PARALLEL=off: everything on the calling
  /// thread).
  TAFTuningSwitch Parallel = tsDefault;
  /// ISA-L's inflate where the build has it (ARCFOLD_INFLATE=zlib: zlib's).
  TAFTuningSwitch FastInflate = tsDefault;
  /// The fast compressors where the build has them: ISA-L's for mode 1,
  /// libdeflate's for modes 2-9 (ARCFOLD_DEFLATE=zlib: zlib at every mode).
  TAFTuningSwitch FastDeflate = tsDefault;
  /// The processor's SHA instructions, where it has them, for AES keys
  /// (ARCFOLD_SHA1=portable: the portable code).
  TAFTuningSwitch ShaInstructions = tsDefault;

  /// The same with every switch left at tsDefault set as the environment
  /// says: tsOff where its variable asks for the reference path, else tsOn.
  TAFTuning WithEnvironment() const;
};

/// How the runs treat files and names (TAFBaseArchiver::Options()).
class ARCFOLD_API TAFOptions {
 public:
  /// Folders matched by a mask are added with what they hold.
  bool Recurse = true;
  /// How much of an added file's path its item name keeps.
  TAFStorePathMode StorePath = spRelativePath;
  /// What others may do with the archive while it is open.
  TAFFileShareMode ShareMode = smShareDenyNone;
  /// Whether extracting replaces an existing file (omPrompt asks).
  TAFOverwriteMode OverwriteMode = omAlways;
  /// Extraction creates the folders of item names.
  bool CreateDirs = true;
  /// Read-only files may be replaced.
  bool ReplaceReadOnly = true;
  /// Extracted files get the items' attributes (and Unix modes).
  bool SetAttributes = true;
  /// The attribute mask of searches that take none.
  int32_t SearchAttr = kAnyAttributes;
  /// Written files are flushed to the disk before a run reports them done.
  bool FlushBuffers = true;
  /// Names without the UTF-8 flag use the OEM code page (else the ANSI one).
  bool OEMFileNames = true;
  /// Names that would land outside the destination folder (".." segments, an
  /// absolute path, a drive or a share) are refused unless this is set.
  bool AllowAbsolutePaths = false;
  /// A folder below the destination that is a symbolic link is not written
  /// through (the item fails) unless this is set.
  bool AllowLinksInDestination = false;
  /// Items whose data overlaps another item's local header or data (the shape
  /// of a "zip bomb" that packs one kernel many times) fail as damaged unless
  /// this is set, for recovering what such an archive holds.
  bool AllowOverlappingItems = false;
  /// A transaction on an archive that another program is writing waits until
  /// that one is done; off, it fails at once (error 36 naming the archive).
  bool WaitForOtherWriters = true;
  /// Where a build lacks a method's library, items are deflated instead.
  TAFCompressionMethod CompressionMethod = cmDeflate;
  /// The fast paths (all on by default).
  TAFTuning Tuning;

  /// Copies every field; ShareMode too, since a copy is expected to behave alike.
  void Assign(const TAFOptions& other) { *this = other; }
};

/// How volumes are named and sized (TAFBaseArchiver::SpanningOptions()).
class ARCFOLD_API TAFSpanningOptions {
 public:
  /// Volumes are named NAME.001, NAME.002, ... instead of NAME.z01, NAME.z02, ..., NAME.zip.
  bool AdvancedNaming = false;
  /// The first volume's size limit (0: as the others).
  int64_t FirstVolumeSize = 0;
  /// The volumes' size limit.
  TAFVolumeSize VolumeSize = vsAutoDetect;
  /// The central directory goes to the first volume.
  bool SaveDirToFirstVolume = false;

  /// The size of vsCustom volumes.
  int64_t CustomVolumeSize() const { return custom_volume_size_; }
  /// Values below 65536 store 65536.
  void SetCustomVolumeSize(int64_t v) { custom_volume_size_ = v < 65536 ? 65536 : v; }
  /// Size limit of the VolumeSize setting (-1: the medium decides).
  int64_t VolumeSizeLimit() const;
  /// Limit of a given volume: FirstVolumeSize for the first one when set.
  int64_t LimitOf(int volume_number) const;
  /// Copies every field.
  void Assign(const TAFSpanningOptions& other) { *this = other; }

 private:
  int64_t custom_volume_size_ = 0;
};

/// Which volume a TAFVolumeNumberInfo names.
enum TAFVolumeKind : uint8_t { vkFirst, vkLast, vkCustom, vkUnknown };

/// The volume a spanned or split archive is at (TAFBaseArchiver::VolumeInfo()).
class ARCFOLD_API TAFVolumeNumberInfo {
 public:
  /// Which volume is meant.
  TAFVolumeKind Kind = vkUnknown;
  /// Its number from 0 (-1: not known).
  int32_t VolumeNumber = -1;
  /// The last volume's number (-1: not known yet).
  int32_t LastVolumeNumber = -1;

  /// Back to no volume known.
  void Reset() { *this = TAFVolumeNumberInfo(); }
  /// The first volume.
  void MarkFirst() {
    Kind = vkFirst;
    VolumeNumber = 0;
  }
  /// The last volume (the one holding the central directory).
  void MarkLast() {
    Kind = vkLast;
    VolumeNumber = LastVolumeNumber;
  }
  /// Volume n.
  void SetNumber(int32_t n) {
    Kind = vkCustom;
    VolumeNumber = n;
  }
  /// Whether it is the first volume.
  bool IsFirst() const { return VolumeNumber == 0; }
  /// Whether it is the last volume.
  bool IsLast() const { return LastVolumeNumber >= 0 ? VolumeNumber == LastVolumeNumber : Kind == vkLast; }
  /// Whether both name the same volume.
  bool SameVolume(const TAFVolumeNumberInfo& other) const;
};

}  // namespace arcfold
