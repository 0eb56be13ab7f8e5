// arcfold::EntryReader: one entry's data pulled in the caller's pieces.
// The component decodes the entry on a helper thread into a bounded
// buffer, the same decode that extraction runs; the helper waits while
// the buffer is full, so memory stays bounded whatever the entry's size.
#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <mutex>
#include <thread>

#include "arcfold/archive.h"
#include "modern/archive_impl.h"

namespace arcfold {

namespace {

// What the buffer holds at most: a couple of the decoder's chunks.
constexpr size_t kPipeCapacity = size_t{1} << 18;

// Thrown into the decoder by a write once the reader is gone; it ends the
// decode without reaching the reader.
struct ReaderStopped {};

}  // namespace

struct EntryReader::Pipe {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::byte> bytes;
  size_t head = 0;  // bytes before head were read already
  bool done = false;
  bool stop = false;
  // Stopped by another use of the archive before its end.
  bool interrupted = false;
  std::exception_ptr error;
  std::thread decoder;

  size_t Buffered() const { return bytes.size() - head; }
  // Ends the decode (at once when it is waiting for room) and its thread.
  void Stop(bool by_archive) noexcept {
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (by_archive && !done) interrupted = true;
      stop = true;
    }
    changed.notify_all();
    if (decoder.joinable()) decoder.join();
  }
};

namespace {

// The decoder's destination: each write waits for room in the pipe.
class PipeStream : public TStream {
 public:
  explicit PipeStream(EntryReader::Pipe& pipe) : pipe_(pipe) {}
  int64_t Read(void*, int64_t) override { return 0; }
  int64_t Write(const void* buffer, int64_t count) override {
    const auto* from = static_cast<const std::byte*>(buffer);
    size_t left = static_cast<size_t>(count);
    std::unique_lock<std::mutex> lock(pipe_.mutex);
    while (left > 0) {
      pipe_.changed.wait(lock, [&] { return pipe_.stop || pipe_.Buffered() < kPipeCapacity; });
      if (pipe_.stop) throw ReaderStopped{};
      if (pipe_.head > 0) {
        pipe_.bytes.erase(pipe_.bytes.begin(), pipe_.bytes.begin() + static_cast<ptrdiff_t>(pipe_.head));
        pipe_.head = 0;
      }
      const size_t take = std::min(left, kPipeCapacity - pipe_.Buffered());
      pipe_.bytes.insert(pipe_.bytes.end(), from, from + take);
      from += take;
      left -= take;
      pipe_.changed.notify_all();
    }
    written_ += count;
    return count;
  }
  int64_t Seek(int64_t, SeekOrigin) override { return written_; }
  void SetSize(int64_t) override {}

 private:
  EntryReader::Pipe& pipe_;
  int64_t written_ = 0;
};

void DecodeIntoPipe(Archive::Impl& impl, int index, EntryReader::Pipe& pipe) {
  std::exception_ptr error;
  try {
    PipeStream out(pipe);
    impl.zip.DecodeItem(index, out);
  } catch (const ReaderStopped&) {
  } catch (...) {
    error = std::current_exception();
  }
  {
    std::lock_guard<std::mutex> lock(pipe.mutex);
    pipe.error = error;
    pipe.done = true;
  }
  pipe.changed.notify_all();
}

}  // namespace

void Archive::Impl::Settle() {
  if (std::shared_ptr<EntryReader::Pipe> pipe = reader_.lock()) pipe->Stop(true);
  reader_.reset();
}

EntryReader Archive::reader(const Entry& entry) {
  impl_->Settle();
  impl_->CheckNoChange();
  const int index = impl_->IndexOf(entry);
  Entry current = impl_->EntryAt(index);
  auto pipe = std::make_shared<EntryReader::Pipe>();
  pipe->decoder = std::thread(DecodeIntoPipe, std::ref(*impl_), index, std::ref(*pipe));
  impl_->StartReader(pipe);
  return EntryReader(std::move(current), std::move(pipe));
}

EntryReader::EntryReader(Entry entry, std::shared_ptr<Pipe> pipe) : entry_(std::move(entry)), pipe_(std::move(pipe)) {}

EntryReader::~EntryReader() {
  if (pipe_) pipe_->Stop(false);
}

EntryReader::EntryReader(EntryReader&& other) noexcept = default;

EntryReader& EntryReader::operator=(EntryReader&& other) noexcept {
  if (this != &other) {
    if (pipe_) pipe_->Stop(false);
    entry_ = std::move(other.entry_);
    pipe_ = std::move(other.pipe_);
  }
  return *this;
}

std::size_t EntryReader::read(void* buffer, std::size_t n) {
  if (!pipe_ || n == 0) return 0;
  Pipe& pipe = *pipe_;
  std::unique_lock<std::mutex> lock(pipe.mutex);
  pipe.changed.wait(lock, [&] { return pipe.Buffered() > 0 || pipe.done || pipe.stop; });
  if (pipe.interrupted) throw Cancelled("Arcfold: reading " + entry_.name + " (its archive went on to something else)");
  const size_t take = std::min(n, pipe.Buffered());
  if (take > 0) {
    std::memcpy(buffer, pipe.bytes.data() + pipe.head, take);
    pipe.head += take;
    pipe.changed.notify_all();
    return take;
  }
  if (pipe.error) std::rethrow_exception(pipe.error);
  return 0;
}

}  // namespace arcfold
