#include "listing_ahead.h"

namespace arcfold_cli {

ListingAhead::ListingAhead(bool second_thread) {
  if (second_thread) thread_ = std::thread([this] { Run(); });
}

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
  if (!thread_.joinable()) return;
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
  if (!job) return afp::ListDirectoryInfo(path, readable);
  if (!job->looked) job->listing.LookAtEntries();
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
