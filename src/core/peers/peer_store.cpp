#include "core/peers/peer_store.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <iterator>

#include "core/support/file_io.h"
#include "core/support/json.h"
#include "core/support/paths.h"

namespace ferrytide {

PeerStoreError PeerStoreError::directoryCreate(const std::string& text) {
  return PeerStoreError(Kind::directoryCreate, "could not create storage directory: ", text);
}
PeerStoreError PeerStoreError::write(const std::string& text) {
  return PeerStoreError(Kind::write, "PeerRecord write failed: ", text);
}
PeerStoreError PeerStoreError::read(const std::string& text) {
  return PeerStoreError(Kind::read, "PeerRecord read failed: ", text);
}
PeerStoreError PeerStoreError::decode(const std::string& text) {
  return PeerStoreError(Kind::decode, "PeerRecord decode failed: ", text);
}

namespace {

// The current form {"peers": [...]}, else the older form: one bare record.
PeerBook decodeBook(ByteView bytes) {
  json::Value document;
  try {
    document = json::parse(bytes);
  } catch (const json::DecodeError& error) {
    throw PeerStoreError::decode(error.description());
  }
  try {
    return PeerBook::fromJson(document);
  } catch (const json::DecodeError& bookError) {
    try {
      return PeerBook{{PeerRecord::fromJson(document)}};
    } catch (const json::DecodeError& recordError) {
      // A document with "peers" is meant to be a book; why it is not a bare record would
      // only mislead.
      bool meantAsBook = document.is_object() && document.contains("peers");
      throw PeerStoreError::decode(meantAsBook ? bookError.description()
                                               : recordError.description());
    }
  }
}

// Phone names are UTF-8; only ASCII letters are folded, which leaves other bytes intact.
std::string lowercased(std::string_view text) {
  std::string result(text);
  for (char& c : result) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return result;
}

std::string joinedNames(const std::vector<const PeerRecord*>& records) {
  std::string names;
  for (const PeerRecord* record : records) {
    if (!names.empty()) names += ", ";
    names += record->peer_hostname;
  }
  return names;
}

}  // namespace

PeerStore::PeerStore(std::optional<std::filesystem::path> directoryURL,
                     std::optional<std::string> fileName)
    : directoryURL_(directoryURL ? *directoryURL
                                 : paths::dataHome() / std::string(defaultDirectoryName)),
      fileURL_(directoryURL_ / (fileName ? *fileName : std::string(defaultFileName))) {}

PeerBook PeerStore::loadBook() const {
  std::optional<Bytes> content;
  try {
    content = file_io::readIfExists(fileURL_);
  } catch (const file_io::FileError& error) {
    throw PeerStoreError::read(error.description());
  }
  if (!content) return PeerBook{};
  return decodeBook(*content);
}

void PeerStore::writeBook(const PeerBook& book) const {
  try {
    file_io::createDirectories(directoryURL_, 0700);
  } catch (const file_io::FileError& error) {
    throw PeerStoreError::directoryCreate(error.description());
  }
  std::string encoded;
  try {
    encoded = json::encodePretty(book.toJson());
  } catch (const json::DecodeError& error) {
    throw PeerStoreError::write(error.description());
  }
  try {
    file_io::writeAtomically(fileURL_, asBytes(encoded), 0600);
  } catch (const file_io::FileError& error) {
    throw PeerStoreError::write(error.description());
  }
}

void PeerStore::upsert(const PeerRecord& record) const {
  PeerBook book = loadBook();
  std::erase_if(book.peers, [&](const PeerRecord& existing) {
    return existing.peer_pubkey == record.peer_pubkey;
  });
  book.peers.push_back(record);
  writeBook(book);
}

std::vector<PeerRecord> PeerStore::upsertReplacingStale(const PeerRecord& record) const {
  PeerBook book = loadBook();
  auto isStale = [&](const PeerRecord& existing) {
    return existing.peer_pubkey != record.peer_pubkey &&
           existing.peer_hostname == record.peer_hostname && existing.peer_ip == record.peer_ip;
  };
  std::vector<PeerRecord> stale;
  std::copy_if(book.peers.begin(), book.peers.end(), std::back_inserter(stale), isStale);
  std::erase_if(book.peers, [&](const PeerRecord& existing) {
    return existing.peer_pubkey == record.peer_pubkey || isStale(existing);
  });
  book.peers.push_back(record);
  writeBook(book);
  return stale;
}

std::optional<PeerRecord> PeerStore::removeFirst(
    const std::function<bool(const PeerRecord&)>& predicate) const {
  PeerBook book = loadBook();
  auto found = std::find_if(book.peers.begin(), book.peers.end(), predicate);
  if (found == book.peers.end()) return std::nullopt;
  PeerRecord removed = *found;
  book.peers.erase(found);
  writeBook(book);
  return removed;
}

std::optional<PeerRecord> PeerStore::mostRecent() const {
  PeerBook book = loadBook();
  // max_element keeps the first of equal elements.
  auto latest = std::max_element(book.peers.begin(), book.peers.end(),
                                 [](const PeerRecord& a, const PeerRecord& b) {
                                   return a.paired_at_epoch_ms < b.paired_at_epoch_ms;
                                 });
  if (latest == book.peers.end()) return std::nullopt;
  return *latest;
}

std::optional<PeerRecord> PeerStore::resolve(std::string_view selector) const {
  PeerBook book = loadBook();
  const std::string wanted = lowercased(selector);

  std::vector<const PeerRecord*> byName;
  for (const PeerRecord& record : book.peers) {
    std::string name = lowercased(record.peer_hostname);
    if (name == wanted) return record;
    if (name.starts_with(wanted)) byName.push_back(&record);
  }
  if (byName.size() == 1) return *byName.front();
  if (byName.size() > 1) {
    throw PeerStoreError::decode("selector '" + std::string(selector) +
                                 "' is ambiguous (matches: " + joinedNames(byName) + ")");
  }

  std::vector<const PeerRecord*> byKey;
  for (const PeerRecord& record : book.peers) {
    if (lowercased(record.peer_pubkey).starts_with(wanted)) byKey.push_back(&record);
  }
  if (byKey.empty()) return std::nullopt;
  if (byKey.size() == 1) return *byKey.front();
  throw PeerStoreError::decode("selector '" + std::string(selector) +
                               "' is ambiguous on pubkey prefix");
}

void PeerStore::wipe() const {
  if (::unlink(fileURL_.c_str()) != 0 && errno != ENOENT) {
    throw file_io::FileError(file_io::describe(fileURL_, errno));
  }
}

}  // namespace ferrytide
