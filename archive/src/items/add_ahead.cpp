#include "items/add_ahead.h"

#include <algorithm>

#include "arcfold/dir_array.h"
#include "arcfold/stream.h"
#include "codec/deflater.h"
#include "codec/encode.h"
#include "codec/methods.h"

namespace arcfold {

namespace {

// How far the helper may run ahead of the writing: this many items, and
// while what it has finished holds less than an item's method allows.
constexpr size_t kItemsAhead = 64;

// What the helper takes on for an item of a method. Deflate is quick: the
// helper takes files of one encoding chunk, keeps little ahead, and the
// commit never waits for it. bzip2, LZMA and xz take a core for seconds
// per item: the helper takes files of up to 8 MiB (larger xz sources are
// compressed on two cores by the codec itself) and keeps up to 32 MiB of
// finished files ahead; the commit compresses items too, and waits for
// one the helper is at rather than compress it a second time. Memory is
// bounded by bytes_ahead plus two items in the making (one per thread),
// each its file and its compressed data, besides the encoders' own.
struct MethodReach {
  int64_t item_limit;
  size_t bytes_ahead;
  bool slow;
};

constexpr int64_t kSlowItemLimit = 8 << 20;
constexpr size_t kSlowBytesAhead = 32u << 20;
constexpr size_t kQuickBytesAhead = 4u << 20;

MethodReach ReachOf(uint16_t method, int mode) {
  if (method == kMethodBZip2 || method == kMethodLZMA || method == kMethodXz)
    return {kSlowItemLimit, kSlowBytesAhead, true};
  return {EncodeChunkSize(mode), kQuickBytesAhead, false};
}

// Items whose data comes from a file by its name: the others (folders,
// streams, names too long for the system without the long-path prefix) go
// the commit's own way.
bool ReadsAFile(const TDirItem& item) {
  const TItemSource* source = item.Source.get();
  return source && source->IsPending && !source->SourceStream && !source->SourcePath.empty() &&
         source->SourcePath.size() <= afp::kMaxPathChars && !item.IsDirectory();
}

}  // namespace

struct TAddAhead::Job {
  enum class State { kQueued, kWorking, kDone };
  uint64_t number = 0;
  const TItemSource* key = nullptr;
  afp::WideString path;
  int mode = 0;
  uint16_t method = kMethodStored;
  MethodReach reach{};  // larger files are left to the commit
  State state = State::kQueued;
  bool ok = false;
  size_t bytes = 0;  // what the finished job holds
  Ready ready;
};

TAddAhead::TAddAhead(const TAFTuning& tuning) : tuning_(tuning) {}

TAddAhead::~TAddAhead() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
    quitting_ = true;
  }
  work_to_do_.notify_all();
  if (helper_.joinable()) helper_.join();
}

void TAddAhead::QueueFrom(const TAFDirArray& items, int from) {
  if (next_ < from) next_ = from;
  bool queued = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // Topped up by half the window at a time: the helper, when it has caught
    // up, is woken once for many items.
    if (jobs_.size() > kItemsAhead / 2) return;
    for (; jobs_.size() < kItemsAhead && next_ < items.Count(); ++next_) {
      const TDirItem& item = items.ItemRef(next_);
      if (!ReadsAFile(item)) continue;
      auto job = std::make_shared<Job>();
      job->number = queued_++;
      job->key = item.Source.get();
      job->path = item.Source->SourcePath;
      job->mode = item.ItemCompressionMode;
      job->method = item.ActualMethod;
      job->reach = ReachOf(job->method, job->mode);
      jobs_.push_back(std::move(job));
      queued = true;
    }
  }
  if (!queued) return;
  if (!helper_.joinable()) helper_ = std::thread([this] { Work(); });
  work_to_do_.notify_one();
}

std::unique_ptr<TAddAhead::Ready> TAddAhead::Take(const TDirItem& item) {
  std::unique_ptr<Ready> ready;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    const auto mine = std::find_if(jobs_.begin(), jobs_.end(),
                                   [&](const std::shared_ptr<Job>& j) { return j->key == item.Source.get(); });
    if (mine == jobs_.end()) return nullptr;
    const std::shared_ptr<Job> held = *mine;
    Job& job = *held;
    if (job.reach.slow) FinishHere(held, lock);
    passed_ = job.number + 1;
    if (job.state == Job::State::kDone && job.ok) ready = std::make_unique<Ready>(std::move(job.ready));
    DropPassedJobs();
  }
  work_to_do_.notify_one();
  return ready;
}

void TAddAhead::ItemRemoved(int index) {
  if (index < next_) --next_;
}

