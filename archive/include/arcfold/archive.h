// arcfold::Archive: the library as a C++ program meets it. A value-typed,
// UTF-8 and std::filesystem interface over the component (TArcfold): the
// same reading, extraction and commit, with failures as exceptions.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <iosfwd>
#include <iterator>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "arcfold/exception.h"
#include "arcfold/export.h"

namespace arcfold {

/// How an entry's data is encrypted.
enum class Encryption { none, classic, aes128, aes192, aes256 };

/// One item of an archive, as a value: it stays valid when the archive
/// changes, but names the item only until a change is committed.
struct Entry {
  /// The name, UTF-8, with "/" between folders ("docs/readme.txt"; a folder ends in "/").
  std::string name;
  /// Bytes of the data once decoded.
  std::uint64_t size = 0;
  /// Bytes the data takes in the archive (compressed, encrypted).
  std::uint64_t compressed_size = 0;
  /// Last modification: the extended timestamp when the item carries one,
  /// else its DOS date and time read as local time.
  std::chrono::system_clock::time_point modified;
  /// The compression method (0 stored, 8 deflated, ...); for AES items the
  /// method of the data under the encryption.
  std::uint16_t method = 0;
  /// How the data is encrypted.
  Encryption encryption = Encryption::none;
  /// The external attributes as stored (DOS bits low, a Unix mode high).
  std::uint32_t attributes = 0;
  /// The CRC-32 of the decoded data.
  std::uint32_t crc32 = 0;
  /// Whether the item is a folder.
  bool is_directory = false;
  /// The item's position in the archive.
  std::size_t index = 0;
};

/// Progress of an extraction, reported per chunk of data.
struct Progress {
  /// The entry being extracted (UTF-8).
  std::string_view entry;
  /// How much of that entry is done, 0 to 100.
  double entry_percent = 0;
  /// How much of the whole extraction is done, 0 to 100.
  double overall_percent = 0;
};

/// Called during an extraction; returning false cancels it (the extraction
/// then throws Cancelled).
using ProgressCallback = std::function<bool(const Progress&)>;

/// A source of bytes for an added entry: fills up to n bytes at buffer and
/// returns how many it filled, 0 at the end.
using ReadCallback = std::function<std::size_t(void* buffer, std::size_t n)>;

/// How an entry is written.
struct AddOptions {
  /// Compression level, 0 (stored) to 9 (smallest); EAFException (error 5) outside.
  int level = 6;
  /// The encryption; anything but none needs a password. All the encrypted
  /// entries of one Change are encrypted the same way (another method
  /// throws EAFException).
  Encryption encryption = Encryption::none;
  /// The password (UTF-8) of an encrypted entry; unused with Encryption::none.
  std::string_view password;
};

/// An extraction stopped by its caller (a progress callback that returned
/// false; nothing of the entry under way is left on disk), or an
/// EntryReader stopped by another use of its Archive.
class ARCFOLD_API Cancelled : public EAFException {
 public:
  /// A cancel of what the message names.
  explicit Cancelled(const std::string& what);
};

/// Pulls the decoded data of one entry, in pieces of the caller's size,
/// without writing anything to disk. The data is decoded on a helper thread
/// into a bounded buffer (a few hundred KiB whatever the entry's size) as the
/// caller reads it.
///
/// Bytes arrive before the entry's CRC-32 or AES authentication code is
/// checked at its end: a damaged entry throws from the read that reaches
/// the damage or the end, after the bytes before it. A wrong or missing
/// password throws from the first read, before any byte.
///
/// Not thread-safe; a reader belongs to its Archive and shares its stream:
/// a call that reads or changes the Archive (set_password, read_*, reader,
/// extract*, change) or destroys it stops a reader that has not reached its
/// end, and that reader's next read throws Cancelled. Listing and find()
/// leave it alone. Movable, not copyable.
class ARCFOLD_API EntryReader {
 public:
  /// Fills up to n bytes at buffer; returns how many, 0 at the end of the
  /// entry. Throws EAFException for a wrong password or damaged data.
  std::size_t read(void* buffer, std::size_t n);
  /// The entry being read.
  const Entry& entry() const { return entry_; }

