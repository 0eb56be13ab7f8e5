/// @file
/// File and folder services on wide names. Paths are Windows-shaped (either
/// separator); on POSIX "\" is turned into "/" and the name becomes UTF-8.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "arcfold/platform/export.h"
#include "arcfold/platform/file_io.h"
#include "arcfold/platform/wide.h"

namespace afp {

/// Windows file attribute bits.
enum : uint32_t {
  kAttrReadOnly = 0x01,
  kAttrHidden = 0x02,
  kAttrSystem = 0x04,
  kAttrVolume = 0x08,
  kAttrDirectory = 0x10,
  kAttrArchive = 0x20,
  kAttrNormal = 0x80,
};
constexpr uint32_t kInvalidAttributes = 0xFFFFFFFF;  ///< what GetFileAttributes gives when it cannot read them

/// Whether "a.z01" and "A.Z01" name two files.
#ifdef _WIN32
constexpr bool kCaseSensitiveNames = false;
#else
constexpr bool kCaseSensitiveNames = true;
#endif

/// The separator of the paths this system shows and composes.
#ifdef _WIN32
constexpr char kPathSeparator = '\\';
#else
constexpr char kPathSeparator = '/';
#endif

/// Whether a path may begin with a drive ("C:"). Where it may not, ":" is an
/// ordinary character of a file name ("10:00:00.log").
#ifdef _WIN32
constexpr bool kDriveLetters = true;
#else
constexpr bool kDriveLetters = false;
#endif

/// Whether a folder's listing leaves the looks at its entries to a step of
/// their own (FolderListing::LookAtEntries), which another thread can take.
#ifdef _WIN32
constexpr bool kListingLooksApart = false;
#else
constexpr bool kListingLooksApart = true;
#endif

/// Whether a file that is open (with every sharing allowed) blocks a rename
/// over its name.
#ifdef _WIN32
constexpr bool kOpenFilesBlockReplace = true;
#else
constexpr bool kOpenFilesBlockReplace = false;
#endif

/// The path as the system spells it (UTF-8, its own separators): how the
/// library names files in messages and in calls to the system.
ARCFOLD_API std::string NativePath(std::u16string_view path);
/// A path from the system's spelling.
ARCFOLD_API WideString FromNativePath(const std::string& path);

/// What a path leads to.
enum class PathType { None, File, Directory, Link, Other };
/// What is at path, without following a final symbolic link.
ARCFOLD_API PathType GetPathType(std::u16string_view path);

ARCFOLD_API bool FileExists(std::u16string_view path);                          ///< a file, not a folder
ARCFOLD_API bool DirectoryExists(std::u16string_view path);                     ///< a folder
ARCFOLD_API bool CreateDir(std::u16string_view path);                           ///< one level
ARCFOLD_API bool ForceDirectories(std::u16string_view path);                    ///< with all missing parents
ARCFOLD_API bool RemoveDir(std::u16string_view path);                           ///< an empty folder
ARCFOLD_API bool DeleteFile(std::u16string_view path);                          ///< a file
ARCFOLD_API bool RenameFile(std::u16string_view from, std::u16string_view to);  ///< false when it cannot
/// The names of the entries of a folder (no "." or ".."); empty when it cannot be read.
ARCFOLD_API std::vector<WideString> ListDirectory(std::u16string_view path);

/// What adding a file needs to know of it, from one look at it.
struct ARCFOLD_API FileInfo {
  bool exists = false;                       ///< whether something is there
  bool directory = false;                    ///< whether it is a folder
  uint32_t attributes = kInvalidAttributes;  ///< as GetFileAttributes
  int32_t dos_time = -1;                     ///< as GetFileDosDateTime
  /// Where the file system keeps Unix modes: the file type (regular file or
  /// folder) and the permission bits 0777, as the Unix host of ZIP stores
  /// them; 0 elsewhere.
  uint32_t unix_mode = 0;
};
/// An entry of a folder and what it is as GetPathType would say, when the
/// listing tells (most file systems do): a walk then need not look at each
/// entry again. PathType::None: the listing does not tell.
struct DirEntry {
  WideString name;                 ///< the entry's own name, without its folder
  PathType type = PathType::None;  ///< what it is; None when the listing does not say
  /// What GetFileInfo would say of the entry (by the folder's path and
  /// name), filled by ListDirectoryInfo only; info.exists false when the
  /// listing could not tell (then look).
  FileInfo info;
};
/// ListDirectory with what each entry is. When readable is given, it says
/// whether the whole folder could be read: a walk must not take a folder it
/// may not list for an empty one.
ARCFOLD_API std::vector<DirEntry> ListDirectoryEntries(std::u16string_view path, bool* readable = nullptr);
/// ListDirectoryEntries with each entry's FileInfo, from the listing itself
/// where it carries it (Windows) or from a look at each entry relative to the
/// open folder (links followed), which spares the system finding the folder
/// again by its path for every entry.
ARCFOLD_API std::vector<DirEntry> ListDirectoryInfo(std::u16string_view path, bool* readable = nullptr);
/// ListDirectoryInfo in two steps, so that the slower one, the look at each
/// entry, can be made on another thread while the first goes on: making the
/// listing reads the folder's names, LookAtEntries then fills each entry's
/// info. LookAtEntries allocates no memory: a thread that only looks costs
/// the process no heap of its own.
class ARCFOLD_API FolderListing {
 public:
  /// Reads the names of the entries of the folder at path.
  explicit FolderListing(std::u16string_view path);
  ~FolderListing();
  FolderListing(const FolderListing&) = delete;
  FolderListing& operator=(const FolderListing&) = delete;
  /// Fills each entry's info as ListDirectoryInfo does; where the listing
  /// itself carries it (Windows), it is already there.
  void LookAtEntries() noexcept;
  /// Whether the whole folder could be read.
  bool Readable() const { return readable_; }
  /// Whether the path still leads to the folder listed, unchanged since its
  /// names were read (no entry made, removed or renamed); false when that
  /// cannot be told (a change may hide in the file system's time step).
  bool Unchanged() const;
  /// The entries, taken out of the listing.
  std::vector<DirEntry> TakeEntries() { return std::move(entries_); }

