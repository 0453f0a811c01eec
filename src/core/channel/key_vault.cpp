#include "core/channel/key_vault.h"

#include <cerrno>

#include "core/support/file_io.h"
#include "core/support/paths.h"

namespace ferrytide {

KeyVault::Error KeyVault::Error::createDirectory(const std::string& text) {
  return Error(Kind::createDirectory, "could not create vault directory: " + text);
}
KeyVault::Error KeyVault::Error::write(const std::string& text) {
  return Error(Kind::write, "vault write failed: " + text);
}
KeyVault::Error KeyVault::Error::read(const std::string& text) {
  return Error(Kind::read, "vault read failed: " + text);
}
KeyVault::Error KeyVault::Error::malformedKeyMaterial(std::size_t length) {
  return Error(Kind::malformedKeyMaterial,
               "stored key has wrong length " + std::to_string(length) + " (want 32)", length);
}

KeyVault::KeyVault(std::optional<std::filesystem::path> directoryURL,
                   std::optional<std::string> fileName)
    : directoryURL_(directoryURL ? *directoryURL
                                 : paths::dataHome() / std::string(defaultDirectoryName)),
      fileURL_(directoryURL_ / (fileName ? *fileName : std::string(defaultFileName))) {}

crypto::X25519PrivateKey KeyVault::loadOrCreate() const {
  if (auto key = load()) return *key;
  return store(crypto::X25519PrivateKey::generate());
}

std::optional<crypto::X25519PrivateKey> KeyVault::load() const {
  std::optional<Bytes> content;
  try {
    content = file_io::readIfExists(fileURL_);
  } catch (const file_io::FileError& error) {
    throw Error::read(error.description());
  }
  if (!content) return std::nullopt;
  std::size_t length = content->size();
  if (length != crypto::kKeyBytes) {
    crypto::wipe(*content);
    throw Error::malformedKeyMaterial(length);
  }
  auto key = crypto::X25519PrivateKey::fromRaw(*content);
  crypto::wipe(*content);
  return key;
}

crypto::X25519PrivateKey KeyVault::store(const crypto::X25519PrivateKey& key) const {
  try {
    file_io::createDirectories(directoryURL_, 0700);
  } catch (const file_io::FileError& error) {
    throw Error::createDirectory(error.description());
  }
  bool stored = false;
  try {
    crypto::SecretKey raw = key.rawRepresentation();
    stored = file_io::writeAtomicallyIfAbsent(fileURL_, raw.view(), 0600);
  } catch (const file_io::FileError& error) {
    throw Error::write(error.description());
  }
  if (stored) return key;
  // Another process (the tray application and the command line start together) stored its
  // key first; that one is the identity now.
  auto existing = load();
  if (!existing) throw Error::read(file_io::describe(fileURL_, ENOENT));
  return *existing;
}

void KeyVault::wipe() const {
  std::error_code ec;
  std::filesystem::remove(fileURL_, ec);
  if (ec) throw Error::write(fileURL_.string() + ": " + ec.message());
}

}  // namespace ferrytide
