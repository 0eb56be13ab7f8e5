#include "items/extract_ahead.h"

#include <algorithm>

#include "arcfold/exception.h"
#include "arcfold/stream.h"
#include "items/new_file.h"
#include "items/path_parts.h"
#include "platform/files.h"

namespace arcfold {

namespace {

// How far the helpers may run ahead of the run: a number of items, and the
// bytes of the files decoded and not yet taken (on a memory file system
// they are memory). The item the run waits for is always allowed, and so is
// one item of any size after it when nothing else is ahead: a large item is
// decoded beside the one before it, and the files ahead hold at most the
// window or that one item.
constexpr size_t kWindowItems = 64;
constexpr int64_t kWindowBytes = 32 << 20;
// The window is refilled by this many items at a time, so that helpers
// that have caught up are woken once per batch, not once per item.
constexpr size_t kRefillItems = 16;

// Quiet decoding: progress is recorded for the run to replay; a password
// that does not fit, a short write or a stop give the item up.
class HelperHost : public DecodeHost {
 public:
  HelperHost(std::vector<int64_t>& progress, const std::atomic<bool>& stop, const std::atomic<bool>& abandoned)
      : progress_(progress), stop_(stop), abandoned_(abandoned) {}
  bool Report(int64_t processed) override {
    progress_.push_back(processed);
    return !Stopped();
  }
  bool PasswordRefused(std::string&) override { return false; }
  bool WriteFailed() override { return false; }
  bool Stopped() override { return stop_ || abandoned_; }

 private:
  std::vector<int64_t>& progress_;
  const std::atomic<bool>& stop_;
  const std::atomic<bool>& abandoned_;
};

}  // namespace

TExtractAhead::TExtractAhead(Setup setup, const TAFDirArray& items, std::vector<int> order, unsigned helpers)
    : setup_(std::move(setup)), items_(items), order_(std::move(order)), password_(setup_.settings.password) {
  if (setup_.check_overlaps) setup_.settings.sorted_offsets = &setup_.sorted_offsets;
  if (setup_.extract && !setup_.dest.empty() && afp::DirectoryExists(setup_.dest)) root_ = setup_.dest;
  try {
    run_archive_ = std::make_unique<TFileStream>(setup_.archive_file, fmOpenRead | fmShareDenyNone);
  } catch (...) {
    // The run only waits, then.
  }
  TopUp();
  for (unsigned i = 0; i < helpers; ++i) helpers_.emplace_back(&TExtractAhead::Run, this);
}

TExtractAhead::~TExtractAhead() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    stop_ = true;
  }
  cv_.notify_all();
  for (auto& h : helpers_) h.join();
  for (auto& slot : slots_)
    if (slot->state == State::kDone && !slot->result.temp.empty()) DiscardFile(slot->result.temp);
}

void TExtractAhead::TopUp() {
  std::lock_guard<std::mutex> lock(mu_);
  while (next_fill_ < order_.size() && next_fill_ < front_ + kWindowItems) {
    auto slot = std::make_unique<Slot>();
    slot->index = order_[next_fill_];
    slot->item = items_.ItemRef(slot->index);
    slot->item.Source.reset();
    slot->folder = setup_.dest + paths::FolderPart(paths::CollapseSegments(paths::Backslashed(slot->item.ItemName)));
    if (slot->item.IsDirectory()) slot->state = State::kTaken;  // nothing to decode
    slots_.push_back(std::move(slot));
    ++next_fill_;
  }
  WakeHelpers();
}

void TExtractAhead::WakeHelpers() {
  // Waking costs a system call per sleeper; nobody asleep, nothing to do.
  if (helpers_waiting_ || run_waiting_) cv_.notify_all();
}

TExtractAhead::Slot* TExtractAhead::Find(int index) {
  for (auto& slot : slots_)
    if (slot->index == index) return slot.get();
  return nullptr;
}

std::optional<TExtractAhead::Result> TExtractAhead::Take(int index) {
  std::unique_lock<std::mutex> lock(mu_);
  Slot* slot = Find(index);
  if (!slot) return std::nullopt;
  // Rather than wait for a helper to finish this item, the run decodes a
  // later one itself: both cores stay busy, and nobody sleeps per item.
  while (slot->state == State::kWorking) {
    afp::WideString folder;
    Slot* other = run_archive_ ? NextWork(folder) : nullptr;
    if (other) {
      Work(*other, folder, *run_archive_, run_state_, lock);
      continue;
    }
    run_waiting_ = true;
    cv_.wait(lock, [&] { return slot->state != State::kWorking; });
    run_waiting_ = false;
  }
  std::optional<Result> out;
  if (slot->state == State::kDone) {
    // A question of the run may have changed the password since: the item
    // would then bring its own question, or decode otherwise.
    if (DecodedAsTheRunWould(*slot))
      out = std::move(slot->result);
    else if (!slot->result.temp.empty())
      DiscardFile(slot->result.temp);
    slot->result = Result();
    bytes_ahead_ -= slot->item.UncompressedSize();
    WakeHelpers();
  }
  slot->state = State::kTaken;
  return out;
}

