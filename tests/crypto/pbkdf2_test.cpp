// The key derivation against OpenSSL's own PBKDF2 as the oracle, over the
// lengths that make one to five output blocks (the side-by-side chains
// take up to four at a time) and the iteration counts at the edges.
// tests/CMakeLists.txt runs it again with ARCFOLD_SHA1=portable, so that
// both the SHA-instruction lanes and the reference loop are checked.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <random>
#include <string>
#include <vector>

#include "crypto/crypto_primitives.h"

namespace arcfold::crypto {
namespace {

std::vector<uint8_t> Oracle(const std::string& pw, const std::vector<uint8_t>& salt, int iterations, size_t len) {
  std::vector<uint8_t> out(len);
  PKCS5_PBKDF2_HMAC_SHA1(pw.data(), static_cast<int>(pw.size()), salt.data(), static_cast<int>(salt.size()), iterations,
                         static_cast<int>(len), out.data());
  return out;
}

TEST(Pbkdf2Test, AgreesWithOpenSslForEveryBlockCountAndEdgeIterationCount) {
  std::mt19937 rng(6070);
  for (int iterations : {1, 2, 3, 1000}) {
    for (size_t len : {1u, 16u, 20u, 21u, 32u, 40u, 50u, 66u, 80u, 81u, 100u}) {
      std::string pw(rng() % 70, '\0');  // past 64 bytes the key is hashed first
      for (auto& c : pw) c = static_cast<char>(rng());
      std::vector<uint8_t> salt(rng() % 17);
      for (auto& b : salt) b = static_cast<uint8_t>(rng());
      EXPECT_EQ(Pbkdf2HmacSha1(pw, salt.data(), salt.size(), iterations, len), Oracle(pw, salt, iterations, len))
          << "iterations " << iterations << ", length " << len;
    }
  }
}

}  // namespace
}  // namespace arcfold::crypto
