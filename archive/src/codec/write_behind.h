// Writing one item's output, and its CRC-32, on a second thread while the
// calling thread reads and inflates the next blocks: a large item keeps two
// cores busy. Blocks are written in the order given. A write that falls
// short stops the second thread there; the caller takes the blocks not yet
// written back and writes them itself, so that the disk-full question is
// asked on its own thread, in its place.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace arcfold {

class TStream;

class WriteBehind {
 public:
  struct Block {
    uint8_t* data;
    size_t size;
  };

  // `buffers` blocks of `buffer_size` bytes each are in flight at most.
  WriteBehind(TStream& dest, size_t buffer_size, size_t buffers);
  // Stops the second thread (after the block it is writing).
  ~WriteBehind();
  WriteBehind(const WriteBehind&) = delete;
  WriteBehind& operator=(const WriteBehind&) = delete;

  // A buffer to fill, waiting for one to come back from the writer; null
  // once a write has fallen short.
  uint8_t* Buffer();
  size_t BufferSize() const { return buffer_size_; }
  // Queues the first `size` bytes of a buffer from Buffer().
  void Submit(uint8_t* data, size_t size);
  // Waits until every queued block is written or a write fell short; true
  // when all were written. The CRC-32 covers the blocks written.
  bool Drain();
  uint32_t Crc() const { return crc_; }
  // After a short write: the blocks not written, in order, the short one
  // first (its bytes may be partly on disk, at the position it was given);
  // the writer is stopped for good.
  std::vector<Block> Unwritten();
  int64_t UnwrittenPosition() const { return failed_position_; }

 private:
  void Run();

  TStream& dest_;
  size_t buffer_size_;
  std::vector<std::unique_ptr<uint8_t[]>> storage_;
  std::mutex mu_;
  std::condition_variable cv_;
  std::vector<uint8_t*> free_;
  std::deque<Block> queue_;
  bool busy_ = false;  // the writer holds a block
  bool failed_ = false;
  bool stop_ = false;
  int64_t failed_position_ = -1;
  uint32_t crc_ = 0;
  std::thread writer_;
};

}  // namespace arcfold
