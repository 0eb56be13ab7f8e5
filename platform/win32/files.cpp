#include "platform/files.h"

#include "windows_api.h"

#include <atomic>
#include <ctime>
#include <map>
#include <mutex>

#include "wide_path.h"

namespace afp {

using win32::FromWide;
using win32::WidePath;

std::string NativePath(std::u16string_view path) {
  std::string p = ToUtf8(path);
  for (auto& c : p)
    if (c == '/') c = '\\';
  return p;
}

WideString FromNativePath(const std::string& path) { return FromUtf8(path); }

namespace {

DWORD AttributesOf(std::u16string_view path) {
  if (path.empty()) return INVALID_FILE_ATTRIBUTES;
  return ::GetFileAttributesW(WidePath(path).c_str());
}

// The folder part of a path ("C:\a\b.zip" -> "C:\a\"), "" when it has none.
WideString FolderOf(std::u16string_view path) {
  const size_t cut = path.find_last_of(u"\\/:");
  return cut == std::u16string_view::npos ? WideString() : WideString(path.substr(0, cut + 1));
}

// The nearest existing folder at or above path: a file about to be
// created is judged by the folder it goes into.
std::wstring ExistingFolder(std::u16string_view path) {
  WideString p(path.empty() ? GetCurrentDir() : WideString(path));
  for (;;) {
    const DWORD a = AttributesOf(p);
    if (a != INVALID_FILE_ATTRIBUTES) {
      if (a & FILE_ATTRIBUTE_DIRECTORY) return WidePath(p);
    }
    while (!p.empty() && (p.back() == u'\\' || p.back() == u'/')) p.pop_back();
    WideString up = FolderOf(p);
    if (up.empty() || up == p) return WidePath(GetCurrentDir());
    p = up;
  }
}

// The root of the volume holding path ("C:\", "\\server\share\").
std::wstring VolumeRoot(std::u16string_view path) {
  wchar_t full[MAX_PATH + 1], root[MAX_PATH + 1];
  const std::wstring folder = ExistingFolder(path);
  if (!::GetFullPathNameW(folder.c_str(), MAX_PATH, full, nullptr)) return std::wstring();
  if (!::GetVolumePathNameW(full, root, MAX_PATH)) return std::wstring();
  return root;
}

}  // namespace

namespace {

PathType TypeOfAttributes(DWORD a) {
  if (a == INVALID_FILE_ATTRIBUTES) return PathType::None;
  if (a & FILE_ATTRIBUTE_REPARSE_POINT) return PathType::Link;
  if (a & FILE_ATTRIBUTE_DIRECTORY) return PathType::Directory;
  if (a & FILE_ATTRIBUTE_DEVICE) return PathType::Other;
  return PathType::File;
}

}  // namespace

PathType GetPathType(std::u16string_view path) { return TypeOfAttributes(AttributesOf(path)); }

bool FileExists(std::u16string_view path) {
  const DWORD a = AttributesOf(path);
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(std::u16string_view path) {
  const DWORD a = AttributesOf(path);
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool CreateDir(std::u16string_view path) {
  return !path.empty() && ::CreateDirectoryW(WidePath(path).c_str(), nullptr) != 0;
}

bool ForceDirectories(std::u16string_view path) {
  WideString p(path);
  while (p.size() > 1 && (p.back() == u'\\' || p.back() == u'/')) p.pop_back();
  if (p.empty()) return false;
  if (DirectoryExists(p)) return true;
  if (FileExists(p)) return false;
  const WideString up = FolderOf(p);
  // A drive ("C:") or the top of a share exists or cannot be made.
  if (!up.empty() && up != p && !(up.size() <= 3 && up.size() >= 2 && up[1] == u':')) ForceDirectories(up);
  return CreateDir(p) || DirectoryExists(p);
}

bool RemoveDir(std::u16string_view path) { return ::RemoveDirectoryW(WidePath(path).c_str()) != 0; }

bool DeleteFile(std::u16string_view path) {
  const DWORD a = AttributesOf(path);
  if (a == INVALID_FILE_ATTRIBUTES || (a & FILE_ATTRIBUTE_DIRECTORY)) return false;
  return ::DeleteFileW(WidePath(path).c_str()) != 0;
}

// Like rename(): a file at the target is replaced; another drive is reached
// by copying.
bool RenameFile(std::u16string_view from, std::u16string_view to) {
  return ::MoveFileExW(WidePath(from).c_str(), WidePath(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED) != 0;
}

namespace {

// Calls each with what the listing found for every entry of the folder at
// path but "." and "..". Sets readable, when given, to whether the whole
// folder could be listed (a folder with nothing to find, a drive's empty
// root, is read whole).
template <class Each>
void ForEachFound(std::u16string_view path, bool* readable, Each&& each) {
  WideString pattern(path);
  if (!pattern.empty() && pattern.back() != u'\\' && pattern.back() != u'/') pattern += u'\\';
  pattern += u'*';
  WIN32_FIND_DATAW found;
  HANDLE h = ::FindFirstFileW(WidePath(pattern).c_str(), &found);
  if (h == INVALID_HANDLE_VALUE) {
    if (readable) *readable = ::GetLastError() == ERROR_FILE_NOT_FOUND;
    return;
  }
  do {
    const std::wstring n = found.cFileName;
    if (n != L"." && n != L"..") each(found);
  } while (::FindNextFileW(h, &found));
  if (readable) *readable = ::GetLastError() == ERROR_NO_MORE_FILES;
  ::FindClose(h);
}

}  // namespace

std::vector<DirEntry> ListDirectoryEntries(std::u16string_view path, bool* readable) {
  std::vector<DirEntry> entries;
  ForEachFound(path, readable, [&](const WIN32_FIND_DATAW& found) {
    entries.push_back({FromWide(found.cFileName), TypeOfAttributes(found.dwFileAttributes), FileInfo()});
  });
  return entries;
}

std::vector<WideString> ListDirectory(std::u16string_view path) {
  std::vector<WideString> names;
  for (DirEntry& e : ListDirectoryEntries(path)) names.push_back(std::move(e.name));
  return names;
}

namespace {
constexpr uint32_t kKeptAttributes = kAttrReadOnly | kAttrHidden | kAttrSystem | kAttrDirectory | kAttrArchive;
}  // namespace

uint32_t GetFileAttributes(std::u16string_view path) {
  const DWORD a = AttributesOf(path);
  return a == INVALID_FILE_ATTRIBUTES ? kInvalidAttributes : (a & kKeptAttributes);
}

bool SetFileAttributes(std::u16string_view path, uint32_t attrs) {
  DWORD a = attrs & (kAttrReadOnly | kAttrHidden | kAttrSystem | kAttrArchive);
  return ::SetFileAttributesW(WidePath(path).c_str(), a ? a : FILE_ATTRIBUTE_NORMAL) != 0;
}

// Windows keeps no permission bits; a mode without the owner's write bit
// is the read-only attribute.
bool SetUnixMode(std::u16string_view path, uint32_t mode) {
  const DWORD a = AttributesOf(path);
  if (a == INVALID_FILE_ATTRIBUTES) return false;
  const bool read_only = (mode & 0200) == 0;
  if (read_only == ((a & FILE_ATTRIBUTE_READONLY) != 0)) return true;
  return SetFileAttributes(
      path, (a & kKeptAttributes & ~kAttrDirectory & ~kAttrReadOnly) | (read_only ? uint32_t{kAttrReadOnly} : 0u));
}

namespace {

constexpr int64_t kUnixEpochAsFileTime = 116444736000000000LL;  // 1970-01-01 in 100 ns units since 1601

int64_t FileTimeToUnix(const FILETIME& ft) {
  const int64_t t = (static_cast<int64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  return (t - kUnixEpochAsFileTime) / 10000000;
}

FILETIME UnixToFileTime(int64_t unix_time) {
  const int64_t t = unix_time * 10000000 + kUnixEpochAsFileTime;
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(t);
  ft.dwHighDateTime = static_cast<DWORD>(t >> 32);
  return ft;
}

// DOS times are local time; the file system keeps UTC.
bool DosToFileTime(uint16_t dos_date, uint16_t dos_time, FILETIME& utc) {
  // Months or days of 0 (seen in damaged headers) read as the first.
  if (((dos_date >> 5) & 0x0F) == 0) dos_date |= 1 << 5;
  if ((dos_date & 0x1F) == 0) dos_date |= 1;
  FILETIME local;
  return ::DosDateTimeToFileTime(dos_date, dos_time, &local) && ::LocalFileTimeToFileTime(&local, &utc);
}

uint32_t FileTimeToDos(const FILETIME& utc) {
  FILETIME local;
  WORD date = 0, tim = 0;
  if (!::FileTimeToLocalFileTime(&utc, &local) || !::FileTimeToDosDateTime(&local, &date, &tim))
    return (1u << 21) | (1u << 16);  // 1980-01-01 00:00: the earliest a DOS time holds
  return (static_cast<uint32_t>(date) << 16) | tim;
}

bool SetHandleTime(HANDLE h, const FILETIME& ft) { return ::SetFileTime(h, nullptr, &ft, &ft) != 0; }

}  // namespace

int64_t DosDateTimeToUnix(uint16_t dos_date, uint16_t dos_time) {
  FILETIME utc;
  return DosToFileTime(dos_date, dos_time, utc) ? FileTimeToUnix(utc) : 315532800;  // 1980-01-01
}

uint32_t UnixToDosDateTime(int64_t unix_time) {
  if (unix_time < 315532800 - 86400) return (1u << 21) | (1u << 16);
  return FileTimeToDos(UnixToFileTime(unix_time));
}

namespace {

FileInfo InfoOfAttributes(DWORD attributes, const FILETIME& written) {
  FileInfo info;
  info.exists = true;
  info.directory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  info.attributes = attributes & kKeptAttributes;
  info.dos_time = static_cast<int32_t>(FileTimeToDos(written));
  // unix_mode stays 0: NTFS and FAT keep no Unix permission bits.
  return info;
}

}  // namespace

FileInfo GetFileInfo(std::u16string_view path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (path.empty() || !::GetFileAttributesExW(WidePath(path).c_str(), GetFileExInfoStandard, &data)) return FileInfo();
  return InfoOfAttributes(data.dwFileAttributes, data.ftLastWriteTime);
}

// The listing carries each entry's info: there is nothing left to look at.
struct FolderListing::Looks {};

FolderListing::FolderListing(std::u16string_view path) {
  ForEachFound(path, &readable_, [&](const WIN32_FIND_DATAW& found) {
    DirEntry entry{FromWide(found.cFileName), TypeOfAttributes(found.dwFileAttributes), FileInfo()};
    // A link's listing describes the link, not what it leads to: that is
    // looked at by its path.
    if (entry.type != PathType::Link) entry.info = InfoOfAttributes(found.dwFileAttributes, found.ftLastWriteTime);
    entries_.push_back(std::move(entry));
  });
}

FolderListing::~FolderListing() = default;

void FolderListing::LookAtEntries() noexcept {}

// The listing is made whole at once: there is no later moment to compare.
bool FolderListing::Unchanged() const { return false; }

std::vector<DirEntry> ListDirectoryInfo(std::u16string_view path, bool* readable) {
  FolderListing listing(path);
  if (readable) *readable = listing.Readable();
  return listing.TakeEntries();
}

namespace {

int64_t JoinHalves(DWORD high, DWORD low) { return static_cast<int64_t>((static_cast<uint64_t>(high) << 32) | low); }

}  // namespace

FileTarget GetFileTarget(std::u16string_view path) {
  FileTarget target;
  if (path.empty()) return target;
  // Opening without access rights follows links and opens folders too.
  HANDLE h = ::CreateFileW(WidePath(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return target;
  BY_HANDLE_FILE_INFORMATION info;
  if (::GetFileInformationByHandle(h, &info)) {
    const DWORD a = info.dwFileAttributes;
    target.type = (a & FILE_ATTRIBUTE_DIRECTORY) ? PathType::Directory
                  : (a & FILE_ATTRIBUTE_DEVICE)  ? PathType::Other
                                                 : PathType::File;
    target.device = info.dwVolumeSerialNumber;
    target.index = static_cast<uint64_t>(JoinHalves(info.nFileIndexHigh, info.nFileIndexLow));
  }
  ::CloseHandle(h);
  return target;
}

FileStamp GetFileStamp(std::u16string_view path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (path.empty() || !::GetFileAttributesExW(WidePath(path).c_str(), GetFileExInfoStandard, &data)) return FileStamp();
  return FileStamp{JoinHalves(data.nFileSizeHigh, data.nFileSizeLow),
                   JoinHalves(data.ftLastWriteTime.dwHighDateTime, data.ftLastWriteTime.dwLowDateTime)};
}

FileStamp GetFileStampFd(FileHandle h) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(reinterpret_cast<HANDLE>(h), &info)) return FileStamp();
  return FileStamp{JoinHalves(info.nFileSizeHigh, info.nFileSizeLow),
                   JoinHalves(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime)};
}

FileHandle OpenFileStamped(std::u16string_view path, FileStamp& stamp) {
  // A folder does not open here (see OpenFile).
  const FileHandle h = OpenFile(path, FileOpen::Read, nullptr, nullptr);
  if (h != kNoFile) stamp = GetFileStampFd(h);
  return h;
}

int32_t GetFileDosDateTime(std::u16string_view path) {
  const FileInfo info = GetFileInfo(path);
  return info.exists ? info.dos_time : -1;
}

bool SetFileDosDateTime(std::u16string_view path, uint16_t dos_date, uint16_t dos_time) {
  FILETIME ft;
  if (!DosToFileTime(dos_date, dos_time, ft)) return false;
  // Folders take times too, through backup semantics.
  HANDLE h = ::CreateFileW(WidePath(path).c_str(), FILE_WRITE_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  const bool ok = SetHandleTime(h, ft);
  ::CloseHandle(h);
  return ok;
}

bool SetFileDosDateTimeFd(FileHandle fd, uint16_t dos_date, uint16_t dos_time) {
  FILETIME ft;
  return DosToFileTime(dos_date, dos_time, ft) && SetHandleTime(reinterpret_cast<HANDLE>(fd), ft);
}

bool SetFileUnixTimeFd(FileHandle fd, int64_t unix_time) {
  return SetHandleTime(reinterpret_cast<HANDLE>(fd), UnixToFileTime(unix_time));
}

int64_t UnixNow() { return static_cast<int64_t>(::time(nullptr)); }

bool IsRemovablePath(std::u16string_view path) {
  if (path.size() >= 2 && path[1] == u':' && (path[0] == u'A' || path[0] == u'a' || path[0] == u'B' || path[0] == u'b'))
    return true;
  const std::wstring root = VolumeRoot(path);
  return !root.empty() && ::GetDriveTypeW(root.c_str()) == DRIVE_REMOVABLE;
}

bool IsRemovableFd(FileHandle fd) {
  BY_HANDLE_FILE_INFORMATION info;
  HANDLE h = reinterpret_cast<HANDLE>(fd);
  if (!::GetFileInformationByHandle(h, &info)) return false;
  static std::mutex mu;
  static std::map<DWORD, bool> known;  // by volume serial number
  std::lock_guard<std::mutex> lock(mu);
  auto it = known.find(info.dwVolumeSerialNumber);
  if (it != known.end()) return it->second;
  wchar_t name[MAX_PATH + 8];
  DWORD n = ::GetFinalPathNameByHandleW(h, name, MAX_PATH + 8, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  bool removable = false;
  if (n > 0 && n < MAX_PATH + 8) {
    std::wstring p(name, n);
    if (p.rfind(L"\\\\?\\", 0) == 0 && p.size() > 6 && p[5] == L':') p = p.substr(4);
    removable = IsRemovablePath(FromWide(p));
  }
  known[info.dwVolumeSerialNumber] = removable;
  return removable;
}

bool SetFdAttributes(FileHandle fd, uint32_t attrs, uint32_t unix_mode) {
  uint32_t keep = attrs & (kAttrReadOnly | kAttrHidden | kAttrSystem | kAttrArchive);
  if (unix_mode != 0 && (unix_mode & 0200) == 0) keep |= kAttrReadOnly;
  // A new file is already "normal": no call for the usual item.
  if ((keep & ~kAttrArchive) == 0) return true;
  FILE_BASIC_INFO basic{};
  basic.FileAttributes = keep;
  return ::SetFileInformationByHandle(reinterpret_cast<HANDLE>(fd), FileBasicInfo, &basic, sizeof basic) != 0;
}

int64_t FreeDiskSpace(std::u16string_view path) {
  ULARGE_INTEGER available{};
  const std::wstring folder = ExistingFolder(path);
  if (!::GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr)) return -1;
  return static_cast<int64_t>(available.QuadPart);
}

bool SetVolumeLabel(std::u16string_view path, const std::string& label) {
  const std::wstring root = VolumeRoot(path);
  if (root.empty()) return false;
  const WideString wide = FromUtf8(label);
  return ::SetVolumeLabelW(root.c_str(), reinterpret_cast<const wchar_t*>(wide.c_str())) != 0;
}

// Names are found whatever their letter case: the one spelling is the file's.
WideString ExistingSpelling(std::u16string_view path) { return WideString(path); }

WideString GetCurrentDir() {
  wchar_t buf[MAX_PATH + 1];
  const DWORD n = ::GetCurrentDirectoryW(MAX_PATH + 1, buf);
  if (n == 0 || n > MAX_PATH) return WideString();
  return FromWide(buf, n);
}

bool SetCurrentDir(std::u16string_view path) {
  return !path.empty() && ::SetCurrentDirectoryW(WidePath(path).c_str()) != 0;
}

WideString TempDirectory() {
  wchar_t buf[MAX_PATH + 2];
  DWORD n = ::GetTempPathW(MAX_PATH + 1, buf);
  if (n == 0 || n > MAX_PATH + 1) return u"C:\\Windows\\Temp";
  while (n > 3 && buf[n - 1] == L'\\') --n;
  return FromWide(buf, n);
}

WideString UniqueTempName(std::u16string_view folder) {
  static std::atomic<uint64_t> counter{0};
  static const std::string prefix = ".arcfold-" + std::to_string(::GetCurrentProcessId()) + "-";
  WideString path(folder);
  if (!path.empty() && path.back() != u'\\' && path.back() != u'/' && path.back() != u':') path += u'\\';
  return path + FromUtf8(prefix + std::to_string(counter++) + ".tmp");
}

bool RenameNoReplace(std::u16string_view from, std::u16string_view to) {
  return ::MoveFileExW(WidePath(from).c_str(), WidePath(to).c_str(), MOVEFILE_WRITE_THROUGH) != 0;
}

// The renames here are written through (MOVEFILE_WRITE_THROUGH).
void SyncFolderOf(std::u16string_view) {}

WideString FinalLinkTarget(std::u16string_view path) {
  const DWORD a = AttributesOf(path);
  if (a == INVALID_FILE_ATTRIBUTES || !(a & FILE_ATTRIBUTE_REPARSE_POINT)) return WideString(path);
  HANDLE h = ::CreateFileW(WidePath(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return WideString(path);
  wchar_t buf[32768];
  const DWORD n = ::GetFinalPathNameByHandleW(h, buf, 32767, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  ::CloseHandle(h);
  if (n == 0 || n >= 32767) return WideString(path);
  WideString target = FromWide(buf, n);
  if (target.compare(0, 8, u"\\\\?\\UNC\\") == 0) return u"\\\\" + target.substr(8);
  if (target.compare(0, 4, u"\\\\?\\") == 0) return target.substr(4);
  return target;
}

bool ProcessExists(int64_t pid) {
  if (pid <= 0) return false;
  HANDLE h = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
  if (!h) return ::GetLastError() == ERROR_ACCESS_DENIED;
  DWORD code = 0;
  const bool running = ::GetExitCodeProcess(h, &code) && code == STILL_ACTIVE;
  ::CloseHandle(h);
  return running;
}

namespace {
constexpr int kReplaceAttempts = 40;
constexpr DWORD kReplaceRetryMs = 50;
}  // namespace

bool ReplaceFile(std::u16string_view from, std::u16string_view to) {
  const std::wstring source = WidePath(from), target = WidePath(to);
  auto move = [&] {
    // A reader or a writer that waits for the archive holds it open for a
    // moment: the rename is tried again for a while.
    for (int attempt = 0; attempt < kReplaceAttempts; ++attempt) {
      if (::MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
      const DWORD error = ::GetLastError();
      if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) return false;
      const DWORD now = ::GetFileAttributesW(target.c_str());
      if (now != INVALID_FILE_ATTRIBUTES && (now & FILE_ATTRIBUTE_READONLY)) return false;  // no wait helps that
      ::Sleep(kReplaceRetryMs);
    }
    return false;
  };
  if (move()) return true;
  // Windows refuses to replace a read-only file, where POSIX would go ahead;
  // the caller has already decided that this one goes.
  const DWORD a = ::GetFileAttributesW(target.c_str());
  if (a == INVALID_FILE_ATTRIBUTES || !(a & FILE_ATTRIBUTE_READONLY) || (a & FILE_ATTRIBUTE_DIRECTORY)) return false;
  ::SetFileAttributesW(target.c_str(), a & ~DWORD(FILE_ATTRIBUTE_READONLY));
  if (move()) return true;
  ::SetFileAttributesW(target.c_str(), a);
  return false;
}

bool FileReplaceable(std::u16string_view path) {
  const DWORD a = AttributesOf(path);
  if (a == INVALID_FILE_ATTRIBUTES) return true;
  if (a & FILE_ATTRIBUTE_DIRECTORY) return false;
  // A running program's file opens for reading only, and a handle that does
  // not share deletion keeps the name; opening it for both tells, and
  // writes nothing.
  const HANDLE h = ::CreateFileW(WidePath(path).c_str(), GENERIC_WRITE | DELETE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  ::CloseHandle(h);
  return true;
}

// What a Windows file may carry over to its replacement: hidden and system
// (its access rules come from the folder).
bool CopyPermissions(std::u16string_view from, std::u16string_view to) {
  const DWORD a = AttributesOf(from);
  if (a == INVALID_FILE_ATTRIBUTES) return false;
  const DWORD carried = a & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  if (!carried) return true;
  const DWORD b = AttributesOf(to);
  return b != INVALID_FILE_ATTRIBUTES &&
         ::SetFileAttributesW(WidePath(to).c_str(), (b & ~FILE_ATTRIBUTE_NORMAL) | carried);
}

WideString TempFileName(std::u16string_view dir, std::u16string_view prefix) {
  const WideString folder = dir.empty() ? TempDirectory() : WideString(dir);
  wchar_t name[MAX_PATH + 1];
  if (!::GetTempFileNameW(WidePath(folder).c_str(), reinterpret_cast<const wchar_t*>(WideString(prefix).c_str()), 0,
                          name))
    return WideString();
  return FromWide(name, wcslen(name));
}

}  // namespace afp
