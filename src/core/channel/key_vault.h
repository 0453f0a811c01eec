#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "core/support/crypto.h"
#include "core/support/error.h"

namespace ferrytide {

// This computer's long-term X25519 identity: 32 raw private-key bytes in "noise_static.bin",
// in a folder only the owner may enter. Made on first use, then the same key on every run.
// A damaged key file is never replaced: losing it would lose every pairing.
class KeyVault {
 public:
  static constexpr std::string_view defaultDirectoryName = "Ferrytide";
  static constexpr std::string_view defaultFileName = "noise_static.bin";

  class Error : public ferrytide::Error {
   public:
    enum class Kind { createDirectory, write, read, malformedKeyMaterial };

    static Error createDirectory(const std::string& text);
    static Error write(const std::string& text);
    static Error read(const std::string& text);
    static Error malformedKeyMaterial(std::size_t length);

    Kind kind() const { return kind_; }
    // The stored file's length, for malformedKeyMaterial.
    std::size_t length() const { return length_; }

   private:
    Error(Kind kind, std::string description, std::size_t length = 0)
        : ferrytide::Error(std::move(description)), kind_(kind), length_(length) {}
    Kind kind_;
    std::size_t length_;
  };

  // Absent folder: the application data folder; absent name: "noise_static.bin".
  explicit KeyVault(std::optional<std::filesystem::path> directoryURL = std::nullopt,
                    std::optional<std::string> fileName = std::nullopt);

  const std::filesystem::path& directoryURL() const { return directoryURL_; }
  const std::filesystem::path& fileURL() const { return fileURL_; }

  crypto::X25519PrivateKey loadOrCreate() const;
  // Removes the key file; nothing to do when there is none.
  void wipe() const;

 private:
  std::optional<crypto::X25519PrivateKey> load() const;
  // Stores `key` unless another process stored one first; returns the key that is stored.
  crypto::X25519PrivateKey store(const crypto::X25519PrivateKey& key) const;

  std::filesystem::path directoryURL_;
  std::filesystem::path fileURL_;
};

}  // namespace ferrytide
