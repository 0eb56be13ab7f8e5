// arcfold::Change: the component's transaction held by a scoped object,
// committed by commit() and dropped when it goes out of scope without.
#include <istream>
#include <memory>

#include "arcfold/archive.h"
#include "component/session.h"
#include "modern/archive_impl.h"

namespace arcfold {

namespace {

// A call the interface cannot carry out as asked (no component code fits).
EAFException UsageError(const std::string& text) {
  return EAFException::Reraised(NativeError::kUnknown, 0, "Arcfold: " + text);
}

TAFCryptoAlgorithm AlgorithmOf(Encryption encryption) {
  switch (encryption) {
    case Encryption::aes128: return caAES_128;
    case Encryption::aes192: return caAES_192;
    case Encryption::aes256: return caAES_256;
    default: return caPkzipClassic;
  }
}

// The archive of a change that is still open.
Archive::Impl& Open(Archive::Impl* impl) {
  if (!impl) throw UsageError("the change was committed already");
  return *impl;
}

constexpr size_t kReadPiece = size_t{1} << 16;

// All that source gives, in memory, for an item that the commit reads from
// its start and whose size it needs first.
std::unique_ptr<TMemoryStream> Drained(const ReadCallback& source) {
  auto content = std::make_unique<TMemoryStream>();
  std::vector<unsigned char>& bytes = content->Data();
  for (;;) {
    const size_t at = bytes.size();
    bytes.resize(at + kReadPiece);
    const size_t got = source(bytes.data() + at, kReadPiece);
    bytes.resize(at + std::min(got, kReadPiece));
    if (got == 0) break;
  }
  return content;
}

}  // namespace

void Archive::Impl::BeginChange() {
  if (in_memory) throw EAFException::Create(NativeError::kReadOnlyArchive, &zip);
  CheckNoChange();
  change_encryption_.reset();
  zip.BeginUpdate();
}

void Archive::Impl::ApplyOptions(const AddOptions& options) {
  zip.SetCompressionMode(options.level);  // error 5 outside 0..9
  if (options.encryption == Encryption::none) {
    zip.SetPassword(std::string());
    return;
  }
  if (options.password.empty())
    throw EAFException::Reraised(NativeError::kInvalidPassword, EAFException::CategoryOf(NativeError::kInvalidPassword),
                                 "Arcfold: an encrypted entry needs a password");
  // The commit encrypts all its items with one method.
  const TAFCryptoAlgorithm algorithm = AlgorithmOf(options.encryption);
  if (change_encryption_ && *change_encryption_ != algorithm)
    throw UsageError("the entries of one change are all encrypted the same way");
  change_encryption_ = algorithm;
  zip.SetPassword(std::string(options.password));
}

void Archive::Impl::AddFile(const std::filesystem::path& path, std::string_view name, const AddOptions& options) {
  std::filesystem::path full = std::filesystem::absolute(path).lexically_normal();
  if (!full.has_filename()) full = full.parent_path();
  const afp::WideString leaf = WideOf(full.filename());
  const afp::WideString stored_as = name.empty() ? leaf : afp::FromUtf8(name);
  // The component stores the file (or the folder and what it holds) under
  // names relative to its folder; those start with the leaf, which gives
  // way to the name asked for.
  zip.SetBaseDir(WideOf(full.parent_path()));
  zip.Options().StorePath = spRelativePath;
  zip.Options().Recurse = true;
  zip.OnStoreFile = [&](TAFBaseArchiver*, afp::WideString& stored, int32_t&, std::string&, const afp::WideString&) {
    if (stored.compare(0, leaf.size(), leaf) == 0) stored = stored_as + stored.substr(leaf.size());
  };
  struct Restore {
    TAFBaseArchiver& zip;
    ~Restore() {
      zip.OnStoreFile = nullptr;
      zip.SetBaseDir(afp::WideString());
    }
  } restore{zip};
  Adding(options, [&] { zip.AddFiles(leaf); });
}

void Archive::Impl::Commit() {
  if (!zip.InUpdate()) return;
  if (change_encryption_) zip.SetEncryptionMethod(*change_encryption_);
  failure_.reset();
  zip.EndUpdate();
  change_encryption_.reset();
  // A failure the commit met was answered by ending it: the archive stayed
  // as it was, and the failure is the caller's.
  if (failure_) {
    EAFException failure = *failure_;
    failure_.reset();
    throw failure;
  }
}

void Archive::Impl::Rollback() noexcept {
  if (!zip.InUpdate()) return;
  zip.Session().AbandonTransaction();
  zip.Session().UnlockAfterWriting();
  change_encryption_.reset();
}

// ---- Change ----

Change Archive::change() {
  impl_->Settle();
  impl_->BeginChange();
  return Change(impl_.get());
}

Change::Change(Change&& other) noexcept : impl_(other.impl_) { other.impl_ = nullptr; }

Change::~Change() {
  if (impl_) impl_->Rollback();
}

Change& Change::add(std::string_view name, std::span<const std::byte> data, const AddOptions& options) {
  Open(impl_).Adding(
      options, [&] { impl_->zip.AddFromBuffer(afp::FromUtf8(name), data.data(), static_cast<int64_t>(data.size())); });
  return *this;
}

Change& Change::add(std::string_view name, std::string_view text, const AddOptions& options) {
  return add(name, std::as_bytes(std::span<const char>(text.data(), text.size())), options);
}

Change& Change::add(std::string_view name, const ReadCallback& source, const AddOptions& options) {
  Archive::Impl& impl = Open(impl_);
  std::unique_ptr<TMemoryStream> content = Drained(source);
  impl.Adding(options, [&] { impl.zip.AddFromStream(afp::FromUtf8(name), content.release(), true); });
  return *this;
}

Change& Change::add(std::string_view name, std::istream& source, const AddOptions& options) {
  return add(
      name,
      [&source](void* buffer, size_t n) {
        source.read(static_cast<char*>(buffer), static_cast<std::streamsize>(n));
        if (source.bad()) throw UsageError("the stream to add could not be read");
        return static_cast<size_t>(source.gcount());
      },
      options);
}

Change& Change::add_file(const std::filesystem::path& path, std::string_view name, const AddOptions& options) {
  Open(impl_).AddFile(path, name, options);
  return *this;
}

Change& Change::remove(std::string_view mask) {
  Archive::Impl& impl = Open(impl_);
  // A mask without a folder matches in every folder; a plain name is the
  // one entry of that name.
  if (mask.find_first_of("*?") != std::string_view::npos) {
    impl.zip.DeleteFiles(afp::FromUtf8(mask));
  } else if (std::optional<int> at = impl.IndexOfName(mask)) {
    impl.zip.DeleteItem(*at);
  } else {
    throw EAFException::CreateFmt(NativeError::kFileNotFound, &impl.zip, {afp::FromUtf8(mask)});
  }
  return *this;
}

Change& Change::remove(const Entry& entry) {
  Open(impl_).zip.DeleteItem(impl_->IndexOf(entry));
  return *this;
}

void Change::commit() {
  Archive::Impl& impl = Open(impl_);
  impl_ = nullptr;
  impl.Commit();
}

}  // namespace arcfold
