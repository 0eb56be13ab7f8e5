// Folders listed ahead of a walk. Looking at each entry of a folder costs
// the system more than reading its names; while the walk goes through one
// folder, a second thread looks at the entries of the folder it will walk
// next.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/files.h"
#include "platform/wide.h"

namespace arcfold_cli {

class ListingAhead {
 public:
  // second_thread false: every listing is made when it is taken.
  explicit ListingAhead(bool second_thread);
  ~ListingAhead();
  ListingAhead(const ListingAhead&) = delete;
  ListingAhead& operator=(const ListingAhead&) = delete;

  // The folder at path is walked next: its names are read now and its
  // entries looked at on the second thread. A folder prepared earlier and
  // not taken is dropped.
  void Prepare(const afp::WideString& path);
  // What afp::ListDirectoryInfo gives for path: from the folder prepared
  // ahead when it is that one and unchanged, else listed now.
  std::vector<afp::DirEntry> Take(const afp::WideString& path, bool* readable);

 private:
  struct Job {
    explicit Job(const afp::WideString& folder) : path(folder), listing(folder) {}
    afp::WideString path;
    afp::FolderListing listing;
    bool looking = false;  // the second thread is at it
    bool looked = false;
  };
  void Run();
  // Waits until the second thread is not at the prepared job; then it is
  // the caller's. Called with the lock held.
  std::unique_ptr<Job> Claim(std::unique_lock<std::mutex>& lock);

  const bool second_thread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::unique_ptr<Job> prepared_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace arcfold_cli
