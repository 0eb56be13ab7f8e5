#include "crypto/sha1_lanes.h"

#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>
#define ARCFOLD_SHA_NI 1
#endif

namespace arcfold::crypto {

#ifdef ARCFOLD_SHA_NI

namespace {

bool CpuHasShaInstructions() {
  unsigned a, b, c, d;
  if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return false;
  const bool sha = (b >> 29) & 1;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
  const bool ssse3 = (c >> 9) & 1, sse41 = (c >> 19) & 1;
  return sha && ssse3 && sse41;
}

bool UseShaInstructions(TAFTuningSwitch use) {
  static const bool cpu_has_them = CpuHasShaInstructions();
  return cpu_has_them && TAFTuning{.ShaInstructions = use}.WithEnvironment().ShaInstructions != tsOff;
}

#define SHA_TARGET __attribute__((target("sha,sse4.1,ssse3")))

// One SHA-1 state in the instructions' layout: abcd holds a in its top
// lane, e sits in the top lane of its register with zeros below.
struct Regs {
  __m128i abcd, e;
};

// Compresses, for every lane, the one block that follows a 64-byte pad and
// holds a 20-byte message: the message words are the words of `msg` (the
// previous hash), then the padding 0x80 and the length (84 bytes = 672 bits).
template <int N>
SHA_TARGET inline void CompressMessage20(const Regs (&from)[N], const Regs (&msg)[N], Regs (&out)[N]) {
  __m128i m[N][4], abcd[N], e0[N], e1[N];
  const __m128i pad = _mm_set_epi32(0, static_cast<int>(0x80000000u), 0, 0);
  for (int l = 0; l < N; ++l) {
    m[l][0] = msg[l].abcd;
    m[l][1] = _mm_or_si128(msg[l].e, pad);
    m[l][2] = _mm_setzero_si128();
    m[l][3] = _mm_set_epi32(0, 0, 0, 672);
    abcd[l] = from[l].abcd;
    e0[l] = from[l].e;
  }
  // Twenty groups of four rounds; the schedule runs three groups ahead.
#define SHA_GROUP(g, fn)                                                                                     \
  for (int l = 0; l < N; ++l) {                                                                              \
    __m128i& ein = ((g) % 2 == 0) ? e0[l] : e1[l];                                                           \
    __m128i& eout = ((g) % 2 == 0) ? e1[l] : e0[l];                                                          \
    ein = (g) == 0 ? _mm_add_epi32(ein, m[l][0]) : _mm_sha1nexte_epu32(ein, m[l][(g) % 4]);                  \
    eout = abcd[l];                                                                                          \
    abcd[l] = _mm_sha1rnds4_epu32(abcd[l], ein, fn);                                                         \
    if ((g) >= 1 && (g) <= 16) m[l][((g) + 3) % 4] = _mm_sha1msg1_epu32(m[l][((g) + 3) % 4], m[l][(g) % 4]); \
    if ((g) >= 2 && (g) <= 17) m[l][((g) + 2) % 4] = _mm_xor_si128(m[l][((g) + 2) % 4], m[l][(g) % 4]);      \
    if ((g) >= 3 && (g) <= 18) m[l][((g) + 1) % 4] = _mm_sha1msg2_epu32(m[l][((g) + 1) % 4], m[l][(g) % 4]); \
  }
  // clang-format off
  SHA_GROUP(0, 0) SHA_GROUP(1, 0) SHA_GROUP(2, 0) SHA_GROUP(3, 0) SHA_GROUP(4, 0)
  SHA_GROUP(5, 1) SHA_GROUP(6, 1) SHA_GROUP(7, 1) SHA_GROUP(8, 1) SHA_GROUP(9, 1)
  SHA_GROUP(10, 2) SHA_GROUP(11, 2) SHA_GROUP(12, 2) SHA_GROUP(13, 2) SHA_GROUP(14, 2)
  SHA_GROUP(15, 3) SHA_GROUP(16, 3) SHA_GROUP(17, 3) SHA_GROUP(18, 3) SHA_GROUP(19, 3)
#undef SHA_GROUP
      // clang-format on
      for (int l = 0; l < N; ++l) {
    out[l].e = _mm_sha1nexte_epu32(e0[l], from[l].e);
    out[l].abcd = _mm_add_epi32(abcd[l], from[l].abcd);
  }
}

SHA_TARGET Regs ToRegs(const uint32_t h[5]) {
  return Regs{
      _mm_set_epi32(static_cast<int>(h[0]), static_cast<int>(h[1]), static_cast<int>(h[2]), static_cast<int>(h[3])),
      _mm_set_epi32(static_cast<int>(h[4]), 0, 0, 0)};
}

SHA_TARGET Regs BytesToRegs(const uint8_t b[20]) {
  uint32_t h[5];
  for (int i = 0; i < 5; ++i)
    h[i] = (uint32_t{b[4 * i]} << 24) | (uint32_t{b[4 * i + 1]} << 16) | (uint32_t{b[4 * i + 2]} << 8) | b[4 * i + 3];
  return ToRegs(h);
}

SHA_TARGET void RegsToBytes(const Regs& r, uint8_t b[20]) {
  uint32_t h[5];
  h[0] = static_cast<uint32_t>(_mm_extract_epi32(r.abcd, 3));
  h[1] = static_cast<uint32_t>(_mm_extract_epi32(r.abcd, 2));
  h[2] = static_cast<uint32_t>(_mm_extract_epi32(r.abcd, 1));
  h[3] = static_cast<uint32_t>(_mm_extract_epi32(r.abcd, 0));
  h[4] = static_cast<uint32_t>(_mm_extract_epi32(r.e, 3));
  for (int i = 0; i < 5; ++i) {
    b[4 * i] = static_cast<uint8_t>(h[i] >> 24);
    b[4 * i + 1] = static_cast<uint8_t>(h[i] >> 16);
    b[4 * i + 2] = static_cast<uint8_t>(h[i] >> 8);
    b[4 * i + 3] = static_cast<uint8_t>(h[i]);
  }
}

template <int N>
SHA_TARGET void RunLanes(const Sha1State& inner, const Sha1State& outer, uint8_t u[][20], uint8_t t[][20],
                         int iterations) {
  Regs in[N], out[N], uu[N], tt[N], mid[N];
  for (int l = 0; l < N; ++l) {
    in[l] = ToRegs(inner.h);
    out[l] = ToRegs(outer.h);
    uu[l] = BytesToRegs(u[l]);
    tt[l] = BytesToRegs(t[l]);
  }
  for (int i = 1; i < iterations; ++i) {
    CompressMessage20<N>(in, uu, mid);
    CompressMessage20<N>(out, mid, uu);
    for (int l = 0; l < N; ++l) {
      tt[l].abcd = _mm_xor_si128(tt[l].abcd, uu[l].abcd);
      tt[l].e = _mm_xor_si128(tt[l].e, uu[l].e);
    }
  }
  for (int l = 0; l < N; ++l) {
    RegsToBytes(uu[l], u[l]);
    RegsToBytes(tt[l], t[l]);
  }
  // The registers held key material: they go with the stack frame, the
  // copies here are cleared.
  std::memset(static_cast<void*>(tt), 0, sizeof tt);
  std::memset(static_cast<void*>(uu), 0, sizeof uu);
  std::memset(static_cast<void*>(mid), 0, sizeof mid);
}

}  // namespace

bool Pbkdf2LanesWithShaInstructions(const Sha1State& inner, const Sha1State& outer, uint8_t u[][20], uint8_t t[][20],
                                    int lanes, int iterations, TAFTuningSwitch use) {
  if (!UseShaInstructions(use)) return false;
  switch (lanes) {
    case 1: RunLanes<1>(inner, outer, u, t, iterations); return true;
    case 2: RunLanes<2>(inner, outer, u, t, iterations); return true;
    case 3: RunLanes<3>(inner, outer, u, t, iterations); return true;
    case 4: RunLanes<4>(inner, outer, u, t, iterations); return true;
  }
  return false;
}

#else  // no SHA instructions on this architecture

bool Pbkdf2LanesWithShaInstructions(const Sha1State&, const Sha1State&, uint8_t[][20], uint8_t[][20], int, int,
                                    TAFTuningSwitch) {
  return false;
}

#endif

}  // namespace arcfold::crypto