  /// Stops decoding (when not at the end yet) and lets go of the helper thread.
  ~EntryReader();
  /// Takes over other's entry and decoding.
  EntryReader(EntryReader&& other) noexcept;
  /// Stops this reader's decoding and takes over other's.
  EntryReader& operator=(EntryReader&& other) noexcept;
  /// Not copyable: one reader per decode.
  EntryReader(const EntryReader&) = delete;
  /// Not copyable.
  EntryReader& operator=(const EntryReader&) = delete;

  /// The state a reader shares with its decoding thread (internal).
  struct Pipe;

 private:
  friend class Archive;
  EntryReader(Entry entry, std::shared_ptr<Pipe> pipe);
  Entry entry_;
  std::shared_ptr<Pipe> pipe_;
};

class Change;  // below

/// A ZIP archive opened from a file or from memory.
///
/// Thread safety: an Archive is used by one thread at a time (one object per
/// thread; several Archives of one file may be used at once, each from its
/// own thread). Extractions hold a process-wide lock while they run (the
/// component's item runs share it), so two extractions of one process never
/// run at the same time, and a progress callback must not wait for another
/// thread's extraction. An EntryReader's decoding thread does not take it.
/// Callbacks must not call back into the Archive that called them.
class ARCFOLD_API Archive {
 public:
  /// The state behind the interface (internal).
  class Impl;

  /// Opens the existing archive at path (read-write where the file allows,
  /// else read-only). Throws EAFException when it is missing or not an archive.
  static Archive open(const std::filesystem::path& path);
  /// Opens an archive held in memory; the bytes are copied. It can be read
  /// and extracted, not changed.
  static Archive open(std::span<const std::byte> bytes);
  /// A new, empty archive at path, written by its first commit (or, empty,
  /// when the Archive is destroyed). Throws EAFException (error 19) when
  /// something is at path already: nothing there is replaced.
  static Archive create(const std::filesystem::path& path);

  /// The password (UTF-8) for reading and extracting encrypted entries.
  void set_password(std::string_view password);

  /// Iterates the entries in archive order; each is read from the
  /// directory when the iterator reaches it.
  class iterator {
   public:
    /// An input iterator: each entry is read once, in order.
    using iterator_category = std::input_iterator_tag;
    /// What it iterates over.
    using value_type = Entry;
    /// The distance between two positions.
    using difference_type = std::ptrdiff_t;
    /// What operator-> gives.
    using pointer = const Entry*;
    /// What operator* gives.
    using reference = const Entry&;
    /// The entry here (valid until the iterator moves on).
    const Entry& operator*() const;
    /// The entry here, for its members.
    const Entry* operator->() const { return &**this; }
    /// The next entry.
    iterator& operator++() {
      ++index_;
      loaded_ = false;
      return *this;
    }
    /// Whether both stand at the same entry.
    bool operator==(const iterator& other) const { return impl_ == other.impl_ && index_ == other.index_; }

   private:
    friend class Archive;
    iterator(const Impl* impl, std::size_t index) : impl_(impl), index_(index) {}
    const Impl* impl_;
    std::size_t index_;
    mutable Entry entry_;
    mutable bool loaded_ = false;
  };
  /// The first entry.
  iterator begin() const { return iterator(impl_.get(), 0); }
  /// Past the last entry.
  iterator end() const { return iterator(impl_.get(), size()); }
  /// How many entries the archive holds.
  std::size_t size() const;
  /// The entry at index (0 to size() - 1).
  Entry at(std::size_t index) const;
  /// The entry named name (UTF-8; "\" and "/" alike; letter case as the
  /// system's file names treat it), if there is one.
  std::optional<Entry> find(std::string_view name) const;

