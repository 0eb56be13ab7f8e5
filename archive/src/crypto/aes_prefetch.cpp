#include "crypto/aes_prefetch.h"

#include <algorithm>

#include "arcfold/records.h"
#include "arcfold/stream.h"
#include "crypto/crypto_primitives.h"

namespace arcfold {

namespace {
// How far the worker may run ahead of the items being decoded.
constexpr size_t kLookahead = 64;
}  // namespace

TAesKeyPrefetcher::TAesKeyPrefetcher(const afp::WideString& archive_file, const std::string& password,
                                     std::vector<Job> jobs, TAFTuningSwitch sha_instructions)
    : password_(password), jobs_(std::move(jobs)), sha_instructions_(sha_instructions) {
  unsigned n = std::max(1u, std::min(std::thread::hardware_concurrency(), 4u));
  for (unsigned i = 0; i < n; ++i) workers_.emplace_back(&TAesKeyPrefetcher::Run, this, archive_file);
}

TAesKeyPrefetcher::~TAesKeyPrefetcher() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    stop_ = true;
  }
  cv_.notify_all();
  for (auto& w : workers_) w.join();
  for (auto& [key, material] : ready_) crypto::Wipe(material.data(), material.size());
  crypto::Wipe(password_.data(), password_.size());
}

void TAesKeyPrefetcher::Run(afp::WideString archive_file) {
  try {
    TFileStream in(archive_file, fmOpenRead | fmShareDenyNone);
    for (;;) {
      size_t j;
      {
        std::unique_lock<std::mutex> lock(mu_);
        cv_.wait(lock, [&] { return stop_ || next_job_ < taken_ + kLookahead; });
        if (stop_) return;
        next_job_ = std::max(next_job_, taken_);  // the run is past these items already
        if (next_job_ >= jobs_.size()) break;
        j = next_job_++;
      }
      const Job& job = jobs_[j];
      TLocalHeader local;
      in.SetPosition(job.local_header_offset);
      if (in.Read(local.data(), 30) != 30) continue;
      in.Seek(local.NameLength() + local.ExtraLength(), SeekOrigin::Current);
      std::vector<uint8_t> salt(job.key_len / 2u);
      if (in.Read(salt.data(), static_cast<int64_t>(salt.size())) != static_cast<int64_t>(salt.size())) continue;
      Key key{password_, salt};
      {
        std::lock_guard<std::mutex> lock(mu_);
        if (ready_.count(key) || in_progress_.count(key)) continue;
        in_progress_.insert(key);
      }
      std::vector<uint8_t> material;
      try {
        material = TAESCryptoTransform::DefaultDerive(password_, salt, 2u * job.key_len + 2, sha_instructions_);
      } catch (...) {
        std::lock_guard<std::mutex> lock(mu_);
        in_progress_.erase(key);  // whoever waits for it derives it instead
        cv_.notify_all();
        throw;
      }
      {
        std::lock_guard<std::mutex> lock(mu_);
        in_progress_.erase(key);
        ready_[key] = std::move(material);
      }
      cv_.notify_all();
    }
  } catch (...) {
    // Prefetching is an optimisation: any trouble leaves the work to the run.
  }
  cv_.notify_all();
}

std::vector<uint8_t> TAesKeyPrefetcher::Derive(const std::string& password, const std::vector<uint8_t>& salt,
                                               size_t length) {
  Key key{password, salt};
  {
    std::unique_lock<std::mutex> lock(mu_);
    ++taken_;
    cv_.wait(lock, [&] { return !in_progress_.count(key); });
    auto it = ready_.find(key);
    if (it != ready_.end() && it->second.size() == length) {
      std::vector<uint8_t> m = std::move(it->second);
      ready_.erase(it);
      cv_.notify_all();
      return m;
    }
    in_progress_.insert(key);
  }
  cv_.notify_all();
  auto m = TAESCryptoTransform::DefaultDerive(password, salt, length, sha_instructions_);
  {
    std::lock_guard<std::mutex> lock(mu_);
    in_progress_.erase(key);
  }
  cv_.notify_all();
  return m;
}

TAesKeyDeriver TAesKeyPrefetcher::Deriver() {
  return [this](const std::string& pw, const std::vector<uint8_t>& salt, size_t len) { return Derive(pw, salt, len); };
}

}  // namespace arcfold
