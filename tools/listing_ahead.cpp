#include "listing_ahead.h"

namespace arcfold_cli {

ListingAhead::ListingAhead(bool second_thread) : second_thread_(second_thread) {}

ListingAhead::~ListingAhead() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void ListingAhead::Prepare(const afp::WideString& path) {
  if (!second_thread_) return;
  // Started for the first folder prepared: a walk of a named file needs none.
  if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
  std::unique_lock<std::mutex> lock(mutex_);
  if (prepared_ && prepared_->path == path) return;
  Claim(lock).reset();
  lock.unlock();
  // The names are read here: the second thread must allocate nothing, or
  // the system gives it a heap of its own, which costs more memory than
  // the listing.
  auto job = std::make_unique<Job>(path);
  lock.lock();
  prepared_ = std::move(job);
  changed_.notify_all();
}

std::vector<afp::DirEntry> ListingAhead::Take(const afp::WideString& path, bool* readable) {
  std::unique_ptr<Job> job;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    if (prepared_ && prepared_->path == path) job = Claim(lock);
  }
  if (job && !job->looked) job->listing.LookAtEntries();
  // The folder may have changed since its names were read ahead (or could
  // not be read then): a walk takes a folder as it is when it gets there.
  if (!job || !job->listing.Unchanged()) return afp::ListDirectoryInfo(path, readable);
  *readable = job->listing.Readable();
  return job->listing.TakeEntries();
}

std::unique_ptr<ListingAhead::Job> ListingAhead::Claim(std::unique_lock<std::mutex>& lock) {
  changed_.wait(lock, [this] { return !prepared_ || !prepared_->looking; });
  return std::move(prepared_);
}

void ListingAhead::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stopping_ || (prepared_ && !prepared_->looked); });
    if (stopping_) return;
    Job& job = *prepared_;
    job.looking = true;
    lock.unlock();
    job.listing.LookAtEntries();
    lock.lock();
    job.looking = false;
    job.looked = true;
    changed_.notify_all();
  }
}

}  // namespace arcfold_cli
