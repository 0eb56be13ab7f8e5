// WinZip AE-2 encryption: AES in counter mode with PBKDF2-HMAC-SHA1 keys, a
// salt and 2-byte verifier before the data, and a 10-byte HMAC-SHA1 code
// after it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "arcfold/records.h"
#include "arcfold/types.h"

namespace arcfold {

class TStream;
struct TDirItem;
namespace crypto {
class AesEcb;
class HmacSha1;
}  // namespace crypto

class TAFCryptoTransform {
 public:
  virtual ~TAFCryptoTransform() = default;
  virtual void SetPassword(const std::string& password) = 0;
  virtual bool CheckPassword(const std::string& password) = 0;
  virtual std::vector<uint8_t> GetEncryptionKey() = 0;
  virtual std::string GetPassword() = 0;
  virtual void SetTransformMode(uint8_t mode) { mode_ = mode; }
  virtual void Clear() = 0;
  virtual size_t DecryptBlock(const uint8_t* src, size_t src_index, uint8_t* dst, size_t dst_index, size_t count) = 0;
  virtual size_t EncryptBlock(const uint8_t* src, size_t src_index, uint8_t* dst, size_t dst_index, size_t count) = 0;
  virtual std::vector<uint8_t> GetHeader() = 0;
  virtual void ReadHeader(TStream& stream) = 0;
  virtual size_t GetHeaderSize() = 0;
  virtual std::vector<uint8_t> GetAuthenticationCode() = 0;
  virtual void ReadAuthenticationCode(TStream& stream) = 0;
  virtual size_t GetAuthenticationCodeSize() = 0;
  // Whether the stored code (for AE-1 the CRC) differs from the data decrypted.
  virtual bool AuthenticationCodeDiffers(const TDirItem& item, uint32_t crc) = 0;
  virtual TExtraField BuildExtraField() = 0;

  uint8_t TransformMode() const { return mode_; }
  enum : uint8_t { kEncrypt = 0, kDecrypt = 1 };

 protected:
  uint8_t mode_ = kEncrypt;
};

// The key generator: PBKDF2 with HMAC-SHA1 over the password as stored,
// on the SHA instructions as sha_instructions allows.
class TPBKDF2 {
 public:
  TPBKDF2(const std::string& password, std::vector<uint8_t> salt, int iterations,
          TAFTuningSwitch sha_instructions = tsDefault);
  // With a fresh salt of salt_len bytes from the secure generator.
  TPBKDF2(const std::string& password, size_t salt_len, int iterations, TAFTuningSwitch sha_instructions = tsDefault);
  ~TPBKDF2();
  std::vector<uint8_t> Derive(size_t length) const;
  std::vector<uint8_t> Salt() const { return salt_; }

 private:
  std::string password_;
  std::vector<uint8_t> salt_;
  int iterations_;
  TAFTuningSwitch sha_instructions_;
};

// The key length of an AES strength (caAES_128 to caAES_256), in bits.
constexpr int AesKeyBits(TAFCryptoAlgorithm algorithm) { return 128 + 64 * (algorithm - 1); }

class TAESCryptoTransform : public TAFCryptoTransform {
 public:
  TAESCryptoTransform(int key_bits, uint16_t version, uint16_t actual_method);
  ~TAESCryptoTransform() override;

  void SetPassword(const std::string& password) override;
  bool CheckPassword(const std::string& password) override;
  std::vector<uint8_t> GetEncryptionKey() override;
  std::string GetPassword() override { return password_; }
  void Clear() override;
  size_t DecryptBlock(const uint8_t* src, size_t src_index, uint8_t* dst, size_t dst_index, size_t count) override;
  size_t EncryptBlock(const uint8_t* src, size_t src_index, uint8_t* dst, size_t dst_index, size_t count) override;
  std::vector<uint8_t> GetHeader() override;
  void ReadHeader(TStream& stream) override;
  size_t GetHeaderSize() override { return key_len_ / 2 + 2; }
  std::vector<uint8_t> GetAuthenticationCode() override;
  void ReadAuthenticationCode(TStream& stream) override;
  size_t GetAuthenticationCodeSize() override { return version_ == 1 ? 0 : 10; }
  bool AuthenticationCodeDiffers(const TDirItem& item, uint32_t crc) override;
  TExtraField BuildExtraField() override;

  void SetDeriver(TAesKeyDeriver deriver) { deriver_ = std::move(deriver); }
  // Whether keys derived here may use the SHA instructions (TAFTuning).
  void SetShaInstructions(TAFTuningSwitch use) { sha_instructions_ = use; }
  static constexpr int kIterations = 1000;
  static std::vector<uint8_t> DefaultDerive(const std::string& password, const std::vector<uint8_t>& salt,
                                            size_t length, TAFTuningSwitch sha_instructions = tsDefault);

 private:
  // Derives (once per password and salt) and sets up cipher and MAC.
  void DeriveKeys();
  void Crypt(const uint8_t* src, uint8_t* dst, size_t count);

  uint16_t key_len_;
  uint16_t version_;
  uint16_t actual_method_;
  std::string password_;
  std::vector<uint8_t> salt_;
  uint8_t verifier_[2] = {0, 0};  // held: derived, or read from the archive
  uint8_t derived_verifier_[2] = {0, 0};
  std::vector<uint8_t> encryption_key_;  // emptied once the cipher holds it
  std::unique_ptr<crypto::AesEcb> cipher_;
  std::unique_ptr<crypto::HmacSha1> mac_;
  std::vector<uint8_t> code_;
  bool have_keys_ = false;
  std::string keys_password_;
  std::vector<uint8_t> keys_salt_;
  uint8_t counter_[16] = {0};
  uint8_t keystream_[16] = {0};
  size_t ks_pos_ = 16;
  TAesKeyDeriver deriver_;
  TAFTuningSwitch sha_instructions_ = tsDefault;
};

}  // namespace arcfold
