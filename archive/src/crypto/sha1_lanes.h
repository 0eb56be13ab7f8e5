// The PBKDF2-HMAC-SHA1 iteration loop over several output blocks side by
// side. Each block of a derived key is its own chain of compressions, each
// waiting on the one before; one chain leaves the SHA instructions idle most
// of the time, four interleaved keep them busy.
#pragma once

#include <cstdint>

#include "arcfold/types.h"

namespace arcfold::crypto {

// The chaining state of SHA-1 after some whole blocks.
struct Sha1State {
  uint32_t h[5];
};

constexpr int kMaxLanes = 4;

// For each lane l < lanes: u[l] holds U1 (20 bytes) and t[l] the running
// XOR (initially U1); runs iterations 2..iterations, each U = HMAC(U)
// from the key's inner and outer pad states, t ^= U. Returns false when
// this CPU has no SHA instructions (or `use`, or the environment where it is
// tsDefault, asks for the reference path), and then leaves u and t alone.
bool Pbkdf2LanesWithShaInstructions(const Sha1State& inner, const Sha1State& outer, uint8_t u[][20], uint8_t t[][20],
                                    int lanes, int iterations, TAFTuningSwitch use);

}  // namespace arcfold::crypto
