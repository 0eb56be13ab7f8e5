// Decoding the items of a run ahead of it, on helper threads. The run keeps
// firing its events and answering its questions in item order on the
// calling thread; the helpers decode the next items, each into a new file
// beside where it will go (or, when testing, into nothing), and record the
// progress reports the decode made. When the run reaches an item, it takes
// the helper's file and replays the progress, or, for anything the helpers
// could not finish cleanly (damage, a password that does not fit, a full
// disk), does the item itself so that its events and questions come as
// they always did.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "arcfold/dir_array.h"
#include "arcfold/stream.h"
#include "codec/decode.h"
#include "platform/wide.h"

namespace arcfold {

class TExtractAhead {
 public:
  struct Setup {
    afp::WideString archive_file;
    bool extract = true;                  // false: test only
    afp::WideString dest;                 // the destination folder, ending in "\"; empty when not known yet
    DecodeSettings settings;              // password, deriver, chunk size, clamp
    std::vector<int64_t> sorted_offsets;  // for the overlap check, when on
    bool check_overlaps = false;
    bool set_attributes = true;
    bool flush_removable = true;
  };
  struct Result {
    afp::WideString temp;           // the decoded file, times and attributes set
    std::vector<int64_t> progress;  // the decoder's progress reports, in order
  };

  // `order`: the run's items, in the order it takes them.
  TExtractAhead(Setup setup, const TAFDirArray& items, std::vector<int> order, unsigned helpers);
  // Stops the helpers and deletes every file the run did not take.
  ~TExtractAhead();
  TExtractAhead(const TExtractAhead&) = delete;
  TExtractAhead& operator=(const TExtractAhead&) = delete;

  // The run is about to decode item `index`: the helpers' result when they
  // decoded it cleanly (waiting for one at work on it) under the password
  // the run now holds, else nothing, and the run decodes the item itself.
  // The caller owns the returned file.
  std::optional<Result> Take(int index);
  // The run is done with item `index`, whatever became of it.
  void Passed(int index);
  // A folder the run has made or checked below its destination `dest`
  // (empty for a folder elsewhere that a handler chose): helpers may put
  // files in either.
  void FolderReady(const afp::WideString& dest, const afp::WideString& folder);
  // The password answered to a question of the run.
  void PasswordChanged(const std::string& password);

 private:
  enum class State { kPending, kWorking, kDone, kFailed, kTaken };
  struct Slot {
    int index;
    TDirItem item;
    afp::WideString folder;  // where the item will go unless a handler moves it
    State state = State::kPending;
    std::atomic<bool> abandoned{false};  // the run went past: the helper stops
    Result result;
    std::string decoded_with;  // the password of the decode
  };

  void Run();
  void TopUp();  // fills the window from the item array (run thread only)
  Slot* Find(int index);
  bool MayStart(size_t position) const;
  afp::WideString PlaceFor(const Slot& slot) const;
  // Whether the run, decoding the item now, would use the password the
  // helper used (an unencrypted item uses none).
  bool DecodedAsTheRunWould(const Slot& slot) const;
  // What one helper remembers between items: whether the folder it wrote
  // into last is on a removable drive.
  struct HelperState {
    afp::WideString removable_checked_for;
    bool removable = false;
  };
  // The first pending item a helper may start (its folder ready, the window
  // not full), or null; under the lock.
  Slot* NextWork(afp::WideString& folder);
  // Decodes slot's item with the lock released, then records the outcome.
  void Work(Slot& slot, const afp::WideString& folder, TStream& archive, HelperState& state,
            std::unique_lock<std::mutex>& lock);
  bool Decode(TStream& archive, Slot& slot, const afp::WideString& folder, std::string password, HelperState& state,
              Result& result);
  void WakeHelpers();  // under the lock

  Setup setup_;
  const TAFDirArray& items_;
  std::vector<int> order_;
  size_t next_fill_ = 0;  // the next position of order_ to copy into slots_
  std::mutex mu_;
  std::condition_variable cv_;
  std::deque<std::unique_ptr<Slot>> slots_;  // the window, from the run's position on
  size_t front_ = 0;                         // the position of order_ that slots_[0] holds
  int64_t bytes_ahead_ = 0;                  // decoded or being decoded, not yet taken
  std::set<afp::WideString> ready_folders_;
  afp::WideString root_;  // the destination, once known to exist
  std::string password_;
  std::atomic<bool> stop_{false};
  int helpers_waiting_ = 0;
  bool run_waiting_ = false;
  std::vector<std::thread> helpers_;
  // The run's own handle and state, for the items it decodes while waiting.
  std::unique_ptr<TFileStream> run_archive_;
  HelperState run_state_;
};

}  // namespace arcfold