  /// The decoded data of entry. Throws EAFException for a wrong or missing
  /// password or damaged data; never returns a partial entry.
  std::string read_string(const Entry& entry);
  /// The same as bytes.
  std::vector<std::byte> read_bytes(const Entry& entry);
  /// A reader pulling entry's data in pieces (see EntryReader).
  EntryReader reader(const Entry& entry);

  /// Extracts every entry below folder (made when missing), replacing
  /// files there. Throws EAFException on the first entry that fails (wrong
  /// password, damage, a file that cannot be written), Cancelled when
  /// progress returns false. The entry under way leaves no file; entries
  /// finished before stay.
  void extract(const std::filesystem::path& folder, const ProgressCallback& progress = {});
  /// The same for the entries whose names match one of masks ("*" and "?"
  /// as wildcards, "*" also across "/"; a mask without a folder, "*.txt",
  /// matches in every folder).
  void extract_matching(const std::filesystem::path& folder, const std::vector<std::string>& masks,
                        const ProgressCallback& progress = {});
  /// The same for the given entries.
  void extract(const std::filesystem::path& folder, std::span<const Entry> entries,
               const ProgressCallback& progress = {});

  /// Starts a set of changes (see Change). Throws EAFException for an
  /// archive opened from memory (error 32) or while another Change is open
  /// (error 26).
  Change change();

  /// Closes the archive (a new one is written, empty, when no commit did).
  ~Archive();
  /// Takes over other's archive.
  Archive(Archive&& other) noexcept;
  /// Closes this archive and takes over other's.
  Archive& operator=(Archive&& other) noexcept;
  /// Not copyable: an Archive owns its open file.
  Archive(const Archive&) = delete;
  /// Not copyable.
  Archive& operator=(const Archive&) = delete;

 private:
  explicit Archive(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

/// A set of changes to an archive, written by one commit: nothing reaches
/// the disk until commit(). A Change destroyed without commit(), also while
/// an exception unwinds, is rolled back: the archive on disk stays byte for
/// byte as it was. One Change at a time per Archive, which it must not
/// outlive; not thread-safe.
class ARCFOLD_API Change {
 public:
  /// Adds (or replaces) the entry name (UTF-8, "/" between folders) with the bytes of data.
  Change& add(std::string_view name, std::span<const std::byte> data, const AddOptions& options = {});
  /// Adds (or replaces) the entry name with the bytes of text.
  Change& add(std::string_view name, std::string_view text, const AddOptions& options = {});
  /// Adds (or replaces) the entry name with what source gives until its end;
  /// the bytes are read now and held in memory until the commit.
  Change& add(std::string_view name, const ReadCallback& source, const AddOptions& options = {});
  /// The same from a stream, read now to its end.
  Change& add(std::string_view name, std::istream& source, const AddOptions& options = {});
  /// Adds a file, or a folder with all it holds, under name (default: the
  /// file name of path), keeping its time and attributes. Read at the commit.
  Change& add_file(const std::filesystem::path& path, std::string_view name = {}, const AddOptions& options = {});
  /// Removes the entries whose names match mask (wildcards as
  /// Archive::extract_matching has them); a name without wildcards removes
  /// the entry of that name, EAFException (error 11) when there is none.
  Change& remove(std::string_view mask);
  /// Removes the entry.
  Change& remove(const Entry& entry);
  /// Writes every change in one commit: a new archive beside the old one
  /// renamed over it once whole. Throws EAFException on failure (a file to
  /// add that cannot be read, a full disk, ...), leaving the archive on disk
  /// as it was. Once called (also when it threw) the Change is done.
  void commit();

  /// Rolls back what was not committed.
  ~Change();
  /// Takes over other's changes.
  Change(Change&& other) noexcept;
  /// Not assignable: a change stays with its archive.
  Change& operator=(Change&&) = delete;
  /// Not copyable: one change, one commit.
  Change(const Change&) = delete;
  /// Not copyable.
  Change& operator=(const Change&) = delete;

 private:
  friend class Archive;
  explicit Change(Archive::Impl* impl) : impl_(impl) {}
  Archive::Impl* impl_;
};

}  // namespace arcfold
