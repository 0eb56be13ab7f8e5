// Derives the AES keys of the coming items on worker threads (one per core)
// while the current item decodes. PBKDF2 costs far more than decoding a small
// item, so an archive of many small AES items is bound by it; the decoding
// thread itself mostly waits for keys, which costs no core.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "crypto/aes_transform.h"
#include "platform/wide.h"

namespace arcfold {

class TAesKeyPrefetcher {
 public:
  struct Job {
    int64_t local_header_offset;
    uint16_t key_len;  // 16, 24 or 32
  };
  // Reads salts from its own handle on archive_file; derives for password
  // (on the SHA instructions as sha_instructions allows).
  TAesKeyPrefetcher(const afp::WideString& archive_file, const std::string& password, std::vector<Job> jobs,
                    TAFTuningSwitch sha_instructions);
  ~TAesKeyPrefetcher();
  TAesKeyPrefetcher(const TAesKeyPrefetcher&) = delete;
  TAesKeyPrefetcher& operator=(const TAesKeyPrefetcher&) = delete;

  // The deriver the transforms use during the run: material derived ahead
  // when there is some for this password and salt, else derived here.
  TAesKeyDeriver Deriver();

 private:
  using Key = std::pair<std::string, std::vector<uint8_t>>;
  void Run(afp::WideString archive_file);
  std::vector<uint8_t> Derive(const std::string& password, const std::vector<uint8_t>& salt, size_t length);

  std::string password_;
  std::vector<Job> jobs_;
  TAFTuningSwitch sha_instructions_;
  std::mutex mu_;
  std::condition_variable cv_;
  std::map<Key, std::vector<uint8_t>> ready_;
  std::set<Key> in_progress_;
  size_t taken_ = 0;     // how many derivations the run has used
  size_t next_job_ = 0;  // the next job a worker claims
  bool stop_ = false;
  std::vector<std::thread> workers_;
};

}  // namespace arcfold
