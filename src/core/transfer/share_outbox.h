#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/peers/peer_record.h"
#include "core/support/error.h"
#include "core/support/json.h"

namespace ferrytide {

class ShareOutboxError : public Error {
 public:
  enum class Kind {
    noContainer,
    manifestRead,
    manifestDecode,
    notShareable,
    nothingToShare,
    jobWrite
  };

  static ShareOutboxError noContainer();                            // "no app-group container"
  static ShareOutboxError manifestRead(const std::string& text);    // "manifest read failed: "
  static ShareOutboxError manifestDecode(const std::string& text);  // "manifest decode failed: "
  // "cannot share " + path + ": " + reason
  static ShareOutboxError notShareable(const std::filesystem::path& path,
                                       const std::string& reason);
  static ShareOutboxError nothingToShare();                   // "no files to share"
  static ShareOutboxError jobWrite(const std::string& text);  // "outbox write failed: "

  Kind kind() const { return kind_; }

 private:
  ShareOutboxError(Kind kind, std::string description)
      : Error(std::move(description)), kind_(kind) {}
  Kind kind_;
};

// The folder shared between the application and whatever shares files into it (the command
// line's `share`, file-manager actions): the app-group container.
//
//   <container>/peers.json                    the phones a sharer may offer
//   <container>/Outbox/<job>/manifest.json    one share job, written last
//   <container>/Outbox/<job>/<files>          the job's copies of the shared files
//   <container>/Outbox/.pending               touched after a job is written; the watcher
//                                             watches Outbox/ for it
//
// A job folder is any name in Outbox that does not start with "."; hidden entries and plain
// files there are not jobs. The reader takes a job only once its manifest exists.
class ShareOutbox {
 public:
  static constexpr std::string_view appGroupID = "group.com.quenfold.ferrytide";
  static constexpr std::string_view pendingNotification = "com.quenfold.ferrytide.share-pending";
  static constexpr std::string_view manifestName = "manifest.json";
  static constexpr std::string_view outboxName = "Outbox";
  static constexpr std::string_view peersFileName = "peers.json";
  static constexpr std::string_view pendingMarkerName = ".pending";
  static constexpr std::string_view keptFolderName = ".kept";
  static constexpr std::size_t keptJobsLimit = 20;
  // A manifest lists file names; anything larger is not one of ours.
  static constexpr std::uintmax_t maxManifestBytes = 1024 * 1024;

  // A phone a sharer may offer.
  //
  //   {"hostname":"Pixel 8","pubkey":"q83vEjRWeJCrze8SNFZ4kKvN7xI0VniQq83vEjRWeJA=",
  //    "subtitle":"Android 14"}
  struct SharePeer {
    std::string hostname;  // the name the user gave the phone, else its own name
    std::string pubkey;    // its "peer_pubkey"
    std::string subtitle;  // "Android " + "peer_android", else "peer_ip", else empty

    // `displayName` empty: the record's "peer_hostname".
    static SharePeer fromPeer(const PeerRecord& record, std::string_view displayName = {});

    json::Value toJson() const;
    // All three keys are required strings; throws json::DecodeError.
    static SharePeer fromJson(const json::Value& value);

    bool operator==(const SharePeer&) const = default;
  };

  // One share job.
  //
  //   {"createdAtMs":1733480000000,"files":["report.pdf","2/report.pdf"],
  //    "id":"3F2504E0-4F89-41D3-9A0C-0305E82C3301","targetPubkeys":["q83v...="]}
  struct Manifest {
    std::string id;
    std::int64_t createdAtMs = 0;
    std::vector<std::string> files;  // relative to the job folder, in sending order
    // Absent (or empty): the default phone. Absent is left out of the JSON.
    std::optional<std::vector<std::string>> targetPubkeys;

    json::Value toJson() const;
    // Throws json::DecodeError, also for a file name that is absolute, empty, or has an
    // empty, "." or ".." component: every file must lie inside the job folder.
    static Manifest fromJson(const json::Value& value);

    bool operator==(const Manifest&) const = default;
  };

  // The container in the user's data folder.
  ShareOutbox();
  // Another container; none makes every operation a no-op (jobs cannot be written).
  explicit ShareOutbox(std::optional<std::filesystem::path> container);

  const std::optional<std::filesystem::path>& container() const { return container_; }
  std::optional<std::filesystem::path> outboxRoot() const;
  std::optional<std::filesystem::path> peersFileURL() const;

  // Replaces peers.json atomically (compact JSON array). Best effort: failures are logged.
  void writePeers(const std::vector<SharePeer>& peers) const;
  // Empty when there is no container or no file, or the file is not an array of peers.
  std::vector<SharePeer> readPeers() const;

  // The job folders ready to read, sorted by name: real folders (not links) in Outbox with
  // a manifest, hidden ones skipped. Empty when the outbox cannot be listed.
  std::vector<std::filesystem::path> pendingJobs() const;
  // Throws ShareOutboxError (manifestRead, manifestDecode).
  Manifest readManifest(const std::filesystem::path& jobFolder) const;
  // The job's files that exist as regular files, in the manifest's order; missing entries,
  // links and unsafe names are skipped.
  std::vector<std::filesystem::path> jobFiles(const std::filesystem::path& jobFolder,
                                              const Manifest& manifest) const;
  // Takes the job out of the outbox for good: it is first renamed to a hidden name, so that
  // even a folder that cannot be deleted entirely is never taken (and sent) again. Only
  // folders directly inside Outbox are touched. True when the job is out of the scan.
  bool removeJob(const std::filesystem::path& jobFolder) const;
  // Takes the job out of the scan but keeps it, as Outbox/.kept/<job>, for a job that could
  // not be sent for a reason the user has to look at. Only the newest `keptJobsLimit` kept
  // jobs stay. The kept folder, or nothing when the job could not be moved (it is then
  // removed, so that it is not taken again).
  std::optional<std::filesystem::path> keepAside(const std::filesystem::path& jobFolder) const;

  // Lays down a job as a sharer does: a new job folder, a copy of each file (keeping its
  // name and modification time; a second file of the same name goes into a numbered
  // sub-folder, "2/report.pdf"), then the manifest last. `targetPubkeys` empty: the default
  // phone. Every file is checked before anything is written; a failure removes the partial
  // job. Returns the job folder. Does not post; call postPending() afterwards. Throws
  // ShareOutboxError.
  std::filesystem::path writeJob(const std::vector<std::filesystem::path>& files,
                                 const std::vector<std::string>& targetPubkeys = {}) const;

  // Tells the watcher that a job is waiting: creates or touches Outbox/.pending. Best
  // effort: failures are logged.
  void postPending() const;

 private:
  static void pruneKeptJobs(const std::filesystem::path& kept);

  std::optional<std::filesystem::path> container_;
};

}  // namespace ferrytide
