#include <isa-l/igzip_lib.h>

#include <memory>
#include <vector>

#include "codec/deflater.h"

namespace arcfold {

namespace {

class IsalDeflater : public Deflater {
 public:
  explicit IsalDeflater(int level) {
    isal_deflate_init(&z_);
    z_.level = static_cast<uint32_t>(level);
    static const size_t kLevelBuffer[] = {ISAL_DEF_LVL0_DEFAULT, ISAL_DEF_LVL1_DEFAULT, ISAL_DEF_LVL2_DEFAULT,
                                          ISAL_DEF_LVL3_DEFAULT};
    // igzip initialises what it uses of this buffer: no need to clear it.
    const size_t size = kLevelBuffer[level];
    if (size) level_buf_.reset(new uint8_t[size]);
    z_.level_buf = level_buf_.get();
    z_.level_buf_size = static_cast<uint32_t>(size);
    z_.gzip_flag = IGZIP_DEFLATE;  // raw deflate
  }
  // The level, its buffer and the raw-deflate wrapper stay; the history and
  // the hash tables are cleared when the next stream begins.
  bool Reset() override {
    isal_deflate_reset(&z_);
    return true;
  }
  bool SetDictionary(const uint8_t* dict, size_t len) override {
    return len == 0 || isal_deflate_set_dict(&z_, const_cast<uint8_t*>(dict), static_cast<uint32_t>(len)) == COMP_OK;
  }
  bool Deflate(const uint8_t* in, size_t in_len, Flush flush, std::vector<uint8_t>& out) override {
    z_.next_in = const_cast<uint8_t*>(in);
    z_.avail_in = static_cast<uint32_t>(in_len);
    z_.flush = SYNC_FLUSH;
    z_.end_of_stream = flush == Flush::Finish ? 1 : 0;
    for (;;) {
      size_t had = out.size();
      size_t room = in_len + in_len / 8 + 1024;
      out.resize(had + room);
      z_.next_out = out.data() + had;
      z_.avail_out = static_cast<uint32_t>(room);
      if (isal_deflate(&z_) != COMP_OK) return false;
      out.resize(had + (room - z_.avail_out));
      const bool done =
          flush == Flush::Finish ? z_.internal_state.state == ZSTATE_END : z_.avail_in == 0 && z_.avail_out != 0;
      if (done) return true;
    }
  }

 private:
  isal_zstream z_{};
  std::unique_ptr<uint8_t[]> level_buf_;
};

}  // namespace

std::unique_ptr<Deflater> MakeIsalDeflater(int level) { return std::make_unique<IsalDeflater>(level); }

// igzip's level 1 in one shot, into a buffer smaller than the data by the
// least saving that counts: it overflows unless the data shrinks by that.
bool IsalShrinks(const uint8_t* data, size_t len, std::vector<uint8_t>& scratch) {
  constexpr size_t kLeastSaving = 256;  // a 256th of the data
  const size_t room = len - len / kLeastSaving;
  if (scratch.size() < room) scratch.resize(room);
  isal_zstream z;
  isal_deflate_stateless_init(&z);
  z.level = 1;
  z.gzip_flag = IGZIP_DEFLATE;
  z.flush = NO_FLUSH;
  z.end_of_stream = 1;
  z.next_in = const_cast<uint8_t*>(data);
  z.avail_in = static_cast<uint32_t>(len);
  z.next_out = scratch.data();
  z.avail_out = static_cast<uint32_t>(room);
  return isal_deflate_stateless(&z) == COMP_OK;
}

}  // namespace arcfold
