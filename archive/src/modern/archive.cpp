// arcfold::Archive: opening, the entries, reading them whole and
// extracting them, each through the component.
#include "arcfold/archive.h"

#include <algorithm>
#include <chrono>

#include "component/session.h"
#include "directory/item_time.h"
#include "items/path_parts.h"
#include "modern/archive_impl.h"
#include "platform/files.h"

namespace arcfold {

namespace {

Encryption EncryptionOf(const TDirItem& item) {
  if (!(item.HeaderImage.Flags() & kFlagEncrypted)) return Encryption::none;
  switch (item.CryptoAlgorithm) {
    case caAES_128: return Encryption::aes128;
    case caAES_192: return Encryption::aes192;
    case caAES_256: return Encryption::aes256;
    default: return Encryption::classic;
  }
}

std::chrono::system_clock::time_point ModifiedOf(const TDirItem& item) {
  std::optional<int64_t> seconds = ExactModificationTime(item);
  if (!seconds) seconds = afp::DosDateTimeToUnix(item.HeaderImage.Date(), item.HeaderImage.Time());
  return std::chrono::system_clock::time_point(std::chrono::seconds(*seconds));
}

// What a whole entry's data is gathered in ahead of its size (the header's
// size may lie: more than this is grown into as the data comes).
constexpr uint64_t kMostReservedAhead = uint64_t{64} << 20;

// Appends what the decoder writes to the caller's string or byte vector:
// the data lands where the caller gets it, without a second copy.
template <class Bytes>
class AppendingStream : public TStream {
 public:
  AppendingStream(Bytes& out, uint64_t expected) : out_(out) {
    out_.reserve(static_cast<size_t>(std::min(expected, kMostReservedAhead)));
  }
  int64_t Read(void*, int64_t) override { return 0; }
  int64_t Write(const void* buffer, int64_t count) override {
    const auto* from = static_cast<const typename Bytes::value_type*>(buffer);
    out_.insert(out_.end(), from, from + count);
    return count;
  }
  int64_t Seek(int64_t, SeekOrigin) override { return static_cast<int64_t>(out_.size()); }
  void SetSize(int64_t) override {}

