#include "items/add_ahead.h"

#include <algorithm>

#include "arcfold/dir_array.h"
#include "codec/deflater.h"
#include "codec/encode.h"
#include "codec/methods.h"
#include "platform/file_io.h"

namespace arcfold {

namespace {

// How far the helper may run ahead of the writing: this many items, and
// while what it has finished holds less than an item's method allows.
constexpr size_t kItemsAhead = 64;

// What the helper takes on for an item of a method. Deflate is quick: the
// helper takes files of one encoding chunk and keeps little ahead. bzip2,
// LZMA and xz take a core for seconds per item: the helper takes files of
// up to 8 MiB (larger xz sources are compressed on two cores by the codec
// itself) and keeps up to 32 MiB of finished files ahead. Memory is bounded
// by bytes_ahead plus two items in the making (one per thread), each its
// file and its compressed data, besides the encoders' own.
struct MethodReach {
  int64_t item_limit;
  size_t bytes_ahead;
};

constexpr int64_t kSlowItemLimit = 8 << 20;
constexpr size_t kSlowBytesAhead = 32u << 20;
constexpr size_t kQuickBytesAhead = 4u << 20;

MethodReach ReachOf(uint16_t method, int mode) {
  if (method == kMethodBZip2 || method == kMethodLZMA || method == kMethodXz) return {kSlowItemLimit, kSlowBytesAhead};
  return {EncodeChunkSize(mode), kQuickBytesAhead};
}

// Items whose data comes from a file by its name: the others (folders,
// streams, names too long for the system without the long-path prefix) go
// the commit's own way.
bool ReadsAFile(const TDirItem& item) {
  const TItemSource* source = item.Source.get();
  return source && source->IsPending && !source->SourceStream && !source->SourcePath.empty() &&
         source->SourcePath.size() <= afp::kMaxPathChars && !item.IsDirectory();
}

// Reads data.size() bytes from the start of the file straight into data: a
// file read whole in one go needs no read cache.
bool ReadWhole(afp::FileHandle file, std::vector<uint8_t>& data) {
  const int64_t size = static_cast<int64_t>(data.size());
  for (int64_t done = 0; done < size;) {
    const int64_t got = afp::ReadFileAt(file, data.data() + done, size - done, done);
    if (got <= 0) return false;
    done += got;
  }
  return true;
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
  bool wake = false;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    const auto mine = std::find_if(jobs_.begin(), jobs_.end(),
                                   [&](const std::shared_ptr<Job>& j) { return j->key == item.Source.get(); });
    if (mine == jobs_.end()) return nullptr;
    const std::shared_ptr<Job> job = *mine;  // stays while the lock is let go
    // The ones before it are passed; it stays in the window until taken.
    passed_ = job->number;
    // Not begun: done here. Begun by the helper: a later item is done here
    // meanwhile, or, with none left, the helper's is waited for.
    while (job->state != Job::State::kDone) {
      if (job->state == Job::State::kQueued) {
        DoJob(*job, own_deflater_, lock);
      } else if (const std::shared_ptr<Job> later = JobAfter(job->number)) {
        DoJob(*later, own_deflater_, lock);
      } else {
        commit_waits_ = true;
        job_done_.wait(lock, [&] { return job->state == Job::State::kDone; });
        commit_waits_ = false;
      }
    }
    if (job->ok) {
      ready = std::make_unique<Ready>(std::move(job->ready));
      bytes_ready_ -= job->bytes;
      job->bytes = 0;
    }
    passed_ = job->number + 1;
    DropPassedJobs();
    // A helper with nothing it may begin is left asleep: waking it for
    // each item taken would cost both threads a system call per file.
    wake = helper_waits_ && WaitingJob();
  }
  if (wake) work_to_do_.notify_one();
  return ready;
}

// The first job after number that nobody has begun, while the finished ones
// leave room for it.
std::shared_ptr<TAddAhead::Job> TAddAhead::JobAfter(uint64_t number) const {
  for (const auto& j : jobs_)
    if (j->number > number && j->state == Job::State::kQueued) return bytes_ready_ < j->reach.bytes_ahead ? j : nullptr;
  return nullptr;
}

// Does a queued job with the lock let go, on the calling thread.
void TAddAhead::DoJob(Job& job, DeflaterSlot& slot, std::unique_lock<std::mutex>& lock) {
  job.state = Job::State::kWorking;
  lock.unlock();
  Prepare(job, slot);
  lock.lock();
  MarkDone(job);
}

// A prepared job joins the finished ones. Under the lock.
void TAddAhead::MarkDone(Job& job) {
  job.state = Job::State::kDone;
  job.bytes = job.ready.data.size() + job.ready.deflated.size();
  bytes_ready_ += job.bytes;
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

// The helper's next job, waited for; null when the helper is to stop.
std::shared_ptr<TAddAhead::Job> TAddAhead::NextJob() {
  std::unique_lock<std::mutex> lock(mutex_);
  std::shared_ptr<Job> job;
  helper_waits_ = true;
  work_to_do_.wait(lock, [&] {
    if (stop_) return true;
    DropPassedJobs();
    job = WaitingJob();
    return job != nullptr;
  });
  helper_waits_ = false;
  if (stop_) return nullptr;
  job->state = Job::State::kWorking;
  return job;
}

// The first job still wanted and not begun, when the finished ones leave
// room for it. Under the lock.
std::shared_ptr<TAddAhead::Job> TAddAhead::WaitingJob() const {
  for (const auto& j : jobs_)
    if (j->state == Job::State::kQueued && j->number >= passed_)
      return bytes_ready_ < j->reach.bytes_ahead ? j : nullptr;
  return nullptr;
}

void TAddAhead::Work() {
  DeflaterSlot slot;
  while (std::shared_ptr<Job> job = NextJob()) {
    Prepare(*job, slot);
    bool waited_for = false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      MarkDone(*job);
      waited_for = commit_waits_;
    }
    if (waited_for) job_done_.notify_one();
  }
}

// Reads the file whole and deflates it as the commit would; anything
// unexpected leaves the job not ok, and the commit does the item itself.
void TAddAhead::Prepare(Job& job, DeflaterSlot& slot) const {
  try {
    job.ok = ReadAndDeflate(job, slot);
  } catch (...) {
    job.ok = false;  // the commit meets whatever went wrong itself
  }
  if (!job.ok) job.ready = Ready();
}

// The slot's deflater made ready for a new stream at mode: the one it has
// when it can start again, else a new one.
Deflater* TAddAhead::DeflaterFor(int mode, DeflaterSlot& slot) const {
  if (slot.deflater && slot.mode == mode && slot.deflater->Reset()) return slot.deflater.get();
  slot.deflater = MakeDeflater(mode, tuning_);
  slot.mode = mode;
  return slot.deflater.get();
}

bool TAddAhead::ReadAndDeflate(Job& job, DeflaterSlot& slot) const {
  // Opened and looked at once: the look that tells it from a folder gives
  // its size and time too.
  const struct OpenFile {
    afp::FileHandle handle;
    ~OpenFile() { afp::CloseFile(handle); }
  } file{afp::OpenFileStamped(job.path, job.ready.stamp)};
  if (file.handle == afp::kNoFile) return false;
  const int64_t size = job.ready.stamp.size;  // -1: the file could not be looked at
  if (size < 0 || size > job.reach.item_limit) return false;
  std::vector<uint8_t>& data = job.ready.data;
  data.resize(static_cast<size_t>(size));
  if (!ReadWhole(file.handle, data)) return false;
  job.ready.method = job.method;
  job.ready.mode = job.mode;
  if (job.method == kMethodStored || size == 0) return true;
  if (job.method != kMethodDeflate) {
    // A slow method's encoder is fitted to the source's size: one per item.
    std::unique_ptr<Deflater> compressor = MakeCompressor(job.method, job.mode, size, tuning_);
    job.ready.is_deflated = compressor && Compress(*compressor, job);
    return job.ready.is_deflated;
  }
  Deflater* deflater = DeflaterFor(job.mode, slot);
  job.ready.is_deflated =
      deflater && deflater->Deflate(data.data(), data.size(), Deflater::Flush::Finish, job.ready.deflated);
  // A deflater that failed part way is not started again.
  if (!job.ready.is_deflated) slot.deflater.reset();
  return job.ready.is_deflated;
}

// A slow method's data goes in in the commit's chunks, as the commit would
// feed it (the same bytes come out), so that a stop need not wait for the
// whole item.
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
