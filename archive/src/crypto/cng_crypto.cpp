// The cipher primitives on Windows' own CNG (bcrypt): AES in ECB for the
// counter-mode batches, HMAC-SHA1, PBKDF2 and the system's random numbers.
// The component is built with it on Windows, with openssl_crypto.cpp elsewhere;
// the platform layer makes the calls.
#include <string>

#include "arcfold/exception.h"
#include "crypto/crypto_primitives.h"
#include "platform/win32/cng.h"

namespace arcfold::crypto {

namespace {

void Check(bool ok, const char* what) {
  if (!ok) throw EAFError(std::string("CNG: ") + what + " failed");
}

// Algorithm handles are opened once per process and shared: opening one
// costs far more than the work of a single item.
afp::cng::Handle Provider(afp::cng::Algorithm algorithm) {
  afp::cng::Handle h = nullptr;
  Check(afp::cng::OpenAlgorithm(algorithm, h), "opening an algorithm");
  return h;
}

afp::cng::Handle HmacProvider() {
  static afp::cng::Handle h = Provider(afp::cng::Algorithm::HmacSha1);
  return h;
}

afp::cng::Handle AesProvider() {
  static afp::cng::Handle h = [] {
    afp::cng::Handle a = Provider(afp::cng::Algorithm::Aes);
    Check(afp::cng::ChooseEcb(a), "choosing ECB");
    return a;
  }();
  return h;
}

afp::cng::Handle Duplicate(afp::cng::Handle from) {
  afp::cng::Handle h = nullptr;
  Check(afp::cng::DuplicateHash(from, h), "copying a hash");
  return h;
}

void Feed(afp::cng::Handle h, const uint8_t* data, size_t len) { Check(afp::cng::HashData(h, data, len), "hashing"); }

void Finish(afp::cng::Handle h, uint8_t out[20]) {
  const bool ok = afp::cng::FinishHash(h, out, 20);
  afp::cng::DestroyHash(h);
  Check(ok, "finishing a hash");
}

}  // namespace

void RandomBytes(uint8_t* out, size_t count) {
  if (count && !afp::cng::Random(out, count)) throw EAFError("random generator failed");
}

// keyed: the hash with the key set and nothing fed, copied for each message.
struct HmacSha1::State {
  afp::cng::Handle keyed = nullptr;
  afp::cng::Handle running = nullptr;
};

HmacSha1::HmacSha1(const uint8_t* key, size_t key_len) : s_(std::make_unique<State>()) {
  Check(afp::cng::CreateHash(HmacProvider(), key, key_len, s_->keyed), "keying HMAC");
  s_->running = Duplicate(s_->keyed);
}

HmacSha1::~HmacSha1() {
  if (s_->running) afp::cng::DestroyHash(s_->running);
  if (s_->keyed) afp::cng::DestroyHash(s_->keyed);
}

void HmacSha1::Update(const uint8_t* data, size_t len) { Feed(s_->running, data, len); }

void HmacSha1::Final(uint8_t out[20]) {
  afp::cng::Handle done = s_->running;
  s_->running = Duplicate(s_->keyed);
  Finish(done, out);
}

void HmacSha1::Mac(const uint8_t* data, size_t len, uint8_t out[20]) const {
  afp::cng::Handle h = Duplicate(s_->keyed);
  Feed(h, data, len);
  Finish(h, out);
}

void HmacSha1::Mac20(const uint8_t in[20], uint8_t out[20]) const { Mac(in, 20, out); }

std::vector<uint8_t> Pbkdf2HmacSha1(const std::string& password, const uint8_t* salt, size_t salt_len, int iterations,
                                    size_t out_len, TAFTuningSwitch) {
  std::vector<uint8_t> out(out_len);
  Check(afp::cng::DerivePbkdf2(HmacProvider(), reinterpret_cast<const uint8_t*>(password.data()), password.size(), salt,
                               salt_len, static_cast<uint64_t>(iterations), out.data(), out_len),
        "PBKDF2");
  return out;
}

AesEcb::AesEcb(const uint8_t* key, size_t key_len) {
  afp::cng::Handle k = nullptr;
  Check(afp::cng::GenerateKey(AesProvider(), key, key_len, k), "AES set-up");
  ctx_ = k;
}

AesEcb::~AesEcb() { afp::cng::DestroyKey(ctx_); }

void AesEcb::EncryptBlocks(const uint8_t* in, uint8_t* out, size_t blocks) {
  Check(afp::cng::Encrypt(ctx_, in, out, blocks * 16), "AES");
}

bool ConstantTimeEqual(const uint8_t* a, const uint8_t* b, size_t len) {
  volatile uint8_t diff = 0;
  for (size_t i = 0; i < len; ++i) diff = diff | (a[i] ^ b[i]);
  return diff == 0;
}

void Wipe(void* p, size_t len) { afp::cng::SecureZero(p, len); }

}  // namespace arcfold::crypto