// Passed jobs leave the window, but for one the helper is still at: it goes
// when it is finished.
void TAddAhead::DropPassedJobs() {
  while (!jobs_.empty() && jobs_.front()->number < passed_ && jobs_.front()->state != Job::State::kWorking) {
    bytes_ready_ -= jobs_.front()->bytes;
    jobs_.pop_front();
  }
}

// The first job still wanted and not begun, when the finished ones leave
// room for it; null when there is none. Under the lock.
std::shared_ptr<TAddAhead::Job> TAddAhead::StartableJob() {
  for (const auto& j : jobs_)
    if (j->state == Job::State::kQueued && j->number >= passed_)
      return bytes_ready_ < j->reach.bytes_ahead ? j : nullptr;
  return nullptr;
}

// The next job for the helper; null when the helper is to stop.
std::shared_ptr<TAddAhead::Job> TAddAhead::NextJob() {
  std::unique_lock<std::mutex> lock(mutex_);
  std::shared_ptr<Job> job;
  work_to_do_.wait(lock, [&] {
    if (stop_) return true;
    DropPassedJobs();
    job = StartableJob();
    return job != nullptr;
  });
  if (stop_) return nullptr;
  job->state = Job::State::kWorking;
  return job;
}

// Prepares a job taken by this thread (marked working) with the lock
// released.
void TAddAhead::RunJob(Job& job, std::unique_lock<std::mutex>& lock) {
  lock.unlock();
  Prepare(job);
  lock.lock();
  job.state = Job::State::kDone;
  job.bytes = job.ready.data.size() + job.ready.deflated.size();
  bytes_ready_ += job.bytes;
  job_done_.notify_all();
}

void TAddAhead::Work() {
  while (std::shared_ptr<Job> job = NextJob()) {
    std::unique_lock<std::mutex> lock(mutex_);
    RunJob(*job, lock);
  }
}

// The commit needs a slow job finished: it prepares the job itself when the
// helper has not begun it; while the helper is at it, it prepares the next
// jobs, so that both cores work, or waits when the window is full.
void TAddAhead::FinishHere(const std::shared_ptr<Job>& job, std::unique_lock<std::mutex>& lock) {
  passed_ = std::max(passed_, job->number);
  DropPassedJobs();
  while (job->state != Job::State::kDone) {
    std::shared_ptr<Job> other = job->state == Job::State::kQueued ? job : StartableJob();
    if (!other) {
      job_done_.wait(lock, [&] { return job->state == Job::State::kDone; });
      return;
    }
    other->state = Job::State::kWorking;
    RunJob(*other, lock);
  }
}

// Reads the file whole and deflates it as the commit would; anything
// unexpected leaves the job not ok, and the commit does the item itself.
void TAddAhead::Prepare(Job& job) const {
  try {
    job.ok = ReadAndDeflate(job);
  } catch (...) {
    job.ok = false;  // the commit meets whatever went wrong itself
  }
  if (!job.ok) job.ready = Ready();
}

bool TAddAhead::ReadAndDeflate(Job& job) const {
  TFileStream file(job.path, fmOpenRead | fmShareDenyNone);
  job.ready.stamp = afp::GetFileStampFd(file.Handle());
  const int64_t size = file.Size();
  if (size > job.reach.item_limit) return false;
  std::vector<uint8_t>& data = job.ready.data;
  data.resize(static_cast<size_t>(size));
  if (size > 0 && file.Read(data.data(), size) != size) return false;
  job.ready.method = job.method;
  job.ready.mode = job.mode;
  if (job.method == kMethodStored || size == 0) return true;
  std::unique_ptr<Deflater> deflater = MakeCompressor(job.method, job.mode, size, tuning_);
  job.ready.is_deflated = deflater && Compress(*deflater, job);
  return job.ready.is_deflated;
}

// A slow method's data goes in in the commit's chunks, as the commit would
// feed it (the same bytes come out), so that a stop need not wait for the
// whole item; a deflated file of one chunk goes in one piece.
bool TAddAhead::Compress(Deflater& deflater, Job& job) const {
  const std::vector<uint8_t>& data = job.ready.data;
  const size_t chunk = static_cast<size_t>(EncodeChunkSize(job.mode));
  for (size_t at = 0; at < data.size(); at += chunk) {
    if (quitting_) return false;
    const size_t n = std::min(chunk, data.size() - at);
    const auto flush = at + n == data.size() ? Deflater::Flush::Finish : Deflater::Flush::Sync;
    if (!deflater.Deflate(data.data() + at, n, flush, job.ready.deflated)) return false;
  }
  return true;
}

}  // namespace arcfold
