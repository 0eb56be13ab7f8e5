#include "arcfold/dir_array.h"

#include <algorithm>
#include <atomic>
#include <new>

#include "arcfold/exception.h"
#include "arcfold/stream.h"
#include "platform/codepage.h"
#include "platform/files.h"

namespace arcfold {

afp::WideString NameKey(std::u16string_view name) {
  return afp::kCaseSensitiveNames ? afp::WideString(name) : afp::LowerCase(name);
}

// ---- TSourcePath ----

// One allocation: the count of the paths holding it, its characters after
// it, and the folder part they follow (none for a folder itself).
struct TSourcePath::Part {
  std::atomic<uint32_t> refs;
  uint32_t length;
  Part* folder;
  char16_t* Chars() { return reinterpret_cast<char16_t*>(this + 1); }
};

TSourcePath::Part* TSourcePath::NewPart(std::u16string_view chars, Part* folder) {
  void* raw = ::operator new(sizeof(Part) + chars.size() * sizeof(char16_t));
  Part* part = new (raw) Part{{1}, static_cast<uint32_t>(chars.size()), Retain(folder)};
  std::copy(chars.begin(), chars.end(), part->Chars());
  return part;
}

TSourcePath::Part* TSourcePath::Retain(Part* part) {
  if (part) part->refs.fetch_add(1, std::memory_order_relaxed);
  return part;
}

void TSourcePath::Release(Part* part) {
  if (!part || part->refs.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
  Release(part->folder);
  part->~Part();
  ::operator delete(part);
}

// The files of one folder come one after another: the folder of the last
// path is kept, per thread, for the next one to share.
TSourcePath::Part* TSourcePath::SharedFolder(std::u16string_view folder) {
  struct LastFolder {
    Part* part = nullptr;
    ~LastFolder() { Release(part); }
  };
  thread_local LastFolder last;
  if (last.part && std::u16string_view(last.part->Chars(), last.part->length) == folder) return Retain(last.part);
  Part* fresh = NewPart(folder, nullptr);
  Release(last.part);
  last.part = Retain(fresh);
  return fresh;
}

TSourcePath::TSourcePath(const TSourcePath& other) : part_(Retain(other.part_)) {}

TSourcePath& TSourcePath::operator=(const TSourcePath& other) {
  Part* kept = Retain(other.part_);
  Release(part_);
  part_ = kept;
  return *this;
}

TSourcePath::~TSourcePath() { Release(part_); }

TSourcePath& TSourcePath::operator=(std::u16string_view path) {
  const size_t cut = path.find_last_of(u"/\\");
  Part* folder = cut == std::u16string_view::npos ? nullptr : SharedFolder(path.substr(0, cut + 1));
  Part* fresh = NewPart(folder ? path.substr(cut + 1) : path, folder);
  Release(folder);
  Release(part_);
  part_ = fresh;
  return *this;
}

size_t TSourcePath::size() const {
  if (!part_) return 0;
  return part_->length + (part_->folder ? part_->folder->length : 0);
}

TSourcePath::operator afp::WideString() const {
  afp::WideString path;
  if (!part_) return path;
  path.reserve(size());
  if (part_->folder) path.append(part_->folder->Chars(), part_->folder->length);
  path.append(part_->Chars(), part_->length);
  return path;
}

// ---- TSharedPassword ----

// Items are added one after another under one password: the last one is
// remembered, per thread, for as long as an item holds it.
TSharedPassword& TSharedPassword::operator=(const std::string& password) {
  thread_local std::weak_ptr<const std::string> last;
  if (password.empty()) {
    text_.reset();
    return *this;
  }
  std::shared_ptr<const std::string> shared = last.lock();
  if (!shared || *shared != password) {
    shared = std::shared_ptr<const std::string>(new std::string(password));
    last = shared;
  }
  text_ = std::move(shared);
  return *this;
}

TSharedPassword::operator const std::string&() const {
  static const std::string kNone;
  return text_ ? *text_ : kNone;
}

// ---- TItemSource ----

TItemSource::~TItemSource() {
  if (OwnsSourceStream) delete SourceStream;
}

// ---- TDirItem ----

int64_t TDirItem::CompressedSize() const {
  return HeaderImage.CompressedSize() == 0xFFFFFFFF ? CompressedSize64 : HeaderImage.CompressedSize();
}
int64_t TDirItem::UncompressedSize() const {
  return HeaderImage.UncompressedSize() == 0xFFFFFFFF ? UncompressedSize64 : HeaderImage.UncompressedSize();
}
int64_t TDirItem::LocalHeaderOffset() const {
  return HeaderImage.LocalHeaderOffset() == 0xFFFFFFFF ? LocalHeaderOffset64 : HeaderImage.LocalHeaderOffset();
}
uint32_t TDirItem::DiskNumberStart() const {
  return HeaderImage.DiskNumberStart() == 0xFFFF ? DiskNumberStart64 : HeaderImage.DiskNumberStart();
}
bool TDirItem::IsDirectory() const {
  const bool marked = (HeaderImage.ExternalAttributes() & afp::kAttrDirectory) != 0 ||
                      (!ItemName.empty() && (ItemName.back() == u'/' || ItemName.back() == u'\\'));
  // A folder mark on an item that carries data does not make it a folder:
  // its data would go unread, by extraction and by tests alike. (Its
  // compressed size does not count: some tools deflate an empty folder's
  // nothing into two bytes.)
  return marked && UncompressedSize() == 0;
}

// ---- TAFStringHash ----

TAFStringHash::TAFStringHash(size_t buckets) : buckets_(std::max<size_t>(buckets, 1), nullptr) {}

TAFStringHash::~TAFStringHash() { Clear(); }

uint32_t TAFStringHash::HashOf(std::u16string_view key) {
  uint32_t h = 0;
  for (char16_t c : key) h = ((h << 2) | (h >> 30)) ^ c;
  return h;
}

void TAFStringHash::Add(const afp::WideString& key, int32_t value) {
  auto& head = buckets_[HashOf(key) % buckets_.size()];
  head = new THashItem{head, key, value};
}

TAFStringHash::THashItem* const* TAFStringHash::Find(std::u16string_view key) const {
  THashItem* const* link = &buckets_[HashOf(key) % buckets_.size()];
  while (*link) {
    if ((*link)->Key == key) return link;
    link = &(*link)->Next;
  }
  return link;
}

int32_t TAFStringHash::ValueOf(std::u16string_view key) const {
  THashItem* const* link = Find(key);
  return *link ? (*link)->Value : -1;
}

void TAFStringHash::Remove(std::u16string_view key) {
  auto link = const_cast<THashItem**>(Find(key));
  if (THashItem* node = *link) {
    *link = node->Next;
    delete node;
  }
}

void TAFStringHash::Remove(std::u16string_view key, int32_t value) {
  THashItem** link = &buckets_[HashOf(key) % buckets_.size()];
  while (*link) {
    if ((*link)->Key == key && (*link)->Value == value) {
      THashItem* node = *link;
      *link = node->Next;
      delete node;
      return;
    }
    link = &(*link)->Next;
  }
}

void TAFStringHash::Clear() {
  for (auto& head : buckets_) {
    while (head) {
      THashItem* next = head->Next;
      delete head;
      head = next;
    }
  }
}

// ---- TAFHashedStringList ----

afp::WideString TAFHashedStringList::KeyOf(std::u16string_view s) const {
  if (CaseSensitive) return afp::WideString(s);
  // Most keys arrive lower-cased already (the item array stores them so);
  // a quick check spares a second conversion.
  for (char16_t c : s)
    if ((c >= u'A' && c <= u'Z') || c >= 0x80) return afp::LowerCase(s);
  return afp::WideString(s);
}

uint32_t TAFHashedStringList::BucketOf(int index) const {
  const uint32_t hash =
      CaseSensitive ? TAFStringHash::HashOf(items_[index]) : TAFStringHash::HashOf(KeyOf(items_[index]));
  return hash % static_cast<uint32_t>(heads_.size());
}

bool TAFHashedStringList::Matches(int index, std::u16string_view key) const {
  return CaseSensitive ? items_[index] == key : KeyOf(items_[index]) == key;
}

void TAFHashedStringList::Link(int index) {
  if (next_.size() < items_.size()) next_.resize(items_.size(), -1);
  int32_t& head = heads_[BucketOf(index)];
  next_[index] = head;
  head = index;
}

void TAFHashedStringList::Unlink(int index) {
  for (int32_t* link = &heads_[BucketOf(index)]; *link != -1; link = &next_[*link]) {
    if (*link == index) {
      *link = next_[index];
      return;
    }
  }
}

int TAFHashedStringList::Add(const afp::WideString& s) {
  items_.push_back(s);
  empty_count_ += s.empty();
  int pos = Count() - 1;
  if (!heads_.empty() && hash_valid_) Link(pos);
  if (!heads_.empty() && static_cast<size_t>(Count()) > 5 * heads_.size()) {
    heads_ = std::vector<int32_t>();
    next_ = std::vector<int32_t>();
    hash_valid_ = false;
  }
  return pos;
}

void TAFHashedStringList::Put(int index, const afp::WideString& s) {
  const bool linked = !heads_.empty() && hash_valid_;
  if (linked) Unlink(index);
  empty_count_ += int(s.empty()) - int(items_[index].empty());
  items_[index] = s;
  if (linked) Link(index);
}

void TAFHashedStringList::Delete(int index) {
  empty_count_ -= items_[index].empty();
  items_.erase(items_.begin() + index);
  hash_valid_ = false;
}

void TAFHashedStringList::Clear() {
  items_.clear();
  empty_count_ = 0;
  std::fill(heads_.begin(), heads_.end(), -1);
  next_.clear();
}

int TAFHashedStringList::IndexOf(std::u16string_view s) {
  if (s.empty() && empty_count_ == 0) return -1;
  if (heads_.empty()) {
    heads_.assign(std::max<size_t>(items_.size(), 1000), -1);
    hash_valid_ = false;
  }
  if (!hash_valid_) {
    std::fill(heads_.begin(), heads_.end(), -1);
    next_.assign(items_.size(), -1);
    for (int i = 0; i < Count(); ++i) Link(i);
    hash_valid_ = true;
  }
  const afp::WideString key = KeyOf(s);
  const uint32_t bucket = TAFStringHash::HashOf(key) % static_cast<uint32_t>(heads_.size());
  for (int32_t at = heads_[bucket]; at != -1; at = next_[at])
    if (Matches(at, key)) return at;
  return -1;
}

// ---- TAFNameHashIndex ----

void TAFNameHashIndex::Link(int index) {
  if (next_.size() < hashes_.size()) next_.resize(hashes_.size(), -1);
  int32_t& head = heads_[BucketOf(hashes_[index])];
  next_[index] = head;
  head = index;
}

void TAFNameHashIndex::Unlink(int index) {
  for (int32_t* link = &heads_[BucketOf(hashes_[index])]; *link != -1; link = &next_[*link]) {
    if (*link == index) {
      *link = next_[index];
      return;
    }
  }
}

void TAFNameHashIndex::Add(uint32_t hash) {
  hashes_.push_back(hash);
  const int pos = Count() - 1;
  if (!heads_.empty() && hash_valid_) Link(pos);
  if (!heads_.empty() && static_cast<size_t>(Count()) > kMaxChainAverage * heads_.size()) {
    heads_ = std::vector<int32_t>();
    next_ = std::vector<int32_t>();
    hash_valid_ = false;
  }
}

void TAFNameHashIndex::Put(int index, uint32_t hash) {
  const bool linked = !heads_.empty() && hash_valid_;
  if (linked) Unlink(index);
  hashes_[index] = hash;
  if (linked) Link(index);
}

void TAFNameHashIndex::Delete(int index) {
  hashes_.erase(hashes_.begin() + index);
  hash_valid_ = false;
}

void TAFNameHashIndex::Clear() {
  hashes_.clear();
  std::fill(heads_.begin(), heads_.end(), -1);
  next_.clear();
}

void TAFNameHashIndex::Build() {
  if (heads_.empty()) {
    heads_.assign(std::max<size_t>(hashes_.size(), kMinBuckets), -1);
    hash_valid_ = false;
  }
  if (hash_valid_) return;
  std::fill(heads_.begin(), heads_.end(), -1);
  next_.assign(hashes_.size(), -1);
  for (int i = 0; i < Count(); ++i) Link(i);
  hash_valid_ = true;
}

template <typename SameName>
int TAFNameHashIndex::IndexOf(uint32_t hash, const SameName& same_name) {
  Build();
  for (int32_t at = heads_[BucketOf(hash)]; at != -1; at = next_[at])
    if (hashes_[at] == hash && same_name(at)) return at;
  return -1;
}

// ---- TAFDirArray ----

namespace {

uint32_t KeyHash(std::u16string_view name) {
  if constexpr (afp::kCaseSensitiveNames) return TAFStringHash::HashOf(name);
  return TAFStringHash::HashOf(NameKey(name));
}

// Whether an item's name is, as a file name, the name whose key is key.
bool SameKey(std::u16string_view item_name, std::u16string_view key) {
  return afp::kCaseSensitiveNames ? item_name == key : NameKey(item_name) == key;
}

}  // namespace

TAFDirArray::TAFDirArray() = default;

TAFDirArray::~TAFDirArray() = default;

void TAFDirArray::FreeItemBuffers(TDirItem& item) { item.ExtraFields.clear(); }

void TAFDirArray::SetCount(int n) {
  if (n > capacity_) {
    grow_step_ = std::min(2 * grow_step_, kGrowStepLimit);
    capacity_ = capacity_ + grow_step_ > n ? capacity_ + grow_step_ : n;
  } else if (n == 0) {
    // The index answers by the items' own names: it goes with them.
    name_index_.Clear();
    hashes_stored_ = false;
    indexed_ = 0;
    blocks_.clear();
    blocks_.shrink_to_fit();
    capacity_ = 0;
  }
  while (static_cast<int>(blocks_.size()) * kBlockItems < n)
    blocks_.push_back(std::make_unique<TDirItem[]>(kBlockItems));
  count_ = n;
}

void TAFDirArray::Clear() {
  for (auto& block : blocks_)
    for (int i = 0; i < kBlockItems; ++i) FreeItemBuffers(block[i]);
  count_ = 0;
  name_index_.Clear();
  hashes_stored_ = false;
  indexed_ = 0;
}

void TAFDirArray::StoreNameHashes() {
  if (hashes_stored_) return;
  for (int i = 0; i < indexed_; ++i) name_index_.Add(KeyHash(Slot(i).ItemName));
  hashes_stored_ = true;
}

void TAFDirArray::GetItem(int i, TDirItem& out) const {
  if (i < 0 || i >= count_) throw EAFException::Create(NativeError::kGetItemOutOfBounds);
  out = Slot(i);
}

TDirItem& TAFDirArray::ItemRef(int i) {
  if (i < 0 || i >= count_) throw EAFException::Create(NativeError::kItemRefOutOfBounds);
  return Slot(i);
}

const TDirItem& TAFDirArray::ItemRef(int i) const {
  if (i < 0 || i >= count_) throw EAFException::Create(NativeError::kItemRefOutOfBounds);
  return Slot(i);
}

void TAFDirArray::PutItem(int i, const TDirItem& item) {
  if (i < 0 || i >= count_) throw EAFException::Create(NativeError::kPutItemOutOfBounds);
  if (i > IndexedCount()) throw EAFException::Create(NativeError::kNameIndexGap);
  TDirItem copy = item;
  FreeItemBuffers(Slot(i));
  if (hashes_stored_) {
    const uint32_t hash = KeyHash(item.ItemName);
    if (i < name_index_.Count())
      name_index_.Put(i, hash);
    else
      name_index_.Add(hash);
  } else if (i == indexed_) {
    ++indexed_;
  }
  Slot(i) = std::move(copy);
}

void TAFDirArray::Delete(int i) {
  if (i < 0 || i >= count_) throw EAFException::Create(NativeError::kDeleteItemOutOfBounds);
  TDirItem& item = Slot(i);
  FreeItemBuffers(item);
  // Entry i is item i's: a lookup by name could meet another item of the
  // same name and drop its entry instead.
  if (i < IndexedCount()) {
    if (hashes_stored_)
      name_index_.Delete(i);
    else
      --indexed_;
  }
  for (int j = i; j + 1 < count_; ++j) Slot(j) = std::move(Slot(j + 1));
  Slot(count_ - 1) = TDirItem();
  SetCount(count_ - 1);
}

void TAFDirArray::ClearMarks() {
  for (int i = 0; i < count_; ++i) Slot(i).Marked = false;
}

bool TAFDirArray::FindName(std::u16string_view name, int& index) {
  StoreNameHashes();
  // Where names keep their case, a name is its own key.
  const afp::WideString folded = afp::kCaseSensitiveNames ? afp::WideString() : NameKey(name);
  const std::u16string_view key = afp::kCaseSensitiveNames ? name : std::u16string_view(folded);
  index = name_index_.IndexOf(TAFStringHash::HashOf(key), [&](int at) { return SameKey(Slot(at).ItemName, key); });
  return index >= 0;
}

void TAFDirArray::RenameItem(int i, const afp::WideString& name) {
  TDirItem& item = ItemRef(i);
  if (!hashes_stored_) {
    // The entry of an indexed item is its name, and follows the name.
    if (i > indexed_) throw EAFException::Create(NativeError::kDuplicateName);
    if (i == indexed_) ++indexed_;
    item.ItemName = name;
    return;
  }
  const uint32_t hash = KeyHash(name);
  // The index entry of item i is found by position: a lookup by the old name
  // would meet another item of the same name (an empty name, say) and take
  // the index for broken.
  if (i == name_index_.Count()) {
    name_index_.Add(hash);
  } else if (i < name_index_.Count() && name_index_.HashAt(i) == KeyHash(item.ItemName)) {
    name_index_.Put(i, hash);
  } else {
    throw EAFException::Create(NativeError::kDuplicateName);
  }
  item.ItemName = name;
}

void TAFDirArray::Assign(const TAFDirArray& other) {
  Clear();
  SetCount(other.Count());
  TDirItem item;
  for (int i = 0; i < other.Count(); ++i) {
    other.GetItem(i, item);
    PutItem(i, item);
  }
}

}  // namespace arcfold
