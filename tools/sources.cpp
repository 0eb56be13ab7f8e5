#include "sources.h"

#include <algorithm>
#include <vector>

#include "arcfold/search.h"
#include "listing_ahead.h"
#include "platform/files.h"

namespace arcfold_cli {

namespace {

constexpr const char* kSpecialFile = "skipped: not a regular file or folder (a FIFO, socket or device)";
constexpr const char* kBrokenLink = "skipped: a link that leads to nothing";
constexpr const char* kLoopingLink = "skipped: a link back to a folder that holds it";
constexpr const char* kUnreadableFolder = "not added in full: the folder cannot be read";
// Item names use "\" as a folder separator, as Windows does: stored, such a
// name would come back as folders.
constexpr const char* kBackslashName = "not added: a name with \"\\\" could not be extracted as it is";

bool HasWildcards(const afp::WideString& s) { return s.find_first_of(u"*?") != afp::WideString::npos; }

class Walk {
 public:
  Walk(bool recurse, bool list_ahead, SourceVisitor& visitor)
      : recurse_(recurse), visitor_(visitor), ahead_(list_ahead && recurse) {}

  // One named thing: a file is added, a folder walked.
  void Named(const afp::WideString& path) {
    const afp::FileTarget target = afp::GetFileTarget(path);
    if (target.type == afp::PathType::File) {
      visitor_.File(path, nullptr);
    } else if (target.type == afp::PathType::Directory) {
      if (visitor_.Folder(path)) Folder(path, target, u"*");
    } else {
      visitor_.Skipped(path, target.type == afp::PathType::None ? kBrokenLink : kSpecialFile);
    }
  }

  // The entries of a folder: files that match mask and, with recurse, its
  // folders with all they hold.
  void Folder(const afp::WideString& path, const afp::FileTarget& self, const afp::WideString& mask) {
    holders_.push_back(self);
    // A folder walked whole has each of its entries looked at: relative to
    // the open folder that costs the system less than a look by the full
    // path later. Under a narrower mask most entries are never looked at.
    const afp::WideString folder = path.empty() ? u"." : path;
    bool readable = true;
    std::vector<afp::DirEntry> entries =
        mask == u"*" ? ahead_.Take(folder, &readable) : afp::ListDirectoryEntries(folder, &readable);
    if (!readable) visitor_.NotAdded(folder, kUnreadableFolder);
    std::sort(entries.begin(), entries.end(),
              [](const afp::DirEntry& a, const afp::DirEntry& b) { return a.name < b.name; });
    const afp::WideString prefix = path.empty() || path.back() == u'/' || path.back() == u'\\' ? path : path + u"/";
    walking_.push_back({prefix, &entries, 0});
    if (mask == u"*") PrepareNextFolder();
    for (const auto& entry : entries) {
      ++walking_.back().next;
      Entry(prefix + entry.name, entry, mask);
    }
    walking_.pop_back();
    holders_.pop_back();
  }

 private:
  void Entry(const afp::WideString& full, const afp::DirEntry& entry, const afp::WideString& mask) {
    const afp::WideString& name = entry.name;
    if (name.find(u'\\') != afp::WideString::npos) {
      if (arcfold::MaskMatch(name, mask)) visitor_.NotAdded(full, kBackslashName);
      return;
    }
    const afp::PathType kind = afp::TypeOfEntry(entry, full);
    if (kind == afp::PathType::File) {
      if (arcfold::MaskMatch(name, mask)) visitor_.File(full, &entry.info);
      return;
    }
    if (kind != afp::PathType::Directory && kind != afp::PathType::Link) {
      if (arcfold::MaskMatch(name, mask)) visitor_.Skipped(full, kSpecialFile);
      return;
    }
    const afp::FileTarget target = afp::GetFileTarget(full);
    if (target.type == afp::PathType::Directory) {
      if (!recurse_) return;
      if (Holds(target)) return visitor_.Skipped(full, kLoopingLink);
      if (visitor_.Folder(full)) Folder(full, target, mask);
    } else if (arcfold::MaskMatch(name, mask)) {
      if (target.type == afp::PathType::File)
        visitor_.File(full, &entry.info);
      else
        visitor_.Skipped(full, target.type == afp::PathType::None ? kBrokenLink : kSpecialFile);
    }
  }

  // Has the folder the walk will list next prepared ahead: the first folder
  // that the folders being walked still hold, from the innermost out.
  void PrepareNextFolder() {
    for (auto level = walking_.rbegin(); level != walking_.rend(); ++level) {
      const std::vector<afp::DirEntry>& entries = *level->entries;
      for (size_t i = level->next; i < entries.size(); ++i) {
        const afp::DirEntry& entry = entries[i];
        if (entry.type != afp::PathType::Directory || entry.name.find(u'\\') != afp::WideString::npos) continue;
        return ahead_.Prepare(level->prefix + entry.name);
      }
    }
  }

  // Whether the folder is one of those being walked: a link to it would
  // walk it again without end.
  bool Holds(const afp::FileTarget& folder) const {
    return std::any_of(holders_.begin(), holders_.end(),
                       [&](const afp::FileTarget& h) { return h.SameFileAs(folder); });
  }

  const bool recurse_;
  SourceVisitor& visitor_;
  std::vector<afp::FileTarget> holders_;
  // The folders being walked, outermost first: where the walk of each
  // goes on when the folder it is in now is done.
  struct Level {
    afp::WideString prefix;
    const std::vector<afp::DirEntry>* entries;
    size_t next;  // the first entry not yet walked
  };
  std::vector<Level> walking_;
  ListingAhead ahead_;
};

}  // namespace

void WalkSource(const afp::WideString& path, bool recurse, SourceVisitor& visitor, bool list_ahead) {
  Walk walk(recurse, list_ahead, visitor);
  const size_t cut = path.find_last_of(u"/\\");
  const afp::WideString last = cut == afp::WideString::npos ? path : path.substr(cut + 1);
  if (!HasWildcards(last) || afp::GetPathType(path) != afp::PathType::None) return walk.Named(path);
  const afp::WideString folder = cut == afp::WideString::npos ? afp::WideString() : path.substr(0, cut + 1);
  const afp::FileTarget target = afp::GetFileTarget(folder.empty() ? u"." : folder);
  if (target.type == afp::PathType::Directory) walk.Folder(folder, target, last);
}

}  // namespace arcfold_cli
