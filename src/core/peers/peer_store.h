#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/peers/peer_record.h"
#include "core/support/error.h"

namespace ferrytide {

class PeerStoreError : public Error {
 public:
  enum class Kind { directoryCreate, write, read, decode };

  static PeerStoreError directoryCreate(const std::string& text);
  static PeerStoreError write(const std::string& text);
  static PeerStoreError read(const std::string& text);
  static PeerStoreError decode(const std::string& text);

  Kind kind() const { return kind_; }
  // The reason that follows the fixed beginning of the description.
  const std::string& text() const { return text_; }

 private:
  PeerStoreError(Kind kind, const std::string& prefix, const std::string& text)
      : Error(prefix + text), kind_(kind), text_(text) {}
  Kind kind_;
  std::string text_;
};

// The peers file: every paired phone as one JSON document, {"peers": [record, ...]}, written
// indented with sorted keys. Nothing is cached: every call reads the file, and every change is
// one read-modify-write of the whole file, replaced atomically. The store has no lock; callers
// keep their changes from overlapping.
//
// A file that cannot be read or decoded fails every call (a mutation then writes nothing), so
// a damaged file is never replaced behind the user's back; writeBook() and wipe() replace it.
class PeerStore {
 public:
  static constexpr std::string_view defaultDirectoryName = "Ferrytide";
  static constexpr std::string_view defaultFileName = "peer.json";

  // Absent folder: the application data folder (the key file's folder); absent name:
  // "peer.json".
  explicit PeerStore(std::optional<std::filesystem::path> directoryURL = std::nullopt,
                     std::optional<std::string> fileName = std::nullopt);

  const std::filesystem::path& directoryURL() const { return directoryURL_; }
  const std::filesystem::path& fileURL() const { return fileURL_; }

  // An empty book when there is no file. A file holding one bare record (the older form)
  // reads as a book of that record.
  PeerBook loadBook() const;
  void writeBook(const PeerBook& book) const;

  // Adds the record, or replaces the one with the same "peer_pubkey"; either way it moves to
  // the end of the book.
  void upsert(const PeerRecord& record) const;
  void save(const PeerRecord& record) const { upsert(record); }

  // Like upsert, and also removes the records of the same phone under an older key: same
  // "peer_hostname" and "peer_ip", another "peer_pubkey". Returns those, in book order.
  std::vector<PeerRecord> upsertReplacingStale(const PeerRecord& record) const;

  // Removes and returns the first record, in book order, for which `predicate` holds.
  // Nothing matched: nothing is written.
  std::optional<PeerRecord> removeFirst(
      const std::function<bool(const PeerRecord&)>& predicate) const;

  // The latest "paired_at_epoch_ms"; on a tie the earliest in the book.
  std::optional<PeerRecord> mostRecent() const;
  std::optional<PeerRecord> load() const { return mostRecent(); }

  // One record by what a user typed, letter case ignored (ASCII letters only): an exact
  // name, else the only name that begins with it, else the only key that begins with it.
  // Several names or, failing names, several keys fail with decode naming the ambiguity.
  std::optional<PeerRecord> resolve(std::string_view selector) const;

  // Deletes the file; nothing to do when there is none. Throws file_io::FileError.
  void wipe() const;

 private:
  std::filesystem::path directoryURL_;
  std::filesystem::path fileURL_;
};

}  // namespace ferrytide
