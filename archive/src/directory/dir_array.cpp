#include "arcfold/dir_array.h"

#include <algorithm>

#include "arcfold/exception.h"
#include "arcfold/stream.h"
#include "platform/codepage.h"
#include "platform/files.h"

namespace arcfold {

afp::WideString NameKey(std::u16string_view name) {
  return afp::kCaseSensitiveNames ? afp::WideString(name) : afp::LowerCase(name);
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

int TAFHashedStringList::Add(const afp::WideString& s) {
  items_.push_back(s);
  empty_count_ += s.empty();
  int pos = Count() - 1;
  if (hash_ && hash_valid_) hash_->Add(KeyOf(s), pos);
  if (hash_ && static_cast<size_t>(Count()) > 5 * hash_->BucketCount()) {
    hash_.reset();
    hash_valid_ = false;
  }
  return pos;
}

void TAFHashedStringList::Put(int index, const afp::WideString& s) {
  if (hash_) hash_->Remove(KeyOf(items_[index]), index);
  empty_count_ += int(s.empty()) - int(items_[index].empty());
  items_[index] = s;
  if (hash_) hash_->Add(KeyOf(s), index);
}

void TAFHashedStringList::Delete(int index) {
  empty_count_ -= items_[index].empty();
  items_.erase(items_.begin() + index);
  hash_valid_ = false;
}

void TAFHashedStringList::Clear() {
  items_.clear();
  empty_count_ = 0;
  if (hash_) hash_->Clear();
}

int TAFHashedStringList::IndexOf(std::u16string_view s) {
  if (s.empty() && empty_count_ == 0) return -1;
  if (!hash_) {
    hash_ = std::make_unique<TAFStringHash>(std::max<size_t>(items_.size(), 1000));
    hash_valid_ = false;
  }
  if (!hash_valid_) {
    hash_->Clear();
    for (int i = 0; i < Count(); ++i) hash_->Add(KeyOf(items_[i]), i);
    hash_valid_ = true;
  }
  return hash_->ValueOf(KeyOf(s));
}

// ---- TAFDirArray ----

// The index's keys are NameKeys already: the list uses them as they are.
TAFDirArray::TAFDirArray() { name_index_.CaseSensitive = true; }

// The members free themselves: SetCount(0) would store the name keys first.
TAFDirArray::~TAFDirArray() = default;

void TAFDirArray::FreeItemBuffers(TDirItem& item) { item.ExtraFields.clear(); }

void TAFDirArray::SetCount(int n) {
  if (n > capacity_) {
    grow_step_ = std::min(2 * grow_step_, kGrowStepLimit);
    capacity_ = capacity_ + grow_step_ > n ? capacity_ + grow_step_ : n;
    slots_.resize(static_cast<size_t>(capacity_));
  } else if (n == 0) {
    // The index is left as it is (Clear empties it): the keys of the items
    // it covers outlive their names.
    if (indexed_ > 0) StoreNameKeys();
    for (auto& item : slots_) FreeItemBuffers(item);
    slots_.clear();
    slots_.shrink_to_fit();
    capacity_ = 0;
  }
  count_ = n;
}

void TAFDirArray::Clear() {
  for (int i = 0; i < capacity_; ++i) FreeItemBuffers(slots_[i]);
  count_ = 0;
  name_index_.Clear();
  keys_stored_ = false;
  indexed_ = 0;
}

void TAFDirArray::StoreNameKeys() {
  if (keys_stored_) return;
  for (int i = 0; i < indexed_; ++i) name_index_.Add(NameKey(slots_[i].ItemName));
  keys_stored_ = true;
}

void TAFDirArray::GetItem(int i, TDirItem& out) const {
  if (i < 0 || i >= count_) throw EAFException::Create(NativeError::kGetItemOutOfBounds);
  out = slots_[i];
}

TDirItem& TAFDirArray::ItemRef(int i) {
  if (i < 0 || i >= count_) throw EAFException::Create(NativeError::kItemRefOutOfBounds);
  return slots_[i];
}

const TDirItem& TAFDirArray::ItemRef(int i) const {
  if (i < 0 || i >= count_) throw EAFException::Create(NativeError::kItemRefOutOfBounds);
  return slots_[i];
}

void TAFDirArray::PutItem(int i, const TDirItem& item) {
  if (i < 0 || i >= count_) throw EAFException::Create(NativeError::kPutItemOutOfBounds);
  if (i > IndexedCount()) throw EAFException::Create(NativeError::kNameIndexGap);
  TDirItem copy = item;
  FreeItemBuffers(slots_[i]);
  if (keys_stored_) {
    afp::WideString key = NameKey(item.ItemName);
    if (i < name_index_.Count())
      name_index_.Put(i, key);
    else
      name_index_.Add(key);
  } else if (i == indexed_) {
    ++indexed_;
  }
  slots_[i] = std::move(copy);
}

void TAFDirArray::Delete(int i) {
  if (i < 0 || i >= count_) throw EAFException::Create(NativeError::kDeleteItemOutOfBounds);
  TDirItem& item = slots_[i];
  FreeItemBuffers(item);
  // Entry i is item i's: a lookup by name could meet another item of the
  // same name and drop its entry instead.
  if (i < IndexedCount()) {
    if (keys_stored_)
      name_index_.Delete(i);
    else
      --indexed_;
  }
  std::move(slots_.begin() + i + 1, slots_.begin() + count_, slots_.begin() + i);
  slots_[count_ - 1] = TDirItem();
  SetCount(count_ - 1);
}

void TAFDirArray::ClearMarks() {
  for (int i = 0; i < count_; ++i) slots_[i].Marked = false;
}

bool TAFDirArray::FindName(std::u16string_view name, int& index) {
  StoreNameKeys();
  index = name_index_.IndexOf(NameKey(name));
  return index >= 0;
}

void TAFDirArray::RenameItem(int i, const afp::WideString& name) {
  TDirItem& item = ItemRef(i);
  if (!keys_stored_) {
    // The entry of an indexed item is its name's key, and follows the name.
    if (i > indexed_) throw EAFException::Create(NativeError::kDuplicateName);
    if (i == indexed_) ++indexed_;
    item.ItemName = name;
    return;
  }
  afp::WideString key = NameKey(name);
  // The index entry of item i is found by position: a lookup by the old name
  // would meet another item of the same name (an empty name, say) and take
  // the index for broken.
  if (i == name_index_.Count()) {
    name_index_.Add(key);
  } else if (i < name_index_.Count() && name_index_[i] == NameKey(item.ItemName)) {
    name_index_.Put(i, key);
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
