// What stands behind arcfold::Archive: one component whose questions are
// answered without anybody (a password question fails the entry, a failure
// ends the run) and whose failures are kept to be thrown.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "arcfold/arcfold.h"
#include "arcfold/archive.h"
#include "platform/prompts.h"

namespace arcfold {

afp::WideString WideOf(const std::filesystem::path& path);

class Archive::Impl {
 public:
  // The component, with the session behind it in reach: opening from
  // memory and dropping a transaction are not part of its public surface.
  class Archiver : public TArcfold {
   public:
    using TAFBaseArchiver::Session;
  };

  Impl();
  ~Impl();
  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;

  // ---- reading ----
  Entry EntryAt(int index) const;
  // The index of entry now (it may have moved since it was taken); error 11
  // when no item has its name any more.
  int IndexOf(const Entry& entry);
  std::optional<int> IndexOfName(std::string_view utf8_name);
  // Decodes entry into out on the calling thread.
  void Decode(const Entry& entry, TStream& out);
  // Stops the reader still decoding, if any: whatever comes next uses the
  // component's stream, which the reader's thread would otherwise share.
  void Settle();
  // Makes pipe the reader in flight.
  void StartReader(const std::shared_ptr<EntryReader::Pipe>& pipe) { reader_ = pipe; }
  // Reading and extracting while a change is open would see its pending items.
  void CheckNoChange();

  // ---- extracting ----
  // Extracts the marked items below folder, throwing what failed or a cancel.
  void ExtractMarked(const std::filesystem::path& folder, const ProgressCallback& progress);

  // ---- changing ----
  void BeginChange();
  // Runs add with the options' password and level in force for the items it
  // adds, the read password and level restored after.
  template <class Add>
  void Adding(const AddOptions& options, Add add);
  void AddFile(const std::filesystem::path& path, std::string_view name, const AddOptions& options);
  void Commit();
  void Rollback() noexcept;

  // The same failure with name in its message (after the component's name)
  // unless the message quotes it already.
  EAFException Naming(const afp::WideString& name, const EAFException& e) const;

  Archiver zip;
  bool in_memory = false;

 private:
  void SetUpHandlers();
  void NoteFailure(const afp::WideString& item_name, const EAFException& e);
  void ApplyOptions(const AddOptions& options);

  afp::SafeAnswerPrompts nobody_;
  std::weak_ptr<EntryReader::Pipe> reader_;
  // The extraction under way: its callback and its first failure.
  const ProgressCallback* progress_ = nullptr;
  std::optional<EAFException> failure_;
  // The one encryption method of the change under way (the component
  // encrypts every item of a commit the same way).
  std::optional<TAFCryptoAlgorithm> change_encryption_;
};

template <class Add>
void Archive::Impl::Adding(const AddOptions& options, Add add) {
  const std::string read_password = zip.Password();
  const uint8_t level = zip.CompressionMode();
  struct Restore {
    Impl& impl;
    const std::string& password;
    uint8_t level;
    ~Restore() {
      impl.zip.SetPassword(password);
      impl.zip.SetCompressionMode(level);
    }
  } restore{*this, read_password, level};
  ApplyOptions(options);
  add();
}

}  // namespace arcfold
