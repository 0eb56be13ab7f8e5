// Driving a codec whose state has next_in/avail_in/next_out/avail_out (zlib,
// ISA-L) over caller buffers (internal to the library).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace arcfold {

// Points the state at the buffers (at most 1 GiB each per call: the counts
// are 32-bit), runs step(), and advances the buffers by what it consumed and
// produced; made receives the bytes produced. Gives nothing back, and leaves
// the buffers as they were, when the codec's counts end up outside what it
// was given: ISA-L does that on some corrupt streams (it reports an error
// with its input count wrapped below zero), and following it would move the
// input pointer gigabytes away.
template <typename State, typename Step>
auto RunOnBuffers(State& s, const uint8_t*& in, size_t& in_len, uint8_t*& out, size_t& out_len, size_t& made, Step step)
    -> std::optional<decltype(step())> {
  constexpr size_t kMax = 0x40000000u;
  s.next_in = const_cast<uint8_t*>(in);
  s.avail_in = static_cast<decltype(s.avail_in)>(in_len > kMax ? kMax : in_len);
  const size_t in_given = s.avail_in;
  s.next_out = out;
  s.avail_out = static_cast<decltype(s.avail_out)>(out_len > kMax ? kMax : out_len);
  const size_t out_given = s.avail_out;
  auto result = step();
  made = 0;
  if (s.avail_in > in_given || s.avail_out > out_given) return std::nullopt;
  const size_t used = in_given - s.avail_in;
  made = out_given - s.avail_out;
  in += used;
  in_len -= used;
  out += made;
  out_len -= made;
  return result;
}

}  // namespace arcfold
