#include "codec/write_behind.h"

#include "arcfold/stream.h"
#include "codec/crc32.h"

namespace arcfold {

WriteBehind::WriteBehind(TStream& dest, size_t buffer_size, size_t buffers) : dest_(dest), buffer_size_(buffer_size) {
  for (size_t i = 0; i < buffers; ++i) {
    storage_.push_back(std::unique_ptr<uint8_t[]>(new uint8_t[buffer_size]));
    free_.push_back(storage_.back().get());
  }
  writer_ = std::thread(&WriteBehind::Run, this);
}

WriteBehind::~WriteBehind() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    stop_ = true;
  }
  cv_.notify_all();
  writer_.join();
}

uint8_t* WriteBehind::Buffer() {
  std::unique_lock<std::mutex> lock(mu_);
  cv_.wait(lock, [&] { return failed_ || !free_.empty(); });
  if (failed_) return nullptr;
  uint8_t* b = free_.back();
  free_.pop_back();
  return b;
}

void WriteBehind::Submit(uint8_t* data, size_t size) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    queue_.push_back({data, size});
  }
  cv_.notify_all();
}

bool WriteBehind::Drain() {
  std::unique_lock<std::mutex> lock(mu_);
  cv_.wait(lock, [&] { return failed_ || (queue_.empty() && !busy_); });
  return !failed_;
}

std::vector<WriteBehind::Block> WriteBehind::Unwritten() {
  std::unique_lock<std::mutex> lock(mu_);
  cv_.wait(lock, [&] { return failed_ || (queue_.empty() && !busy_); });
  stop_ = true;
  return std::vector<Block>(queue_.begin(), queue_.end());
}

void WriteBehind::Run() {
  std::unique_lock<std::mutex> lock(mu_);
  for (;;) {
    cv_.wait(lock, [&] { return stop_ || (!queue_.empty() && !failed_); });
    if (stop_) return;
    Block block = queue_.front();
    busy_ = true;
    const int64_t position = dest_.Position();
    lock.unlock();
    const bool written = dest_.Write(block.data, static_cast<int64_t>(block.size)) == static_cast<int64_t>(block.size);
    if (written) crc_ = Crc32Update(crc_, block.data, block.size);
    lock.lock();
    busy_ = false;
    if (written) {
      queue_.pop_front();
      free_.push_back(block.data);
    } else {
      failed_ = true;  // the block stays first in the queue
      failed_position_ = position;
    }
    cv_.notify_all();
  }
}

}  // namespace arcfold
