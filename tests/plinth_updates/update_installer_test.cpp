#include "plinth_updates/update_installer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "plinth_updates/signing_key.h"
#include "plinth_updates/test_archive.h"
#include "support/temp_dir.h"

namespace plinth {
namespace {

namespace fs = std::filesystem;
using ferrytide::testing::readText;
using ferrytide::testing::TempDir;
using ferrytide::testing::writeText;
using Kind = UpdateInstallError::Kind;
using namespace plinth::testing;

std::vector<Entry> newRelease(const std::string& top = "") {
  return {file(top + "ferrytide.portable", ""), folder(top + "bin"),
          file(top + "bin/ferrytide", "new program", 0755), file(top + "new.txt", "new")};
}

fs::path makeInstall(const fs::path& parent) {
  fs::path root = parent / "Ferrytide";
  writeText(root / "ferrytide.portable", "");
  writeText(root / "bin/ferrytide", "old program");
  fs::permissions(root / "bin/ferrytide", fs::perms::owner_all);
  writeText(root / "old.txt", "old");
  return root;
}

InstallLocation portableAt(const fs::path& root) {
  return {InstallKind::selfContained, root, root / "bin/ferrytide"};
}

// Every path under `root` with its type, permissions and content.
std::map<std::string, std::string> snapshot(const fs::path& root) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    auto status = fs::symlink_status(entry.path());
    std::string shape = std::to_string(static_cast<int>(status.type())) + ":" +
                        std::to_string(static_cast<int>(status.permissions())) + ":";
    files[fs::relative(entry.path(), root).string()] =
        shape + (fs::is_regular_file(status) ? readText(entry.path()) : "");
  }
  return files;
}

// The kind and description of the UpdateInstallError that `action` throws.
std::pair<Kind, std::string> failureOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const UpdateInstallError& error) {
    return {error.kind(), error.what()};
  }
  ADD_FAILURE() << "no UpdateInstallError";
  return {};
}

TEST(UpdateInstallerTest, VerifyAcceptsOnlyTheSignedFileOfTheAnnouncedLength) {
  TempDir dir;
  fs::path archive = dir / "update.tar.gz";
  writeArchive(archive, Format::tarGz, newRelease());
  std::string bytes = readText(archive);
  std::uint64_t size = bytes.size();
  testing::SigningKey key;
  testing::SigningKey otherKey;
  std::string signature = key.signBase64(ferrytide::asBytes(bytes));
  std::string publicKey = key.publicKeyBase64();

  EXPECT_NO_THROW(verifyDownload(archive, size, signature, publicKey));

  auto [kind, text] = failureOf([&] { verifyDownload(archive, size + 1, signature, publicKey); });
  EXPECT_EQ(kind, Kind::lengthMismatch);
  EXPECT_EQ(text, "the update is " + std::to_string(size) + " bytes, the feed says " +
                      std::to_string(size + 1));
  EXPECT_EQ(failureOf([&] { verifyDownload(archive, 0, signature, publicKey); }).first,
            Kind::lengthMismatch);
  EXPECT_EQ(failureOf([&] { verifyDownload(archive, size, "", publicKey); }),
            std::make_pair(Kind::signatureMissing, std::string("the update has no signature")));

  const std::pair<Kind, std::string> mismatch{Kind::signatureInvalid,
                                              "the update's signature does not match"};
  std::string foreignSignature = otherKey.signBase64(ferrytide::asBytes(bytes));
  EXPECT_EQ(failureOf([&] { verifyDownload(archive, size, foreignSignature, publicKey); }),
            mismatch);
  EXPECT_EQ(failureOf([&] { verifyDownload(archive, size, "not*base64", publicKey); }), mismatch);
  EXPECT_EQ(failureOf([&] { verifyDownload(archive, size, signature, "AAAA"); }), mismatch);
  EXPECT_EQ(
      failureOf([&] { verifyDownload(archive, size, signature, otherKey.publicKeyBase64()); }),
      mismatch);

  std::string flipped = bytes;
  flipped[flipped.size() / 2] ^= 0x01;
  writeText(archive, flipped);
  EXPECT_EQ(failureOf([&] { verifyDownload(archive, size, signature, publicKey); }), mismatch);

  EXPECT_EQ(failureOf([&] { verifyDownload(dir / "absent", size, signature, publicKey); }).first,
            Kind::archiveUnreadable);
}

TEST(UpdateInstallerTest, InstallSwapsTheFolderWhileItStaysInPlace) {
  TempDir dir;
  fs::path root = makeInstall(dir / "apps");
  fs::path archive = dir / "update.tar.gz";
  writeArchive(archive, Format::tarGz, newRelease());

  std::atomic<bool> done = false;
  std::atomic<int> missing = 0;
  std::thread watcher([&] {
    while (!done) {
      if (::access((root / "ferrytide.portable").c_str(), F_OK) != 0) ++missing;
    }
  });
  fs::path program;
  EXPECT_NO_THROW(program = installArchive(archive, portableAt(root)));
  done = true;
  watcher.join();

  EXPECT_EQ(missing, 0);
  EXPECT_EQ(program, root / "bin/ferrytide");
  EXPECT_EQ(readText(program), "new program");
  EXPECT_EQ(::access(program.c_str(), X_OK), 0);
  EXPECT_EQ(readText(root / "new.txt"), "new");
  EXPECT_FALSE(fs::exists(root / "old.txt"));
  EXPECT_EQ(ferrytide::testing::entriesIn(dir / "apps"), 1u) << "the old copy is removed";
}