 private:
  Bytes& out_;
};

}  // namespace

afp::WideString WideOf(const std::filesystem::path& path) { return path.u16string(); }

Cancelled::Cancelled(const std::string& what)
    : EAFException(EAFException::Reraised(NativeError::kUnknown, 0, what + ": cancelled")) {}

Archive::Impl::Impl() {
  zip.PromptUI = &nobody_;
  zip.SetName("Arcfold");
  // Names beyond ASCII go out as flagged UTF-8, as they come in; items
  // over 4 GiB get their ZIP64 fields.
  zip.SetUnicodeFilenames(true);
  zip.SetZip64Mode(zmAuto);
  zip.SetCompressionMode(6);
  SetUpHandlers();
}

Archive::Impl::~Impl() {
  Settle();
  Rollback();
}

void Archive::Impl::SetUpHandlers() {
  // A wrong or missing password is the entry's failure, never an item
  // passed over: outside a run the component then throws error 67 naming
  // the item; inside one, the run stops and the failure is thrown after it.
  zip.OnPassword = [this](TAFBaseArchiver*, const afp::WideString& name, std::string&, bool& skip) {
    skip = true;
    if (!progress_) return;
    NoteFailure(name, EAFException::Create(NativeError::kInvalidPassword, &zip));
    zip.SetCancelFlag(true);
  };
  zip.OnProcessFileFailure = [this](TAFBaseArchiver*, const afp::WideString& name, TAFProcessOperation, int native,
                                    int category, const afp::WideString& message, TAFAction& action) {
    NoteFailure(name, EAFException::Reraised(native, category, afp::ToUtf8(message)));
    action = fxaAbort;
  };
}

EAFException Archive::Impl::Naming(const afp::WideString& name, const EAFException& e) const {
  std::string text = e.what();
  const std::string utf8 = afp::ToUtf8(name);
  if (text.find('"' + utf8 + '"') != std::string::npos || text.find('\'' + utf8 + '\'') != std::string::npos) return e;
  const std::string lead = zip.Name() + ": ";
  text.insert(text.rfind(lead, 0) == 0 ? lead.size() : 0, utf8 + ": ");
  return EAFException::Reraised(e.NativeError(), e.ErrorCode(), text);
}

void Archive::Impl::NoteFailure(const afp::WideString& item_name, const EAFException& e) {
  if (!failure_) failure_ = Naming(paths::Replace(item_name, u'\\', u'/'), e);
}

Entry Archive::Impl::EntryAt(int index) const {
  const TDirItem& item = zip.Item(index);
  Entry e;
  e.name = afp::ToUtf8(item.ItemName);
  e.size = static_cast<uint64_t>(item.UncompressedSize());
  e.compressed_size = static_cast<uint64_t>(item.CompressedSize());
  e.modified = ModifiedOf(item);
  e.method = item.ActualMethod;
  e.encryption = EncryptionOf(item);
  e.attributes = item.HeaderImage.ExternalAttributes();
  e.crc32 = item.HeaderImage.Crc32();
  e.is_directory = item.IsDirectory();
  e.index = static_cast<size_t>(index);
  return e;
}

std::optional<int> Archive::Impl::IndexOfName(std::string_view utf8_name) {
  int at = -1;
  if (!zip.DirManager() ||
      !zip.DirManager()->Items().FindName(paths::Replace(afp::FromUtf8(utf8_name), u'\\', u'/'), at))
    return std::nullopt;
  return at;
}

int Archive::Impl::IndexOf(const Entry& entry) {
  const int count = zip.ItemCount();
  const int at = static_cast<int>(std::min<size_t>(entry.index, static_cast<size_t>(count)));
  if (at < count && afp::ToUtf8(zip.Item(at).ItemName) == entry.name) return at;
  if (std::optional<int> found = IndexOfName(entry.name)) return *found;
  throw EAFException::CreateFmt(NativeError::kFileNotFound, &zip, {afp::FromUtf8(entry.name)});
}

void Archive::Impl::CheckNoChange() {
  if (zip.InUpdate()) throw EAFException::Create(NativeError::kUpdateNotEnded, &zip);
}

void Archive::Impl::Decode(const Entry& entry, TStream& out) {
  Settle();
  CheckNoChange();
  zip.DecodeItem(IndexOf(entry), out);
}

void Archive::Impl::ExtractMarked(const std::filesystem::path& folder, const ProgressCallback& progress) {
  const afp::WideString dest = WideOf(folder);
  if (!afp::DirectoryExists(dest) && !afp::ForceDirectories(dest))
    throw EAFException::CreateFmt(NativeError::kCannotCreateDirectory, &zip, {dest});
  zip.SetBaseDir(dest);
  zip.Options().OverwriteMode = omAlways;
  zip.Options().CreateDirs = true;
  failure_.reset();
  progress_ = &progress;
  zip.OnFileProgress = [&](TAFBaseArchiver*, const afp::WideString& name, double percent, TAFProcessOperation,
                           TAFProgressPhase, bool& cancel) {
    if (!progress) return;
    const std::string utf8 = afp::ToUtf8(paths::Replace(name, u'\\', u'/'));
    const int total = std::max(zip.TotalCount(), 1);
    const double overall = (zip.ProcessedCount() + percent / 100.0) * 100.0 / total;
    if (!progress(Progress{utf8, percent, std::min(overall, 100.0)})) cancel = true;
  };
  struct EndOfRun {
    Impl& impl;
    ~EndOfRun() {
      impl.zip.OnFileProgress = nullptr;
      impl.progress_ = nullptr;
    }
  } end_of_run{*this};
  zip.ProcessMarkedItems(poExtract, -1);
  if (failure_) {
    EAFException failure = *failure_;
    failure_.reset();
    throw failure;
  }
  if (zip.CancelFlag()) throw Cancelled("Arcfold: extraction to " + afp::ToUtf8(dest));
}

// ---- Archive ----

Archive::Archive(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Archive::~Archive() = default;
Archive::Archive(Archive&& other) noexcept = default;
Archive& Archive::operator=(Archive&& other) noexcept = default;

Archive Archive::open(const std::filesystem::path& path) {
  auto impl = std::make_unique<Impl>();
  impl->zip.SetFileName(WideOf(path));
  if (!afp::FileExists(impl->zip.FileName()))
    throw EAFException::CreateFmt(NativeError::kArchiveFileNotFound, &impl->zip, {impl->zip.FileName()});
  try {
    impl->zip.OpenArchive();
  } catch (const EAFException& e) {
    throw impl->Naming(impl->zip.FileName(), e);
  }
  return Archive(std::move(impl));
}

Archive Archive::open(std::span<const std::byte> bytes) {
  auto impl = std::make_unique<Impl>();
  auto content = std::make_unique<TMemoryStream>();
  const auto* first = reinterpret_cast<const unsigned char*>(bytes.data());
  content->Data().assign(first, first + bytes.size());
  impl->zip.SetInMemory(true);
  impl->zip.Session().OpenInMemory(std::move(content));
  impl->in_memory = true;
  return Archive(std::move(impl));
}

Archive Archive::create(const std::filesystem::path& path) {
  auto impl = std::make_unique<Impl>();
  impl->zip.SetFileName(WideOf(path));
  // The component's commit would go on from whatever archive is there (or
  // fail on a file that is none): a new archive starts where nothing is.
  if (afp::GetPathType(impl->zip.FileName()) != afp::PathType::None)
    throw EAFException::CreateFmt(NativeError::kCannotCreateFile, &impl->zip, {impl->zip.FileName()});
  impl->zip.OpenArchive(fmCreate);
  return Archive(std::move(impl));
}

void Archive::set_password(std::string_view password) {
  impl_->Settle();
  impl_->zip.SetPassword(std::string(password));
}

std::size_t Archive::size() const { return static_cast<size_t>(impl_->zip.ItemCount()); }

Entry Archive::at(std::size_t index) const {
  if (index >= size()) throw EAFException::Create(NativeError::kItemOutOfBounds, &impl_->zip);
  return impl_->EntryAt(static_cast<int>(index));
}

const Entry& Archive::iterator::operator*() const {
  if (!loaded_) entry_ = impl_->EntryAt(static_cast<int>(index_));
  loaded_ = true;
  return entry_;
}

std::optional<Entry> Archive::find(std::string_view name) const {
  std::optional<int> at = impl_->IndexOfName(name);
  if (!at) return std::nullopt;
  return impl_->EntryAt(*at);
}

std::string Archive::read_string(const Entry& entry) {
  std::string data;
  AppendingStream<std::string> out(data, entry.size);
  impl_->Decode(entry, out);
  return data;
}

std::vector<std::byte> Archive::read_bytes(const Entry& entry) {
  std::vector<std::byte> data;
  AppendingStream<std::vector<std::byte>> out(data, entry.size);
  impl_->Decode(entry, out);
  return data;
}

void Archive::extract(const std::filesystem::path& folder, const ProgressCallback& progress) {
  extract_matching(folder, {"*"}, progress);
}

void Archive::extract_matching(const std::filesystem::path& folder, const std::vector<std::string>& masks,
                               const ProgressCallback& progress) {
  impl_->Settle();
  impl_->CheckNoChange();
  std::vector<int> selected;
  for (const std::string& mask : masks) {
    impl_->zip.MarkItems(afp::FromUtf8(mask), kAnyAttributes, afp::WideString());
    for (int i = 0; i < impl_->zip.ItemCount(); ++i)
      if (impl_->zip.Item(i).Marked) selected.push_back(i);
  }
  impl_->zip.ClearMarks();
  for (int i : selected) impl_->zip.SetMarked(i, true);
  impl_->ExtractMarked(folder, progress);
}

void Archive::extract(const std::filesystem::path& folder, std::span<const Entry> entries,
                      const ProgressCallback& progress) {
  impl_->Settle();
  impl_->CheckNoChange();
  std::vector<int> selected;
  for (const Entry& entry : entries) selected.push_back(impl_->IndexOf(entry));
  impl_->zip.ClearMarks();
  for (int i : selected) impl_->zip.SetMarked(i, true);
  impl_->ExtractMarked(folder, progress);
}

}  // namespace arcfold
