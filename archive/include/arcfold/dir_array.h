/// @file
/// The in-memory directory: one TDirItem per archive item in a growable
/// array, with a case-insensitive hashed index of the item names.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "arcfold/export.h"
#include "arcfold/platform/wide.h"
#include "arcfold/records.h"
#include "arcfold/types.h"

namespace arcfold {

class TStream;

/// The form of a name under which two names are the same file or item: the
/// name lower-cased where the system's file names ignore letter case, the
/// name as it is where they do not ("xt_CONNMARK.h" and "xt_connmark.h" are
/// two files on Linux).
ARCFOLD_API afp::WideString NameKey(std::u16string_view name);

/// @cond INTERNAL
// A member that almost every item leaves empty (its comment, its extra
// fields): nothing is allocated, and only a pointer is held, until it holds
// something, so a directory of a hundred thousand items does not carry
// their empty containers. Reads as the container (Get), changes through
// Mutable; assigning an empty one frees it.
template <class T>
class TSparse {
 public:
  TSparse() = default;
  TSparse(const TSparse& other) : value_(other.value_ ? std::make_unique<T>(*other.value_) : nullptr) {}
  TSparse(TSparse&&) noexcept = default;
  TSparse& operator=(const TSparse& other) {
    if (this != &other) value_ = other.value_ ? std::make_unique<T>(*other.value_) : nullptr;
    return *this;
  }
  TSparse& operator=(TSparse&&) noexcept = default;
  TSparse& operator=(T value) {
    value_ = value.empty() ? nullptr : std::make_unique<T>(std::move(value));
    return *this;
  }
  const T& Get() const {
    static const T kNone;
    return value_ ? *value_ : kNone;
  }
  T& Mutable() {
    if (!value_) value_ = std::make_unique<T>();
    return *value_;
  }
  operator const T&() const { return Get(); }  // NOLINT(google-explicit-constructor): reads as the container
  bool empty() const { return !value_ || value_->empty(); }
  size_t size() const { return value_ ? value_->size() : 0; }
  void clear() { value_.reset(); }
  auto begin() const { return Get().begin(); }
  auto end() const { return Get().end(); }
  auto data() const { return Get().data(); }
  const auto& back() const { return Get().back(); }
  const auto& operator[](size_t i) const { return Get()[i]; }
  auto& operator[](size_t i) { return Mutable()[i]; }
  void push_back(const typename T::value_type& v) { Mutable().push_back(v); }

 private:
  std::unique_ptr<T> value_;
};

/// A source file's path, held as its folder, shared with the paths of the
/// other files from that folder, and its own name: adding a folder of many
/// thousands of files does not keep the folder's path once per file. Reads
/// as the whole path.
class ARCFOLD_API TSourcePath {
 public:
  TSourcePath() = default;
  TSourcePath(const TSourcePath& other);
  TSourcePath& operator=(const TSourcePath& other);
  ~TSourcePath();
  TSourcePath& operator=(std::u16string_view path);
  bool empty() const { return size() == 0; }
  size_t size() const;
  operator afp::WideString() const;  // NOLINT(google-explicit-constructor): reads as the path

 private:
  struct Part;
  static Part* NewPart(std::u16string_view chars, Part* folder);
  static Part* Retain(Part* part);
  static void Release(Part* part);
  static Part* SharedFolder(std::u16string_view folder);
  Part* part_ = nullptr;
};

/// The password an item is encrypted with, one copy shared by the items
/// added under it. Reads as the password.
class ARCFOLD_API TSharedPassword {
 public:
  TSharedPassword& operator=(const std::string& password);
  bool empty() const { return !text_ || text_->empty(); }
  operator const std::string&() const;  // NOLINT(google-explicit-constructor): reads as the password

