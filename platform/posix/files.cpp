#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <map>
#include <mutex>
#include <string>

namespace afp {

std::string NativePath(std::u16string_view path) {
  std::string p = ToUtf8(path);
  for (auto& c : p)
    if (c == '\\') c = '/';
  return p;
}

WideString FromNativePath(const std::string& path) { return FromUtf8(path); }

namespace {

bool StatPath(std::u16string_view path, struct stat& st) {
  std::string p = NativePath(path);
  if (p.empty()) return false;
  return ::stat(p.c_str(), &st) == 0;
}

}  // namespace

PathType GetPathType(std::u16string_view path) {
  struct stat st;
  std::string p = NativePath(path);
  if (p.empty() || ::lstat(p.c_str(), &st) != 0) return PathType::None;
  if (S_ISREG(st.st_mode)) return PathType::File;
  if (S_ISDIR(st.st_mode)) return PathType::Directory;
  if (S_ISLNK(st.st_mode)) return PathType::Link;
  return PathType::Other;
}

bool FileExists(std::u16string_view path) {
  struct stat st;
  return StatPath(path, st) && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(std::u16string_view path) {
  struct stat st;
  return StatPath(path, st) && S_ISDIR(st.st_mode);
}

bool CreateDir(std::u16string_view path) {
  std::string p = NativePath(path);
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  return !p.empty() && ::mkdir(p.c_str(), 0777) == 0;
}

bool ForceDirectories(std::u16string_view path) {
  std::string p = NativePath(path);
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  if (p.empty()) return false;
  struct stat st;
  if (::stat(p.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  for (size_t i = 1; i <= p.size(); ++i) {
    if (i == p.size() || p[i] == '/') {
      std::string part = p.substr(0, i);
      if (::mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) return false;
    }
  }
  return ::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool RemoveDir(std::u16string_view path) { return ::rmdir(NativePath(path).c_str()) == 0; }

bool DeleteFile(std::u16string_view path) {
  std::string p = NativePath(path);
  struct stat st;
  if (::lstat(p.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
  return ::unlink(p.c_str()) == 0;
}

bool RenameFile(std::u16string_view from, std::u16string_view to) {
  return ::rename(NativePath(from).c_str(), NativePath(to).c_str()) == 0;
}

namespace {

// What a listing's entry type says of it; None for a file system that
// leaves it unknown.
PathType TypeOfDirent(unsigned char d_type) {
  switch (d_type) {
    case DT_REG: return PathType::File;
    case DT_DIR: return PathType::Directory;
    case DT_LNK: return PathType::Link;
    case DT_UNKNOWN: return PathType::None;
    default: return PathType::Other;
  }
}

FileInfo InfoOfStat(const struct stat& st) {
  FileInfo info;
  info.exists = true;
  info.directory = S_ISDIR(st.st_mode);
  info.attributes = info.directory ? kAttrDirectory : kAttrArchive;
  if ((st.st_mode & 0222) == 0) info.attributes |= kAttrReadOnly;
  info.dos_time = static_cast<int32_t>(UnixToDosDateTime(st.st_mtime));
  // A link is followed and anything that is not a folder is read as a file,
  // so only these two types are reported.
  info.unix_mode = (info.directory ? S_IFDIR : S_IFREG) | (st.st_mode & 0777);
  return info;
}

}  // namespace

// The open folder, and each entry's name as the system spells it, kept from
// the listing so that the looks need to make nothing.
struct FolderListing::Looks {
  std::string path;
  DIR* folder = nullptr;
  struct stat seen {};  // the folder as its names were read
  time_t read_at = 0;
  std::string names;  // every name looked at, each ended by '\0'
  static constexpr size_t kNotLooked = static_cast<size_t>(-1);
  std::vector<size_t> name_at;  // where each entry's name is in names
  ~Looks() {
    if (folder) ::closedir(folder);
  }
};

FolderListing::FolderListing(std::u16string_view path) : looks_(std::make_unique<Looks>()) {
  looks_->path = NativePath(path);
  looks_->folder = ::opendir(looks_->path.c_str());
  if (!looks_->folder || ::fstat(::dirfd(looks_->folder), &looks_->seen) != 0) return;
  looks_->read_at = std::time(nullptr);
  // readdir tells its end from a failure only by errno.
  for (errno = 0; dirent* e = ::readdir(looks_->folder); errno = 0) {
    const std::string_view n = e->d_name;
    if (n == "." || n == "..") continue;
    DirEntry entry{FromUtf8(n), TypeOfDirent(e->d_type), FileInfo()};
    // Only a name that the path built from the listing leads back to is
    // looked at (not one with "\" or bytes that are not UTF-8): a look by
    // that path is what the entry's info stands for.
    size_t at = Looks::kNotLooked;
    if (NativePath(entry.name) == n) {
      at = looks_->names.size();
      looks_->names.append(n).push_back('\0');
    }
    looks_->name_at.push_back(at);
    entries_.push_back(std::move(entry));
  }
  readable_ = errno == 0;
}

FolderListing::~FolderListing() = default;

bool FolderListing::Unchanged() const {
  // A folder changed in the second its names were read, or the one before,
  // may show the same time after a later change on a coarse file system.
  constexpr time_t kTimeStep = 2;
  const struct stat& seen = looks_->seen;
  struct stat now;
  if (!readable_ || looks_->read_at - seen.st_mtim.tv_sec < kTimeStep) return false;
  if (::stat(looks_->path.c_str(), &now) != 0) return false;
  return now.st_dev == seen.st_dev && now.st_ino == seen.st_ino && now.st_mtim.tv_sec == seen.st_mtim.tv_sec &&
         now.st_mtim.tv_nsec == seen.st_mtim.tv_nsec;
}

void FolderListing::LookAtEntries() noexcept {
  if (!looks_->folder) return;
  const int folder = ::dirfd(looks_->folder);
  for (size_t i = 0; i < entries_.size(); ++i) {
    struct stat st;
    const size_t at = looks_->name_at[i];
    if (at != Looks::kNotLooked && ::fstatat(folder, looks_->names.c_str() + at, &st, 0) == 0)
      entries_[i].info = InfoOfStat(st);
  }
}

std::vector<DirEntry> ListDirectoryEntries(std::u16string_view path, bool* readable) {
  FolderListing listing(path);
  if (readable) *readable = listing.Readable();
  return listing.TakeEntries();
}

std::vector<DirEntry> ListDirectoryInfo(std::u16string_view path, bool* readable) {
  FolderListing listing(path);
  listing.LookAtEntries();
  if (readable) *readable = listing.Readable();
  return listing.TakeEntries();
}

std::vector<WideString> ListDirectory(std::u16string_view path) {
  std::vector<WideString> names;
  for (DirEntry& e : ListDirectoryEntries(path)) names.push_back(std::move(e.name));
  return names;
}

uint32_t GetFileAttributes(std::u16string_view path) {
  struct stat st;
  if (!StatPath(path, st)) return kInvalidAttributes;
  uint32_t a = S_ISDIR(st.st_mode) ? kAttrDirectory : kAttrArchive;
  if ((st.st_mode & 0222) == 0) a |= kAttrReadOnly;
  return a;
}

bool SetFileAttributes(std::u16string_view path, uint32_t attrs) {
  std::string p = NativePath(path);
  struct stat st;
  if (::stat(p.c_str(), &st) != 0) return false;
  mode_t mode = st.st_mode & 07777;
  if (attrs & kAttrReadOnly) {
    mode &= ~mode_t(0222);
  } else if ((mode & 0200) == 0) {
    // Making a file writable again gives the write bits its read bits allow,
    // limited by the umask, as a new file would get.
    mode_t mask = ::umask(0);
    ::umask(mask);
    mode |= ((mode & 0444) >> 1) & ~mask;
    mode |= 0200;
  }
  return ::chmod(p.c_str(), mode) == 0;
}

bool SetUnixMode(std::u16string_view path, uint32_t mode) {
  return ::chmod(NativePath(path).c_str(), mode & 0777) == 0;
}

int64_t DosDateTimeToUnix(uint16_t dos_date, uint16_t dos_time) {
  struct tm tm {};
  tm.tm_year = ((dos_date >> 9) & 0x7F) + 80;
  tm.tm_mon = ((dos_date >> 5) & 0x0F) - 1;
  tm.tm_mday = dos_date & 0x1F;
  tm.tm_hour = (dos_time >> 11) & 0x1F;
  tm.tm_min = (dos_time >> 5) & 0x3F;
  tm.tm_sec = (dos_time & 0x1F) * 2;
  tm.tm_isdst = -1;
  if (tm.tm_mon < 0) tm.tm_mon = 0;
  if (tm.tm_mday == 0) tm.tm_mday = 1;
  // mktime reloads the time zone into process-wide state on every call;
  // extraction helpers call it from several threads.
  static std::mutex zone;
  std::lock_guard<std::mutex> lock(zone);
  return static_cast<int64_t>(::mktime(&tm));
}

uint32_t UnixToDosDateTime(int64_t unix_time) {
  time_t t = static_cast<time_t>(unix_time);
  struct tm tm {};
  if (!::localtime_r(&t, &tm)) return 0;
  if (tm.tm_year < 80) return (0u << 25) | (1u << 21) | (1u << 16);  // 1980-01-01 00:00
  if (tm.tm_year > 207) tm.tm_year = 207;
  uint32_t date = ((tm.tm_year - 80) << 9) | ((tm.tm_mon + 1) << 5) | tm.tm_mday;
  uint32_t tim = (tm.tm_hour << 11) | (tm.tm_min << 5) | (tm.tm_sec / 2);
  return (date << 16) | tim;
}

FileInfo GetFileInfo(std::u16string_view path) {
  struct stat st;
  if (!StatPath(path, st)) return FileInfo();
  return InfoOfStat(st);
}

namespace {

FileStamp StampOf(const struct stat& st) {
  return FileStamp{static_cast<int64_t>(st.st_size),
                   static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

}  // namespace

FileTarget GetFileTarget(std::u16string_view path) {
  FileTarget target;
  struct stat st;
  if (!StatPath(path, st)) return target;
  target.type = S_ISREG(st.st_mode) ? PathType::File : S_ISDIR(st.st_mode) ? PathType::Directory : PathType::Other;
  target.device = static_cast<uint64_t>(st.st_dev);
  target.index = static_cast<uint64_t>(st.st_ino);
  return target;
}

FileStamp GetFileStamp(std::u16string_view path) {
  struct stat st;
  return StatPath(path, st) ? StampOf(st) : FileStamp();
}

FileStamp GetFileStampFd(FileHandle h) {
  struct stat st;
  return ::fstat(static_cast<int>(h), &st) == 0 ? StampOf(st) : FileStamp();
}

FileHandle OpenFileStamped(std::u16string_view path, FileStamp& stamp) {
  const std::string p = NativePath(path);
  const int fd = p.empty() ? -1 : ::open(p.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return kNoFile;
  struct stat st;
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    return kNoFile;
  }
  stamp = StampOf(st);
  return fd;
}

int32_t GetFileDosDateTime(std::u16string_view path) {
  struct stat st;
  if (!StatPath(path, st)) return -1;
  return static_cast<int32_t>(UnixToDosDateTime(st.st_mtime));
}

namespace {
void FillTimes(struct timespec ts[2], uint16_t dos_date, uint16_t dos_time) {
  ts[0].tv_sec = ts[1].tv_sec = static_cast<time_t>(DosDateTimeToUnix(dos_date, dos_time));
  ts[0].tv_nsec = ts[1].tv_nsec = 0;
}
}  // namespace

bool SetFileDosDateTime(std::u16string_view path, uint16_t dos_date, uint16_t dos_time) {
  struct timespec ts[2];
  FillTimes(ts, dos_date, dos_time);
  return ::utimensat(AT_FDCWD, NativePath(path).c_str(), ts, 0) == 0;
}

bool SetFileDosDateTimeFd(FileHandle fd, uint16_t dos_date, uint16_t dos_time) {
  struct timespec ts[2];
  FillTimes(ts, dos_date, dos_time);
  return ::futimens(static_cast<int>(fd), ts) == 0;
}

int64_t UnixNow() { return static_cast<int64_t>(::time(nullptr)); }

bool SetFileUnixTimeFd(FileHandle fd, int64_t unix_time) {
  struct timespec ts[2];
  ts[0].tv_sec = ts[1].tv_sec = static_cast<time_t>(unix_time);
  ts[0].tv_nsec = ts[1].tv_nsec = 0;
  return ::futimens(static_cast<int>(fd), ts) == 0;
}

namespace {

bool DeviceIsRemovable(dev_t dev) {
  static std::mutex mu;
  static std::map<dev_t, bool> known;
  std::lock_guard<std::mutex> lock(mu);
  auto it = known.find(dev);
  if (it != known.end()) return it->second;
  bool removable = false;
  char link[PATH_MAX];
  std::string sys = "/sys/dev/block/" + std::to_string(major(dev)) + ":" + std::to_string(minor(dev));
  ssize_t n = ::readlink(sys.c_str(), link, sizeof link - 1);
  if (n > 0) {
    // A partition's removable flag is its disk's, one level up.
    std::string d = sys;
    for (int up = 0; up < 2; ++up) {
      std::ifstream f(d + "/removable");
      int v = 0;
      if (f >> v) {
        removable = v == 1;
        break;
      }
      d += "/..";
    }
  }
  known[dev] = removable;
  return removable;
}

}  // namespace

bool IsRemovableFd(FileHandle fd) {
  struct stat st;
  return ::fstat(static_cast<int>(fd), &st) == 0 && DeviceIsRemovable(st.st_dev);
}

namespace {
// The mode a new file gets (0666 less the umask), read once at start-up
// while the process has a single thread.
const mode_t kNewFileMode = [] {
  mode_t mask = ::umask(022);
  ::umask(mask);
  return static_cast<mode_t>(0666 & ~mask);
}();
}  // namespace

bool SetFdAttributes(FileHandle fd, uint32_t attrs, uint32_t unix_mode) {
  mode_t mode;
  if (unix_mode != 0) {
    mode = unix_mode & 0777;
    // Most items ask for the mode a new file has anyway: no call then.
    if (!(attrs & kAttrReadOnly) && mode == kNewFileMode) return true;
  } else {
    if (!(attrs & kAttrReadOnly)) return true;  // a new file already has its default mode
    struct stat st;
    if (::fstat(static_cast<int>(fd), &st) != 0) return false;
    mode = st.st_mode & 07777;
  }
  if (attrs & kAttrReadOnly) mode &= ~mode_t(0222);
  return ::fchmod(static_cast<int>(fd), mode) == 0;
}

bool IsRemovablePath(std::u16string_view path) {
  if (path.size() >= 2 && path[1] == u':' && (path[0] == u'A' || path[0] == u'a' || path[0] == u'B' || path[0] == u'b'))
    return true;
  std::string p = NativePath(path);
  struct stat st;
  // Walk up to the nearest existing folder: the target itself may not exist yet.
  while (!p.empty() && ::stat(p.c_str(), &st) != 0) {
    auto slash = p.find_last_of('/');
    if (slash == std::string::npos)
      p = ".";
    else
      p = slash == 0 ? "/" : p.substr(0, slash);
    if (p == "." && ::stat(p.c_str(), &st) != 0) return false;
  }
  if (p.empty()) return false;
  return DeviceIsRemovable(st.st_dev);
}

int64_t FreeDiskSpace(std::u16string_view path) {
  struct statvfs vfs;
  std::string p = NativePath(path);
  if (p.empty()) p = ".";
  // A file about to be created: the space of the folder it goes into.
  while (::statvfs(p.c_str(), &vfs) != 0) {
    auto slash = p.find_last_of('/');
    if (p == "." || p == "/") return -1;
    p = slash == std::string::npos ? "." : slash == 0 ? "/" : p.substr(0, slash);
  }
  return static_cast<int64_t>(vfs.f_bavail) * static_cast<int64_t>(vfs.f_frsize);
}

bool SetVolumeLabel(std::u16string_view, const std::string&) {
  // File systems mounted here keep their label outside the reach of a
  // program; writing it is the device's administrator's business.
  return false;
}

WideString ExistingSpelling(std::u16string_view path) {
  WideString given(path);
  if (GetPathType(path) != PathType::None) return given;
  // Volumes copied from a system that ignores case may be spelt otherwise
  // ("SET.Z01" for "set.z01"): take the one entry of the folder that
  // matches ignoring case.
  size_t cut = given.find_last_of(u"\\/");
  WideString folder = cut == WideString::npos ? WideString(u".") : given.substr(0, cut + 1);
  WideString name = cut == WideString::npos ? given : given.substr(cut + 1);
  auto lower = [](WideString s) {
    for (auto& c : s)
      if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
    return s;
  };
  const WideString want = lower(name);
  WideString found;
  for (const WideString& entry : ListDirectory(folder)) {
    if (lower(entry) != want) continue;
    if (!found.empty()) return given;  // two spellings: neither is chosen
    found = entry;
  }
  if (found.empty()) return given;
  return cut == WideString::npos ? found : given.substr(0, cut + 1) + found;
}

WideString GetCurrentDir() {
  char buf[PATH_MAX];
  if (!::getcwd(buf, sizeof buf)) return WideString();
  return FromUtf8(buf);
}

bool SetCurrentDir(std::u16string_view path) {
  std::string p = NativePath(path);
  return !p.empty() && ::chdir(p.c_str()) == 0;
}

WideString TempDirectory() {
  const char* t = ::getenv("TMPDIR");
  return FromUtf8(t && *t ? t : "/tmp");
}

WideString UniqueTempName(std::u16string_view folder) {
  static std::atomic<uint64_t> counter{0};
  // The process id is read once: a clash after a fork only costs the
  // caller's exclusive create one more try.
  static const std::string prefix = ".arcfold-" + std::to_string(::getpid()) + "-";
  std::string name = prefix + std::to_string(counter++) + ".tmp";
  WideString path(folder);
  if (!path.empty() && path.back() != u'/' && path.back() != u'\\') path += u'/';
  return path + FromUtf8(name);
}

bool ReplaceFile(std::u16string_view from, std::u16string_view to) { return RenameFile(from, to); }

bool FileReplaceable(std::u16string_view path) {
  const std::string p = NativePath(path);
  struct stat st;
  if (::lstat(p.c_str(), &st) != 0) return errno == ENOENT;
  if (S_ISDIR(st.st_mode)) return false;
  // Unlinking and renaming over a name are rights of its folder.
  const size_t slash = p.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : p.substr(0, slash);
  return ::access(folder.c_str(), W_OK | X_OK) == 0;
}

bool RenameNoReplace(std::u16string_view from, std::u16string_view to) {
  const std::string source = NativePath(from), target = NativePath(to);
  // A second name for the file, made only where none exists, then the
  // first name gone: nothing is ever replaced.
  if (::link(source.c_str(), target.c_str()) != 0) return false;
  ::unlink(source.c_str());
  return true;
}

void SyncFolderOf(std::u16string_view path) {
  std::string p = NativePath(path);
  const auto slash = p.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : p.substr(0, slash);
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

WideString FinalLinkTarget(std::u16string_view path) {
  if (GetPathType(path) != PathType::Link) return WideString(path);
  char resolved[PATH_MAX];
  if (!::realpath(NativePath(path).c_str(), resolved)) {
    // A link to a file not made yet: its target, read one step at a time.
    std::string p = NativePath(path);
    for (int hops = 0; hops < 40; ++hops) {
      char target[PATH_MAX];
      const ssize_t n = ::readlink(p.c_str(), target, sizeof target - 1);
      if (n <= 0) return FromUtf8(p);
      target[n] = 0;
      const auto slash = p.find_last_of('/');
      p = target[0] == '/' || slash == std::string::npos ? std::string(target) : p.substr(0, slash + 1) + target;
    }
    return WideString(path);
  }
  return FromUtf8(resolved);
}

bool ProcessExists(int64_t pid) {
  if (pid <= 0) return false;
  return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

bool CopyPermissions(std::u16string_view from, std::u16string_view to) {
  struct stat st;
  if (::stat(NativePath(from).c_str(), &st) != 0) return false;
  return ::chmod(NativePath(to).c_str(), st.st_mode & 07777) == 0;
}

WideString TempFileName(std::u16string_view dir, std::u16string_view prefix) {
  std::string d = NativePath(dir.empty() ? std::u16string_view(TempDirectory()) : dir);
  if (d.empty() || d.back() != '/') d += '/';
  std::string templ = d + ToUtf8(prefix) + "XXXXXX";
  int fd = ::mkstemp(templ.data());
  if (fd < 0) return WideString();
  ::close(fd);
  return FromUtf8(templ);
}

}  // namespace afp
