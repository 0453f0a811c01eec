#include "core/channel/key_vault.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <future>
#include <thread>
#include <vector>

#include "core/support/file_io.h"
#include "support/temp_dir.h"

namespace ferrytide {
namespace {

using testing::TempDir;

mode_t permissionsOf(const std::filesystem::path& path) {
  struct stat info {};
  EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
  return info.st_mode & 0777;
}

void writeBytes(const std::filesystem::path& path, std::size_t count) {
  std::ofstream(path, std::ios::binary) << std::string(count, '\x5a');
}

TEST(KeyVaultTest, CreatesPrivateFolderAndFileOnceThenReturnsTheSameKey) {
  TempDir temp;
  KeyVault vault(temp / "state" / "Ferrytide");

  auto first = vault.loadOrCreate();
  EXPECT_EQ(permissionsOf(vault.directoryURL()), 0700u);
  EXPECT_EQ(permissionsOf(vault.fileURL()), 0600u);
  EXPECT_EQ(std::filesystem::file_size(vault.fileURL()), 32u);
  EXPECT_EQ(vault.fileURL().filename(), "noise_static.bin");

  auto second = KeyVault(temp / "state" / "Ferrytide").loadOrCreate();
  EXPECT_EQ(first.publicKey(), second.publicKey());
  EXPECT_EQ(toHex(first.rawRepresentation().view()), toHex(second.rawRepresentation().view()));
}

TEST(KeyVaultTest, KeyFileOfWrongLengthFailsAndIsLeftUntouched) {
  for (std::size_t length : {0u, 31u, 33u}) {
    TempDir temp;
    KeyVault vault(temp.path());
    writeBytes(vault.fileURL(), length);
    try {
      vault.loadOrCreate();
      ADD_FAILURE() << "length " << length << " was accepted";
    } catch (const KeyVault::Error& error) {
      EXPECT_EQ(error.kind(), KeyVault::Error::Kind::malformedKeyMaterial);
      EXPECT_EQ(error.length(), length);
      EXPECT_STREQ(error.what(),
                   ("stored key has wrong length " + std::to_string(length) + " (want 32)").c_str());
    }
    EXPECT_EQ(std::filesystem::file_size(vault.fileURL()), length);
  }
}

TEST(KeyVaultTest, WipeWithoutFileSucceedsAndAfterWipeANewKeyIsMade) {
  TempDir temp;
  KeyVault vault(temp.path());
  EXPECT_NO_THROW(vault.wipe());
  auto before = vault.loadOrCreate();
  vault.wipe();
  EXPECT_FALSE(std::filesystem::exists(vault.fileURL()));
  auto after = vault.loadOrCreate();
  EXPECT_FALSE(before.publicKey() == after.publicKey());
}

TEST(KeyVaultTest, DefaultFolderFollowsXdgDataHome) {
  TempDir temp;
  testing::ScopedEnv dataHome("XDG_DATA_HOME", temp.path());
  KeyVault vault;
  EXPECT_EQ(vault.fileURL(), temp.path() / "Ferrytide" / "noise_static.bin");
}

TEST(KeyVaultTest, FolderThatCannotBeMadeReportsCreateDirectory) {
  // /proc refuses new folders even to root, so this holds wherever the tests run.
  try {
    KeyVault(std::filesystem::path("/proc/ferrytide-no-such-folder")).loadOrCreate();
    ADD_FAILURE() << "no error";
  } catch (const KeyVault::Error& error) {
    EXPECT_EQ(error.kind(), KeyVault::Error::Kind::createDirectory);
    EXPECT_EQ(std::string(error.what()).rfind("could not create vault directory: ", 0), 0u);
  }
}

TEST(KeyVaultTest, UnreadableLocationFailsWithoutTouchingIt) {
  TempDir temp;
  writeBytes(temp / "Ferrytide", 3);
  try {
    KeyVault(temp / "Ferrytide").loadOrCreate();
    ADD_FAILURE() << "no error";
  } catch (const KeyVault::Error& error) {
    // "Ferrytide" is a file, so "Ferrytide/noise_static.bin" cannot even be looked at.
    EXPECT_EQ(error.kind(), KeyVault::Error::Kind::read);
    EXPECT_EQ(std::string(error.what()).rfind("vault read failed: ", 0), 0u);
  }
  EXPECT_EQ(std::filesystem::file_size(temp / "Ferrytide"), 3u);
}

// The command line and the tray application may both start before any key exists; they must
// end up with one identity, not each with a key of its own.
TEST(KeyVaultTest, ConcurrentFirstUseAgreesOnOneKey) {
  TempDir temp;
  constexpr int kContenders = 8;
  std::promise<void> start;
  std::shared_future<void> go = start.get_future().share();
  std::vector<std::future<crypto::X25519PublicKey>> results;
  for (int i = 0; i < kContenders; ++i) {
    results.push_back(std::async(std::launch::async, [&, go] {
      go.wait();
      return KeyVault(temp.path()).loadOrCreate().publicKey();
    }));
  }
  start.set_value();
  auto stored = KeyVault(temp.path());
  std::vector<crypto::X25519PublicKey> keys;
  for (auto& result : results) keys.push_back(result.get());
  auto onDisk = stored.loadOrCreate().publicKey();
  for (const auto& key : keys) EXPECT_EQ(key, onDisk);
}

}  // namespace
}  // namespace ferrytide