 private:
  std::shared_ptr<const std::string> text_;
};

// Where the data of an item being added comes from. Only items that are being
// added carry one, so it lives apart from the item: a directory of many
// thousands of items read from an archive does not pay for these fields.
// Items and SavedItems share one TItemSource through shared_ptr: the stream
// it owns is freed once, when the last item holding it goes.
struct ARCFOLD_API TItemSource {
  TItemSource() = default;
  TItemSource(const TItemSource&) = delete;
  TItemSource& operator=(const TItemSource&) = delete;
  ~TItemSource();
  bool IsPending = false;
  bool OwnsSourceStream = false;
  int32_t SourcePosition = 0;
  TStream* SourceStream = nullptr;
  TSharedPassword Password;
  TSourcePath SourcePath;
};
/// @endcond

/// One item of the archive's directory, as TAFBaseArchiver::Item() gives it.
/// The small fields sit in the gaps the large ones leave (a directory may
/// hold a hundred thousand of these), which is why they are not grouped by
/// meaning.
struct ARCFOLD_API TDirItem {
  /// The item's central directory record (method, flags, DOS time and date,
  /// CRC-32, attributes) as the archive stores it.
  TCentralHeader HeaderImage;
  /// The item's encryption, when it is encrypted.
  TAFCryptoAlgorithm CryptoAlgorithm = caPkzipClassic;
  /// Whether the item has ZIP64 sizes.
  bool HasZip64 = false;
  /// The item's name ("\"-separated folders; a folder ends with "\").
  afp::WideString ItemName;
  /// The item's comment.
  TSparse<std::string> Comment;
  /// The extra fields of its central record.
  TSparse<TExtraFieldList> ExtraFields;
  /// The ZIP64 uncompressed size (see UncompressedSize()).
  int64_t UncompressedSize64 = 0;
  /// The ZIP64 compressed size (see CompressedSize()).
  int64_t CompressedSize64 = 0;
  /// The ZIP64 local header offset (see LocalHeaderOffset()).
  int64_t LocalHeaderOffset64 = 0;
  /// The add-side fields (pending flag, password, source stream, position,
  /// source path); none for items read from an archive.
  std::shared_ptr<TItemSource> Source;
  /// The ZIP64 number of the volume the item starts on.
  uint32_t DiskNumberStart64 = 0;
  /// Marked for the next ProcessMarkedItems run.
  bool Marked = false;
  /// The compression method of its data (behind an AES wrapper, the real one).
  uint16_t ActualMethod = 0;
  /// The compression level it is written with (0..9).
  uint8_t ItemCompressionMode = 0;
  /// What the current run does with it.
  TAFProcessOperation Operation = poExtract;
  /// During an update: the position in SavedItems of the item this one was
  /// when the transaction began (-1 for an item added since). The commit
  /// copies old data by it, never by name: names may repeat.
  int SavedIndex = -1;

  /// Sizes and offset with the 64-bit value used where the 32-bit field is all-ones.
  ///@{
  int64_t CompressedSize() const;
  int64_t UncompressedSize() const;
  int64_t LocalHeaderOffset() const;
  uint32_t DiskNumberStart() const;
  ///@}
  /// Whether the item is a folder (its name ends with a separator).
  bool IsDirectory() const;
};

/// @cond INTERNAL
/// Hash table of wide strings to integers: chains per bucket, a fixed bucket count.
class ARCFOLD_API TAFStringHash {
 public:
  explicit TAFStringHash(size_t buckets);
  ~TAFStringHash();
  TAFStringHash(const TAFStringHash&) = delete;
  TAFStringHash& operator=(const TAFStringHash&) = delete;

  static uint32_t HashOf(std::u16string_view key);
  void Add(const afp::WideString& key, int32_t value);
  int32_t ValueOf(std::u16string_view key) const;  ///< -1 when absent
  void Remove(std::u16string_view key);
  /// Removes the entry of key that maps to value (keys may repeat).
  void Remove(std::u16string_view key, int32_t value);
  void Clear();
  size_t BucketCount() const { return buckets_.size(); }

 private:
  struct THashItem {
    THashItem* Next;
    afp::WideString Key;
    int32_t Value;
  };
  THashItem* const* Find(std::u16string_view key) const;
  std::vector<THashItem*> buckets_;
};

/// A list of wide strings with a lazily built hash index for lookups.
class ARCFOLD_API TAFHashedStringList {
 public:
  bool CaseSensitive = false;

  int Count() const { return static_cast<int>(items_.size()); }
  const afp::WideString& operator[](int i) const { return items_[i]; }
  int Add(const afp::WideString& s);
  void Put(int index, const afp::WideString& s);
  void Delete(int index);
  void Clear();
  int IndexOf(std::u16string_view s);
  /// For tests: the current table's bucket count (0 when there is none).
  size_t BucketCount() const { return heads_.size(); }

