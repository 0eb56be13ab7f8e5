// Reading and compressing the next small files of a commit on a second core
// while the calling thread writes the items before them. The commit keeps
// firing its events and asking its questions in item order on the calling
// thread; the helper only opens, reads and compresses files up to a size
// set by their method (see ReachOf), and asks nothing. When the commit
// reaches an item it takes what the helper made of it; an item the helper
// has not begun it reads and compresses the same way itself, and while the
// helper is still at its item it does one of the next ones, so that both
// cores compress. For anything that could not be finished so (a file that
// would not open, changed size or is larger) the commit reads the item its
// own way, so that its errors and questions come as they always did.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "arcfold/types.h"
#include "platform/files.h"
#include "platform/wide.h"

namespace arcfold {

class Deflater;
class TAFDirArray;
struct TDirItem;
struct TItemSource;

class TAddAhead {
 public:
  // What the helper made of an item's file.
  struct Ready {
    std::vector<uint8_t> data;      // the whole file
    std::vector<uint8_t> deflated;  // data compressed in one piece by the method and mode below
    bool is_deflated = false;
    uint16_t method = 0;
    int mode = 0;
    afp::FileStamp stamp;  // the file's size and time when it was read
  };

  explicit TAddAhead(const TAFTuning& tuning);
  // Stops the helper; what it made and the commit did not take is dropped.
  ~TAddAhead();
  TAddAhead(const TAddAhead&) = delete;
  TAddAhead& operator=(const TAddAhead&) = delete;

  // The commit is at item `from`: the files of it and the items after it are
  // handed to the helper, a bounded number ahead.
  void QueueFrom(const TAFDirArray& items, int from);
  // What was made of the item's file, by the helper or, when the helper had
  // not begun it, here; null when it was not handed over or could not be
  // read so (the commit then reads the item its own way). Items before it
  // that were handed over are passed: the helper leaves them.
  std::unique_ptr<Ready> Take(const TDirItem& item);
  // The item at index left the array: the ones after it moved down.
  void ItemRemoved(int index);

 private:
  struct Job;
  // A thread's deflater, kept from item to item while the mode stays.
  struct DeflaterSlot {
    int mode = -1;
    std::unique_ptr<Deflater> deflater;
  };
  void Work();
  std::shared_ptr<Job> NextJob();
  std::shared_ptr<Job> WaitingJob() const;
  std::shared_ptr<Job> JobAfter(uint64_t number) const;
  void DoJob(Job& job, DeflaterSlot& slot, std::unique_lock<std::mutex>& lock);
  void MarkDone(Job& job);
  void DropPassedJobs();
  void Prepare(Job& job, DeflaterSlot& slot) const;
  bool ReadAndDeflate(Job& job, DeflaterSlot& slot) const;
  bool Compress(Deflater& deflater, Job& job) const;
  Deflater* DeflaterFor(int mode, DeflaterSlot& slot) const;

  const TAFTuning tuning_;
  std::mutex mutex_;
  std::condition_variable work_to_do_;
  std::condition_variable job_done_;       // the commit waits for the helper's item
  std::deque<std::shared_ptr<Job>> jobs_;  // in item order
  uint64_t queued_ = 0;                    // jobs ever queued: the next one's number
  uint64_t passed_ = 0;                    // jobs numbered below this are not wanted any more
  size_t bytes_ready_ = 0;                 // held by finished jobs
  bool stop_ = false;
  std::atomic<bool> quitting_{false};  // stop_, read by a job at work without the lock
  // Who sleeps on a condition: only then is it woken.
  bool helper_waits_ = false;
  bool commit_waits_ = false;
  int next_ = 0;               // the first item not yet considered
  DeflaterSlot own_deflater_;  // the commit's, for the items it does here
  std::thread helper_;
};

}  // namespace arcfold