void TExtractAhead::Passed(int index) {
  {
    std::unique_lock<std::mutex> lock(mu_);
    if (!Find(index)) return;
    while (!slots_.empty()) {
      Slot& slot = *slots_.front();
      if (slot.state == State::kWorking) {
        // Skipped by the run while a helper decodes it: the helper stops at
        // its next chunk and deletes what it made.
        slot.abandoned = true;
        run_waiting_ = true;
        cv_.wait(lock, [&] { return slot.state != State::kWorking; });
        run_waiting_ = false;
      }
      if (slot.state == State::kDone) {
        DiscardFile(slot.result.temp);
        bytes_ahead_ -= slot.item.UncompressedSize();
      }
      const bool reached = slot.index == index;
      slots_.pop_front();
      ++front_;
      if (reached) break;
    }
    if (next_fill_ - front_ > kWindowItems - kRefillItems) return;
  }
  TopUp();
}

void TExtractAhead::FolderReady(const afp::WideString& dest, const afp::WideString& folder) {
  std::lock_guard<std::mutex> lock(mu_);
  ready_folders_.insert(folder);
  if (!dest.empty()) root_ = dest;
  WakeHelpers();
}

void TExtractAhead::PasswordChanged(const std::string& password) {
  std::lock_guard<std::mutex> lock(mu_);
  password_ = password;
}

bool TExtractAhead::MayStart(size_t position) const {
  if (position == 0) return true;
  const Slot& front = *slots_[0];
  const bool front_counted = front.state == State::kWorking || front.state == State::kDone;
  const int64_t beyond_front = bytes_ahead_ - (front_counted ? front.item.UncompressedSize() : 0);
  return beyond_front == 0 || bytes_ahead_ + slots_[position]->item.UncompressedSize() <= kWindowBytes;
}

bool TExtractAhead::DecodedAsTheRunWould(const Slot& slot) const {
  return !(slot.item.HeaderImage.Flags() & kFlagEncrypted) || slot.decoded_with == password_;
}

afp::WideString TExtractAhead::PlaceFor(const Slot& slot) const {
  if (!setup_.extract) return u"-";  // testing writes nothing
  // Only folders the run has made or checked: a folder it has not looked
  // at yet may be a link out of the destination.
  if (ready_folders_.count(slot.folder)) return slot.folder;
  return root_;
}

TExtractAhead::Slot* TExtractAhead::NextWork(afp::WideString& folder) {
  for (size_t p = 0; p < slots_.size(); ++p) {
    if (slots_[p]->state != State::kPending) continue;
    if (!MayStart(p)) return nullptr;
    folder = PlaceFor(*slots_[p]);
    if (folder.empty()) continue;  // its folder is not made yet
    return slots_[p].get();
  }
  return nullptr;
}

void TExtractAhead::Work(Slot& slot, const afp::WideString& folder, TStream& archive, HelperState& state,
                         std::unique_lock<std::mutex>& lock) {
  slot.state = State::kWorking;
  bytes_ahead_ += slot.item.UncompressedSize();
  std::string password = password_;
  lock.unlock();
  Result result;
  bool good = Decode(archive, slot, folder, password, state, result);
  lock.lock();
  if (good && !slot.abandoned && !stop_) {
    slot.result = std::move(result);
    slot.decoded_with = std::move(password);
    slot.state = State::kDone;
  } else {
    if (!result.temp.empty()) DiscardFile(result.temp);
    bytes_ahead_ -= slot.item.UncompressedSize();
    slot.state = State::kFailed;
  }
  WakeHelpers();
}

void TExtractAhead::Run() {
  std::unique_ptr<TFileStream> archive;
  try {
    archive = std::make_unique<TFileStream>(setup_.archive_file, fmOpenRead | fmShareDenyNone);
  } catch (...) {
    return;  // the run decodes every item itself
  }
  HelperState state;
  std::unique_lock<std::mutex> lock(mu_);
  for (;;) {
    Slot* slot = nullptr;
    afp::WideString folder;
    ++helpers_waiting_;
    cv_.wait(lock, [&] { return stop_ || (slot = NextWork(folder)) != nullptr; });
    --helpers_waiting_;
    if (stop_) return;
    Work(*slot, folder, *archive, state, lock);
  }
}

bool TExtractAhead::Decode(TStream& archive, Slot& slot, const afp::WideString& folder, std::string password,
                           HelperState& state, Result& result) {
  const TDirItem& item = slot.item;
  DecodeSettings settings = setup_.settings;
  settings.password = std::move(password);
  HelperHost host(result.progress, stop_, slot.abandoned);
  std::unique_ptr<TFileStream> out;
  TNullStream null;
  if (setup_.extract) {
    out = CreateFileBeside(folder, result.temp);
    if (!out) return false;
  }
  bool good = false;
  try {
    archive.SetPosition(item.LocalHeaderOffset());
    good = DecodeItemStream(host, settings, archive, out ? static_cast<TStream&>(*out) : null, item) ==
           DecodeResult::kGood;
    if (good && out) {
      if (setup_.flush_removable) FlushIfRemovable(*out, folder, state.removable_checked_for, state.removable);
      FinishFile(*out, item, item.HeaderImage.ExternalAttributes(), setup_.set_attributes);
    }
  } catch (...) {
    good = false;  // damage or trouble: the run does the item itself and reports it
  }
  out.reset();
  return good;
}

}  // namespace arcfold
