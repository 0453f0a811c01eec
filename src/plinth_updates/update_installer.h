#pragma once

// The last steps of an update: checking the downloaded archive and putting it in place of a
// self-contained install. A copy that the system's package manager installed is updated by the
// package manager, never here.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "core/support/error.h"

namespace plinth {

class UpdateInstallError : public ferrytide::Error {
 public:
  enum class Kind {
    lengthMismatch,
    signatureMissing,
    signatureInvalid,
    archiveUnreadable,
    notAnInstall,
    cannotWrite
  };

  // "the update is N bytes, the feed says M"
  static UpdateInstallError lengthMismatch(std::uint64_t actual, std::uint64_t announced);
  static UpdateInstallError signatureMissing();  // "the update has no signature"
  static UpdateInstallError signatureInvalid();  // "the update's signature does not match"
  // "the update archive cannot be read: " + reason
  static UpdateInstallError archiveUnreadable(const std::string& reason);
  static UpdateInstallError notAnInstall();  // "the update archive does not hold Ferrytide"
  // "cannot install the update: " + reason (the system's, with the path it concerns)
  static UpdateInstallError cannotWrite(const std::string& reason);

  Kind kind() const { return kind_; }

 private:
  UpdateInstallError(Kind kind, std::string description)
      : ferrytide::Error(std::move(description)), kind_(kind) {}
  Kind kind_;
};

enum class InstallKind { selfContained, packageManager };

struct InstallLocation {
  InstallKind kind = InstallKind::packageManager;
  std::filesystem::path root;        // the folder an update replaces (self-contained only)
  std::filesystem::path executable;  // the running program

  // A self-contained install is a folder holding the marker file "ferrytide.portable" and the
  // program at bin/ferrytide, whose parent folder the user can write (so the swap can rename it).
  // Anything else (say /usr/bin/ferrytide from a package) is the package manager's.
  static InstallLocation detect(const std::filesystem::path& executable);
};

// Checks the downloaded archive before anything is unpacked: its size equals expectedLength (a
// length of 0 counts as a mismatch), then the Ed25519 signature (Base64 of 64 bytes) over the whole
// file verifies with publicKeyBase64 (Base64 of 32 bytes). Throws UpdateInstallError.
void verifyDownload(const std::filesystem::path& archive, std::uint64_t expectedLength,
                    std::string_view edSignatureBase64, std::string_view publicKeyBase64);

// Unpacks the (verified) archive (tar.gz, tar.xz or zip) into a new hidden folder beside
// location.root, checks that it holds ferrytide.portable and an executable bin/ferrytide, then
// swaps it with root in one step (two renames, with the old folder put back on failure, where
// the file system cannot exchange folders) and removes the old copy. The archive may hold the
// folder's contents at its top or inside one top-level folder. On any failure the current install
// is untouched and the new folder is removed. Returns the path of the new program
// (root/bin/ferrytide). Throws UpdateInstallError.
std::filesystem::path installArchive(const std::filesystem::path& archive,
                                     const InstallLocation& location);

}  // namespace plinth