 private:
  struct Looks;  // what the system needs to look at the entries later
  std::vector<DirEntry> entries_;
  bool readable_ = false;
  std::unique_ptr<Looks> looks_;
};
/// What the entry at full is: what its listing said, else a look at it.
inline PathType TypeOfEntry(const DirEntry& entry, std::u16string_view full) {
  return entry.type != PathType::None ? entry.type : GetPathType(full);
}

/// Read-only maps to the absence of every write bit; directory to a folder.
/// Hidden, system and archive cannot be kept by this file system and are
/// accepted and dropped on set; files report archive.
///@{
ARCFOLD_API uint32_t GetFileAttributes(std::u16string_view path);
ARCFOLD_API bool SetFileAttributes(std::u16string_view path, uint32_t attrs);
///@}
/// Applies Unix permission bits (masked to 0777).
ARCFOLD_API bool SetUnixMode(std::u16string_view path, uint32_t mode);

/// What is known of the file at path (links followed).
ARCFOLD_API FileInfo GetFileInfo(std::u16string_view path);

/// The file or folder that path leads to, links followed: its kind (File,
/// Directory or Other, such as a FIFO, a socket or a device; None when
/// nothing is there) and an identity that two names of one file share.
struct ARCFOLD_API FileTarget {
  PathType type = PathType::None;  ///< what is there
  uint64_t device = 0;             ///< the file system it is on
  uint64_t index = 0;              ///< its number on that file system
  /// Whether two looks found one file (never when either found nothing).
  bool SameFileAs(const FileTarget& o) const {
    return type != PathType::None && o.type != PathType::None && device == o.device && index == o.index;
  }
};
/// The file or folder path leads to.
ARCFOLD_API FileTarget GetFileTarget(std::u16string_view path);

/// Size and last-write time (in the system's finest unit) of a file: a file
/// written to between two looks gives two different stamps. Size -1 when the
/// file cannot be looked at.
struct ARCFOLD_API FileStamp {
  int64_t size = -1;                                  ///< bytes
  int64_t write_time = 0;                             ///< the last write, in the system's unit
  bool operator==(const FileStamp&) const = default;  ///< field by field
};
/// The stamp of the file at path, or of an open file.
///@{
ARCFOLD_API FileStamp GetFileStamp(std::u16string_view path);
ARCFOLD_API FileStamp GetFileStampFd(FileHandle h);
///@}
/// A file opened to read, as OpenFile opens it, and its stamp, from the one
/// look that also tells it from a folder; kNoFile when it does not open.
ARCFOLD_API FileHandle OpenFileStamped(std::u16string_view path, FileStamp& stamp);

/// DOS date-time (date high, time low) of the file's last write, read as local
/// time; -1 when it cannot be read.
ARCFOLD_API int32_t GetFileDosDateTime(std::u16string_view path);
/// Sets the last-write time of a file (by path or open handle) from DOS
/// fields (local time); false when it cannot.
///@{
ARCFOLD_API bool SetFileDosDateTime(std::u16string_view path, uint16_t dos_date, uint16_t dos_time);
ARCFOLD_API bool SetFileDosDateTimeFd(FileHandle fd, uint16_t dos_date, uint16_t dos_time);
///@}
/// Sets the last-write time of an open file to a Unix time (seconds).
ARCFOLD_API bool SetFileUnixTimeFd(FileHandle fd, int64_t unix_time);

/// The current time as a Unix time (seconds).
ARCFOLD_API int64_t UnixNow();
ARCFOLD_API int64_t DosDateTimeToUnix(uint16_t dos_date, uint16_t dos_time);  ///< local time
ARCFOLD_API uint32_t UnixToDosDateTime(int64_t unix_time);                    ///< local time

/// "A:"/"B:" never exist here; a path on a block device whose
/// /sys/block/*/removable says 1 is removable.
ARCFOLD_API bool IsRemovablePath(std::u16string_view path);
/// The same test for an open file (answers are cached per device).
ARCFOLD_API bool IsRemovableFd(FileHandle fd);
/// Applies Windows attributes (read-only) and, when unix_mode is not 0, the
/// Unix permission bits masked to 0777, to an open file in one call.
ARCFOLD_API bool SetFdAttributes(FileHandle fd, uint32_t attrs, uint32_t unix_mode);
/// Bytes the caller may still write on the drive of path (a file need not
/// exist yet); -1 when unknown.
ARCFOLD_API int64_t FreeDiskSpace(std::u16string_view path);
/// Names the medium holding path; false where labels cannot be set.
ARCFOLD_API bool SetVolumeLabel(std::u16string_view path, const std::string& label);
/// path itself when something is there; else, where names are case
/// sensitive, the one entry of its folder spelt like it ignoring case; else
/// path unchanged.
ARCFOLD_API WideString ExistingSpelling(std::u16string_view path);

/// The process's current folder.
///@{
ARCFOLD_API WideString GetCurrentDir();
ARCFOLD_API bool SetCurrentDir(std::u16string_view path);
///@}
/// A name in folder (with or without a final separator, or empty for the
/// current folder) that this process has not handed out before and that is
/// meant for a file created exclusively: ".arcfold-<process>-<n>.tmp".
ARCFOLD_API WideString UniqueTempName(std::u16string_view folder);
/// Whether a file name (without its folder) has the form UniqueTempName gives.
inline bool IsUniqueTempName(std::u16string_view name) {
  return name.starts_with(u".arcfold-") && name.ends_with(u".tmp");
}
/// The longest path the file functions take without a long-path prefix.
#ifdef _WIN32
constexpr size_t kMaxPathChars = 259;
#else
constexpr size_t kMaxPathChars = 4095;
#endif
/// Gives to the permission bits of from (a new file that replaces it keeps
/// what the old one allowed).
ARCFOLD_API bool CopyPermissions(std::u16string_view from, std::u16string_view to);
/// Renames from over to, replacing a file (or link) that is there, in one step.
ARCFOLD_API bool ReplaceFile(std::u16string_view from, std::u16string_view to);
/// Whether the file at path could be deleted or replaced now, found out
/// without changing it: not a folder, not held by a running program or an
/// open handle that forbids it (Windows), in a folder this process may
/// change. True when nothing is there.
ARCFOLD_API bool FileReplaceable(std::u16string_view path);
/// Renames from to to only when nothing is named to (false when something is).
ARCFOLD_API bool RenameNoReplace(std::u16string_view from, std::u16string_view to);
/// Makes the entries of the folder holding path (a rename into it) survive a
/// power loss.
ARCFOLD_API void SyncFolderOf(std::u16string_view path);
/// The file a chain of symbolic links at path ends in; path itself when it
/// is not a link (or the chain cannot be followed).
ARCFOLD_API WideString FinalLinkTarget(std::u16string_view path);
/// Whether a process with this id runs on this machine (one that merely
/// cannot be signalled counts as running).
ARCFOLD_API bool ProcessExists(int64_t pid);
/// Deletes the temporary files of UniqueTempName in folder that belong to
/// processes that no longer run (a kill leaves them behind). Cheap to call
/// again: each folder is looked at once per process.
ARCFOLD_API void RemoveDeadTempFiles(std::u16string_view folder);
/// A new, empty, uniquely named file in dir (created so the name is reserved).
ARCFOLD_API WideString TempFileName(std::u16string_view dir, std::u16string_view prefix);
/// The system's folder for temporary files.
ARCFOLD_API WideString TempDirectory();

}  // namespace afp