TEST(UpdateInstallerTest, InstallAcceptsTheReleaseInsideOneTopFolder) {
  for (auto [format, name] :
       {std::pair{Format::zip, "update.zip"}, std::pair{Format::tarXz, "update.tar.xz"}}) {
    SCOPED_TRACE(name);
    TempDir dir;
    fs::path root = makeInstall(dir / "apps");
    fs::path archive = dir / name;
    std::vector<Entry> entries = newRelease("Ferrytide-2.0/");
    entries.insert(entries.begin(), folder("Ferrytide-2.0"));
    writeArchive(archive, format, entries);

    EXPECT_NO_THROW(installArchive(archive, portableAt(root)));
    EXPECT_EQ(readText(root / "bin/ferrytide"), "new program");
    EXPECT_TRUE(fs::exists(root / "new.txt"));
    EXPECT_FALSE(fs::exists(root / "Ferrytide-2.0"));
    EXPECT_FALSE(fs::exists(root / "old.txt"));
    EXPECT_EQ(ferrytide::testing::entriesIn(dir / "apps"), 1u);
  }
}

TEST(UpdateInstallerTest, RefusedArchiveLeavesTheInstallAsItWas) {
  TempDir dir;
  fs::path outside = dir / "outside";
  fs::create_directories(outside);
  auto releaseWith = [](std::vector<Entry> extra) {
    std::vector<Entry> entries = newRelease();
    entries.insert(entries.end(), extra.begin(), extra.end());
    return entries;
  };
  std::vector<Entry> withoutMarker = newRelease();
  withoutMarker.erase(withoutMarker.begin());
  std::vector<Entry> notExecutable = newRelease();
  notExecutable[2].perm = 0644;
  struct Case {
    const char* name;
    std::vector<Entry> entries;
    Kind expected;
  };
  const std::vector<Case> cases = {
      {"no marker", withoutMarker, Kind::notAnInstall},
      {"program not executable", notExecutable, Kind::notAnInstall},
      {"dot-dot", releaseWith({file("../escape", "x")}), Kind::archiveUnreadable},
      {"absolute", releaseWith({file((outside / "absolute").string(), "x")}),
       Kind::archiveUnreadable},
      {"through a link", releaseWith({link("link", outside.string()), file("link/through", "x")}),
       Kind::archiveUnreadable},
      {"device", releaseWith({device("tty")}), Kind::archiveUnreadable},
  };
  fs::path root = makeInstall(dir / "apps");
  const auto before = snapshot(root);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::path archive = dir / "update.tar.gz";
    writeArchive(archive, Format::tarGz, c.entries);
    EXPECT_EQ(failureOf([&] { installArchive(archive, portableAt(root)); }).first, c.expected);
    EXPECT_EQ(snapshot(root), before);
    EXPECT_EQ(ferrytide::testing::entriesIn(dir / "apps"), 1u) << "no folder is left behind";
    EXPECT_EQ(ferrytide::testing::entriesIn(outside), 0u);
    EXPECT_FALSE(fs::exists(dir / "escape"));
  }

  fs::path truncated = dir / "truncated.tar.gz";
  writeArchive(truncated, Format::tarGz, releaseWith({file("big", std::string(200000, 'x'))}));
  std::string whole = readText(truncated);
  writeText(truncated, whole.substr(0, whole.size() / 2));
  auto [kind, text] = failureOf([&] { installArchive(truncated, portableAt(root)); });
  EXPECT_EQ(kind, Kind::archiveUnreadable);
  EXPECT_EQ(text.rfind("the update archive cannot be read: ", 0), 0u) << text;
  EXPECT_EQ(snapshot(root), before);
  EXPECT_EQ(ferrytide::testing::entriesIn(dir / "apps"), 1u);

  InstallLocation packaged{InstallKind::packageManager, {}, "/usr/bin/ferrytide"};
  EXPECT_EQ(failureOf([&] { installArchive(truncated, packaged); }).first, Kind::cannotWrite);
}

TEST(UpdateInstallerTest, DetectTellsAPortableFolderFromAnyOtherInstall) {
  TempDir dir;
  fs::path root = makeInstall(dir / "apps");
  InstallLocation portable = InstallLocation::detect(root / "bin/ferrytide");
  EXPECT_EQ(portable.kind, InstallKind::selfContained);
  EXPECT_EQ(portable.root, fs::canonical(root));
  EXPECT_EQ(portable.executable, root / "bin/ferrytide");

  fs::remove(root / "ferrytide.portable");
  EXPECT_EQ(InstallLocation::detect(root / "bin/ferrytide").kind, InstallKind::packageManager);
  EXPECT_TRUE(InstallLocation::detect(root / "bin/ferrytide").root.empty());
  EXPECT_EQ(InstallLocation::detect(dir / "nowhere/bin/ferrytide").kind,
            InstallKind::packageManager);
}

TEST(UpdateInstallerTest, DetectNeedsAWritableParentFolder) {
  if (::geteuid() == 0) GTEST_SKIP() << "every folder is writable for root";
  TempDir dir;
  fs::path root = makeInstall(dir / "apps");
  fs::permissions(dir / "apps", fs::perms::owner_read | fs::perms::owner_exec);
  EXPECT_EQ(InstallLocation::detect(root / "bin/ferrytide").kind, InstallKind::packageManager);
  fs::permissions(dir / "apps", fs::perms::owner_all);
}

}  // namespace
}  // namespace plinth