 private:
  afp::WideString KeyOf(std::u16string_view s) const;
  uint32_t BucketOf(int index) const;
  bool Matches(int index, std::u16string_view key) const;
  // The table chains positions, not copies of the keys: each entry is its
  // string in items_. Link puts a position first in its bucket's chain.
  void Link(int index);
  void Unlink(int index);
  std::vector<afp::WideString> items_;
  /// How many entries are empty strings: the directory reader looks up the
  /// empty name of every fresh item, and this answers that without building
  /// the table (which then is built only if a real lookup comes).
  int empty_count_ = 0;
  std::vector<int32_t> heads_;  // per bucket, its chain's first position (-1: none); empty: no table
  std::vector<int32_t> next_;   // per position, the next one in its chain
  bool hash_valid_ = false;
};

/// The name index of a TAFDirArray: per item, in item order, the hash of
/// its name's NameKey, chained by bucket for lookups. It holds no copy of a
/// name: whether the name at a position is the one sought is asked of the
/// item itself, so a directory of many thousands of items pays a few bytes
/// per item for its index rather than a second copy of every name.
class ARCFOLD_API TAFNameHashIndex {
 public:
  int Count() const { return static_cast<int>(hashes_.size()); }
  uint32_t HashAt(int i) const { return hashes_[i]; }
  void Add(uint32_t hash);
  void Put(int index, uint32_t hash);
  void Delete(int index);
  void Clear();
  /// The position whose hash is hash and of which same_name(position) holds;
  /// -1 when none has. Defined where it is used.
  template <typename SameName>
  int IndexOf(uint32_t hash, const SameName& same_name);
  /// For tests: the current table's bucket count (0 when there is none).
  size_t BucketCount() const { return heads_.size(); }

 private:
  // A table has at least kMinBuckets buckets, and is dropped (to be built
  // again, as large as the count) once its chains average more than
  // kMaxChainAverage positions.
  static constexpr size_t kMinBuckets = 1000;
  static constexpr size_t kMaxChainAverage = 5;
  uint32_t BucketOf(uint32_t hash) const { return hash % static_cast<uint32_t>(heads_.size()); }
  void Build();
  // Link puts a position first in its bucket's chain.
  void Link(int index);
  void Unlink(int index);
  std::vector<uint32_t> hashes_;
  std::vector<int32_t> heads_;  // per bucket, its chain's first position (-1: none); empty: no table
  std::vector<int32_t> next_;   // per position, the next one in its chain
  bool hash_valid_ = false;
};

/// The name index covers the leading items, each under its name's NameKey.
/// Their hashes are stored only once a lookup needs them: until then the
/// index only counts the items it covers, so opening an archive only to list
/// or extract it does not hash every name.
class ARCFOLD_API TAFDirArray {
 public:
  TAFDirArray();
  ~TAFDirArray();
  TAFDirArray(const TAFDirArray&) = delete;
  TAFDirArray& operator=(const TAFDirArray&) = delete;

  int Count() const { return count_; }
  int Capacity() const { return capacity_; }
  void SetCount(int n);
  void Clear();
  void GetItem(int i, TDirItem& out) const;
  TDirItem& ItemRef(int i);
  const TDirItem& ItemRef(int i) const;
  void PutItem(int i, const TDirItem& item);
  void Delete(int i);
  void ClearMarks();
  bool FindName(std::u16string_view name, int& index);
  void RenameItem(int i, const afp::WideString& name);
  void Assign(const TAFDirArray& other);

 private:
  static void FreeItemBuffers(TDirItem& item);
  TDirItem& Slot(int i) { return blocks_[i / kBlockItems][i % kBlockItems]; }
  const TDirItem& Slot(int i) const { return blocks_[i / kBlockItems][i % kBlockItems]; }
  void StoreNameHashes();
  int IndexedCount() const { return hashes_stored_ ? name_index_.Count() : indexed_; }
  // The items in blocks of a fixed size, as many as the count needs: growing
  // never copies the items already there nor holds them twice.
  static constexpr int kBlockItems = 1024;
  std::vector<std::unique_ptr<TDirItem[]>> blocks_;
  TAFNameHashIndex name_index_;
  /// Until the hashes are stored, how many leading items the index covers.
  bool hashes_stored_ = false;
  int indexed_ = 0;
  int grow_step_ = 500;
  static constexpr int kGrowStepLimit = 10000;
  int capacity_ = 0;
  int count_ = 0;
};

/// @endcond

}  // namespace arcfold
