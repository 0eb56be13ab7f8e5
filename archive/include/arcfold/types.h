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
enum TAFProgressPhase : uint8_t { ppStart, ppProcess, ppEnd };
enum TAFAction : uint8_t { fxaRetry, fxaIgnore, fxaAbort };
enum TAFOverwriteMode : uint8_t { omPrompt, omAlways, omNever, omIfNewer, omIfOlder };
enum TAFStorePathMode : uint8_t { spNoPath, spRelativePath, spFullPath, spFullPathWithDrive };
enum TAFFileShareMode : uint8_t { smShareCompat, smShareExclusive, smShareDenyWrite, smShareDenyRead, smShareDenyNone };
enum TAFSpanningMode : uint8_t { smNone, smSpanning, smSplitting };
enum TZip64Mode : uint8_t { zmDisabled, zmAuto, zmAlways };
enum TAFCryptoAlgorithm : uint8_t { caPkzipClassic, caAES_128, caAES_192, caAES_256 };
enum TAFCompressionLevel : uint8_t { clNone, clFastest, clNormal, clMax };
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
  /// ISA-L's deflate for the fast modes where the build has it
  /// (ARCFOLD_DEFLATE=zlib: zlib's).
  TAFTuningSwitch FastDeflate = tsDefault;
  /// The processor's SHA instructions, where it has them, for AES keys
  /// (ARCFOLD_SHA1=portable: the portable code).
  TAFTuningSwitch ShaInstructions = tsDefault;

  /// The same with every switch left at tsDefault set as the environment
  /// says: tsOff where its variable asks for the reference path, else tsOn.
  TAFTuning WithEnvironment() const;
};

class ARCFOLD_API TAFOptions {
 public:
  bool Recurse = true;
  TAFStorePathMode StorePath = spRelativePath;
  TAFFileShareMode ShareMode = smShareDenyNone;
  TAFOverwriteMode OverwriteMode = omAlways;
  bool CreateDirs = true;
  bool ReplaceReadOnly = true;
  bool SetAttributes = true;
  int32_t SearchAttr = kAnyAttributes;
  bool FlushBuffers = true;
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
  TAFTuning Tuning;

  /// Copies every field; ShareMode too, since a copy is expected to behave alike.
  void Assign(const TAFOptions& other) { *this = other; }
};

class ARCFOLD_API TAFSpanningOptions {
 public:
  bool AdvancedNaming = false;
  int64_t FirstVolumeSize = 0;
  TAFVolumeSize VolumeSize = vsAutoDetect;
  bool SaveDirToFirstVolume = false;

  int64_t CustomVolumeSize() const { return custom_volume_size_; }
  /// Values below 65536 store 65536.
  void SetCustomVolumeSize(int64_t v) { custom_volume_size_ = v < 65536 ? 65536 : v; }
  /// Size limit of the VolumeSize setting (-1: the medium decides).
  int64_t VolumeSizeLimit() const;
  /// Limit of a given volume: FirstVolumeSize for the first one when set.
  int64_t LimitOf(int volume_number) const;
  void Assign(const TAFSpanningOptions& other) { *this = other; }

 private:
  int64_t custom_volume_size_ = 0;
};

enum TAFVolumeKind : uint8_t { vkFirst, vkLast, vkCustom, vkUnknown };

class ARCFOLD_API TAFVolumeNumberInfo {
 public:
  TAFVolumeKind Kind = vkUnknown;
  int32_t VolumeNumber = -1;
  int32_t LastVolumeNumber = -1;

  void Reset() { *this = TAFVolumeNumberInfo(); }
  void MarkFirst() {
    Kind = vkFirst;
    VolumeNumber = 0;
  }
  void MarkLast() {
    Kind = vkLast;
    VolumeNumber = LastVolumeNumber;
  }
  void SetNumber(int32_t n) {
    Kind = vkCustom;
    VolumeNumber = n;
  }
  bool IsFirst() const { return VolumeNumber == 0; }
  bool IsLast() const { return LastVolumeNumber >= 0 ? VolumeNumber == LastVolumeNumber : Kind == vkLast; }
  bool SameVolume(const TAFVolumeNumberInfo& other) const;
};

}  // namespace arcfold
