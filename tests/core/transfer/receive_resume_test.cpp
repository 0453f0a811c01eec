// Interrupted transfers resume where they stopped: a phone cut off at many points, and a disk
// that fills up, end with the file byte for byte and nothing left over.

#include <gtest/gtest.h>
#include <sys/mount.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <numeric>

#include "core/support/crypto.h"
#include "core/transfer/partial_meta.h"
#include "core/transfer/receive_transfer.h"
#include "support/receive_session.h"
#include "support/temp_dir.h"
#include "support/test_phone.h"

namespace ferrytide {
namespace {

using testing::folderListing;
using testing::readFileBytes;
using testing::runOneShotSession;
using testing::SessionOutcome;
using testing::TempDir;
using testing::TestPhone;
using Endpoint = asio::ip::tcp::endpoint;
using Task = asio::awaitable<void>;

std::string digestOf(ByteView bytes) { return toHex(crypto::sha256(bytes)); }

// True when `partial` holds the first bytes of `content`, no more.
bool isPrefixOf(const Bytes& partial, const Bytes& content) {
  return partial.size() <= content.size() &&
         std::equal(partial.begin(), partial.end(), content.begin());
}

// ---- A phone cut off at many points

enum class Stage {
  afterConnect,    // TCP only
  midHandshake,    // message 1 sent
  afterHandshake,  // no offer
  afterOffer,      // offer sent, Resume not read
  afterResume,     // no chunk
  inChunks,        // `wireBytes` of chunk frames on the wire, counted from the accepted offset
  beforeDone,      // every chunk sent, no Done
  insideDone,      // a few bytes of the Done frame
  complete,
};

struct Cut {
  const char* label;
  Stage stage;
  std::size_t wireBytes = 0;
};

// Frame sizes the phone cycles through: large, tiny, empty and odd ones.
constexpr std::array<std::size_t, 8> kFrameSizes = {65'536, 1,       0,         4'097,
                                                    17,     300'000, 1'048'576, 1'048'571};

// Wire bytes of the first `frames` frames of a session.
std::size_t boundary(std::size_t frames) {
  std::size_t bytes = 0;
  for (std::size_t i = 0; i < frames; ++i) bytes += TestPhone::chunkWireBytes(kFrameSizes[i]);
  return bytes;
}

// The content bytes of the frames that arrive whole within `wireLimit`.
std::size_t wholeFrameBytes(std::size_t remaining, std::size_t wireLimit) {
  std::size_t bytes = 0;
  std::size_t onWire = 0;
  for (std::size_t frame = 0; bytes < remaining; ++frame) {
    const std::size_t size = std::min(kFrameSizes[frame % kFrameSizes.size()], remaining - bytes);
    onWire += TestPhone::chunkWireBytes(size);
    if (onWire > wireLimit) break;
    bytes += size;
  }
  return bytes;
}

class InterruptedTransferTest : public ::testing::Test {
 protected:
  // What the phone saw in one session.
  struct PhoneView {
    std::optional<msg::Resume> resume;
    bool cutInsideContent = false;
  };

  SessionOutcome runCut(const Cut& cut, PhoneView& seen) {
    auto options = testing::loopbackReceiveOptions(computerKey, phoneKey.publicKey(), save);
    return runOneShotSession(std::move(options), [&](Endpoint endpoint) -> Task {
      TestPhone phone(phoneKey);
      co_await phone.connect(endpoint);
      if (cut.stage != Stage::afterConnect) co_await phone.sendHandshakeMessage1();
      if (cut.stage > Stage::midHandshake) co_await phone.handshake();
      const msg::FileOffer offer{"big.bin", static_cast<std::int64_t>(content.size()),
                                 "application/octet-stream", "T-big"};
      if (cut.stage == Stage::afterOffer) {
        const TransportMessage message = offer;
        co_await phone.send(message);
      } else if (cut.stage > Stage::afterOffer) {
        seen.resume = co_await phone.offer(offer);
      }
      if (cut.stage >= Stage::inChunks) {
        std::optional<std::size_t> limit;
        if (cut.stage == Stage::inChunks) limit = cut.wireBytes;
        const bool all =
            co_await phone.stream(content, seen.resume->accepted_offset, kFrameSizes, limit);
        seen.cutInsideContent = !all;
      }
      const TransportMessage done = msg::Done{};
      if (cut.stage == Stage::insideDone) co_await phone.sendMessageCut(done, 9);
      if (cut.stage == Stage::complete) co_await phone.send(done);
      co_await phone.hangUp();
    });
  }

  std::int64_t partialLength() const {
    return static_cast<std::int64_t>(readFileBytes(partial).value_or(Bytes{}).size());
  }

  crypto::X25519PrivateKey computerKey = crypto::X25519PrivateKey::generate();
  crypto::X25519PrivateKey phoneKey = crypto::X25519PrivateKey::generate();
  TempDir root;
  std::filesystem::path save = root / "Downloads";
  std::filesystem::path partial = save / "big.bin.partial";
  Bytes content = testing::patternBytes(8 * 1'048'576 + 12'345);
};

TEST_F(InterruptedTransferTest, PhoneCutOffAnywhereResumesToAByteIdenticalFile) {
  const Cut cuts[] = {
      {"after connecting", Stage::afterConnect},
      {"inside the handshake", Stage::midHandshake},
      {"after the handshake", Stage::afterHandshake},
      {"after the offer, before Resume", Stage::afterOffer},
      {"right after Resume", Stage::afterResume},
      {"inside the first length prefix", Stage::inChunks, 1},
      {"after the first length prefix", Stage::inChunks, 4},
      {"one byte into the first frame", Stage::inChunks, 5},
      {"inside the first frame's body", Stage::inChunks, 30'000},
      {"first frame without its last tag byte", Stage::inChunks, boundary(1) - 1},
      {"after the first frame", Stage::inChunks, boundary(1)},
      {"after a one-byte frame", Stage::inChunks, boundary(2)},
      {"after an empty frame", Stage::inChunks, boundary(3)},
      {"inside a later length prefix", Stage::inChunks, boundary(3) + 3},
      {"a frame without its tag", Stage::inChunks, boundary(4) - 16},
      {"inside a 17-byte frame", Stage::inChunks, boundary(4) + 10},
      {"inside a 300 000-byte frame", Stage::inChunks, boundary(5) + 150'000},
      {"after a 300 000-byte frame", Stage::inChunks, boundary(6)},
      {"inside a 1 MiB frame", Stage::inChunks, boundary(6) + 524'288},
      {"after a 1 MiB frame", Stage::inChunks, boundary(7)},
      {"last frame of a cycle one byte short", Stage::inChunks, boundary(8) - 1},
      {"inside the second cycle", Stage::inChunks, boundary(8) + boundary(3) + 7},
      {"every chunk sent, no Done", Stage::beforeDone},
      {"inside the Done frame", Stage::insideDone},
      {"resumed at the end, no Done", Stage::afterResume},
      {"complete", Stage::complete},
  };

  for (const auto& cut : cuts) {
    SCOPED_TRACE(cut.label);
    const std::int64_t before = partialLength();
    PhoneView seen;
    const SessionOutcome outcome = runCut(cut, seen);

    if (seen.resume) {
      EXPECT_EQ(seen.resume->transfer_id, "T-big");
      EXPECT_EQ(seen.resume->accepted_offset, before);
    }
    if (cut.stage == Stage::complete) {
      ASSERT_TRUE(outcome.file) << outcome.failureText();
      EXPECT_EQ(outcome.file->savedAt, save / "big.bin");
      EXPECT_EQ(outcome.file->resumedFromOffset, before);
      EXPECT_EQ(outcome.file->bytesWritten, static_cast<std::int64_t>(content.size()));
      EXPECT_EQ(outcome.file->bytesReceivedThisSession,
                static_cast<std::int64_t>(content.size()) - before);
      continue;
    }

    ASSERT_TRUE(outcome.failure) << "an interrupted receive must fail";
    if (cut.stage <= Stage::midHandshake) {
      EXPECT_TRUE(outcome.failedWith<ReceiveError>()) << outcome.failureText();
      EXPECT_TRUE(outcome.failureText().starts_with("noise handshake failed: "));
    } else {
      EXPECT_TRUE(outcome.failedWith<WireConnection::Error>()) << outcome.failureText();
    }
    if (cut.stage < Stage::afterOffer) {
      EXPECT_TRUE(!std::filesystem::exists(save) || folderListing(save).empty());
      continue;
    }
    // The partial holds exactly the frames that arrived whole, and its sidecar names the
    // transfer.
    const Bytes now = readFileBytes(partial).value_or(Bytes{});
    EXPECT_TRUE(isPrefixOf(now, content)) << "the partial differs from the file it is part of";
    std::int64_t expected = before;
    if (cut.stage == Stage::inChunks) {
      EXPECT_TRUE(seen.cutInsideContent) << "the cut fell after the end of the file";
      expected += static_cast<std::int64_t>(
          wholeFrameBytes(content.size() - static_cast<std::size_t>(before), cut.wireBytes));
    }
    if (cut.stage == Stage::beforeDone || cut.stage == Stage::insideDone) {
      expected = static_cast<std::int64_t>(content.size());
    }
    EXPECT_EQ(static_cast<std::int64_t>(now.size()), expected);
    const auto meta = PartialMetaIO::load(partial);
    ASSERT_TRUE(meta);
    EXPECT_EQ(meta->transferId, "T-big");
    EXPECT_EQ(meta->advertisedSize, static_cast<std::int64_t>(content.size()));
  }

  EXPECT_EQ(folderListing(save), std::set<std::string>{"big.bin"});
  EXPECT_EQ(digestOf(readFileBytes(save / "big.bin").value_or(Bytes{})), digestOf(content));
}

// A file small enough to be written without a name until it is complete is still kept for a
// resume when it is cut off: as a partial of the frames that arrived, with its sidecar.
TEST_F(InterruptedTransferTest, SmallFileCutOffIsKeptAsAPartialAndResumes) {
  content = testing::patternBytes(3 * 1'048'576 + 5);
  const std::size_t firstSix = boundary(6);
  const auto sixFrames = static_cast<std::int64_t>(
      std::accumulate(kFrameSizes.begin(), kFrameSizes.begin() + 6, std::size_t{0}));
  struct SmallCut {
    Cut cut;
    std::int64_t kept;
  };
  const SmallCut cuts[] = {
      {{"after the offer", Stage::afterOffer}, 0},
      {{"after six frames", Stage::inChunks, firstSix}, sixFrames},
      {{"inside the seventh frame", Stage::inChunks, firstSix + 1'000}, sixFrames},
      {{"every chunk sent, no Done", Stage::beforeDone}, static_cast<std::int64_t>(content.size())},
  };
  for (const auto& [cut, kept] : cuts) {
    SCOPED_TRACE(cut.label);
    std::filesystem::remove_all(save);
    PhoneView seen;
    const SessionOutcome interrupted = runCut(cut, seen);
    ASSERT_TRUE(interrupted.failure);
    EXPECT_EQ(partialLength(), kept);
    EXPECT_TRUE(isPrefixOf(readFileBytes(partial).value_or(Bytes{}), content));
    const auto meta = PartialMetaIO::load(partial);
    ASSERT_TRUE(meta);
    EXPECT_EQ(meta->transferId, "T-big");

    const SessionOutcome resumed = runCut({"complete", Stage::complete}, seen);
    ASSERT_TRUE(resumed.file) << resumed.failureText();
    EXPECT_EQ(resumed.file->resumedFromOffset, kept);
    EXPECT_EQ(folderListing(save), std::set<std::string>{"big.bin"});
    EXPECT_EQ(digestOf(readFileBytes(save / "big.bin").value_or(Bytes{})), digestOf(content));
  }
}

// ---- A full disk

// A tmpfs of a given size over a folder, unmounted again at the end. Needs root.
class SmallDisk {
 public:
  explicit SmallDisk(std::filesystem::path dir) : dir_(std::move(dir)) {
    std::filesystem::create_directories(dir_);
  }
  ~SmallDisk() {
    if (mounted_) ::umount2(dir_.c_str(), MNT_DETACH);
  }
  // 0 on success, else errno.
  int mount(const std::string& size) {
    const std::string data = "size=" + size;
    const unsigned long flags = mounted_ ? MS_REMOUNT : 0;
    if (::mount("tmpfs", dir_.c_str(), "tmpfs", flags, data.c_str()) != 0) return errno;
    mounted_ = true;
    return 0;
  }
  const std::filesystem::path& dir() const { return dir_; }

 private:
  std::filesystem::path dir_;
  bool mounted_ = false;
};

class FullDiskTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const int error = disk.mount("1m"); error != 0) {
      GTEST_SKIP() << "cannot mount a 1 MiB tmpfs (" << std::strerror(error)
                   << "); the full-disk tests need root";
    }
  }

  // A phone that sends the whole file; the receiver may drop it halfway.
  SessionOutcome sendWholeFile(const std::string& name, const Bytes& bytes) {
    auto options = testing::loopbackReceiveOptions(computerKey, phoneKey.publicKey(), disk.dir());
    return runOneShotSession(std::move(options), [&](Endpoint endpoint) -> Task {
      TestPhone phone(phoneKey);
      co_await phone.connectAndHandshake(endpoint);
      const msg::FileOffer offer{name, static_cast<std::int64_t>(bytes.size()),
                                 "application/octet-stream", "T-" + name};
      try {
        co_await phone.sendFile(offer, bytes);
      } catch (const std::exception&) {
        // The receiver gave up on a full disk and closed the connection.
      }
      co_await phone.hangUp();
    });
  }

  static std::string noSpace(const std::filesystem::path& path) {
    return path.string() + ": " + std::strerror(ENOSPC);
  }

  crypto::X25519PrivateKey computerKey = crypto::X25519PrivateKey::generate();
  crypto::X25519PrivateKey phoneKey = crypto::X25519PrivateKey::generate();
  TempDir root;  // outlives the mount
  SmallDisk disk{root / "disk"};
  Bytes content = testing::patternBytes(2 * 1'048'576 + 3);
};

TEST_F(FullDiskTest, ChunkThatDoesNotFitFailsAndTheFileResumesOnceThereIsRoom) {
  const auto partial = disk.dir() / "big.bin.partial";
  const auto sidecar = disk.dir() / "big.bin.partial.meta.json";

  const auto full = sendWholeFile("big.bin", content);
  EXPECT_TRUE(full.failedWith<ReceiveError>());
  EXPECT_EQ(full.failureText(), "file write failed: " + noSpace(partial));
  const Bytes kept = readFileBytes(partial).value_or(Bytes{});
  EXPECT_GT(kept.size(), 0u);
  EXPECT_TRUE(isPrefixOf(kept, content));
  ASSERT_TRUE(PartialMetaIO::load(partial));

  // A resume while the disk is still full fails at the sidecar and changes nothing.
  const auto stillFull = sendWholeFile("big.bin", content);
  EXPECT_EQ(stillFull.failureText(), "file write failed: meta write: " + noSpace(sidecar));
  EXPECT_EQ(readFileBytes(partial).value_or(Bytes{}).size(), kept.size());
  EXPECT_EQ(PartialMetaIO::load(partial)->transferId, "T-big.bin");

  ASSERT_EQ(disk.mount("4m"), 0);
  const auto resumed = sendWholeFile("big.bin", content);
  ASSERT_TRUE(resumed.file) << resumed.failureText();
  EXPECT_EQ(resumed.file->resumedFromOffset, static_cast<std::int64_t>(kept.size()));
  EXPECT_EQ(folderListing(disk.dir()), std::set<std::string>{"big.bin"});
  EXPECT_EQ(digestOf(readFileBytes(disk.dir() / "big.bin").value_or(Bytes{})), digestOf(content));
}

TEST_F(FullDiskTest, OfferOnAFullDiskFailsWithoutLeavingAPartialThatCouldNeverResume) {
  const auto filler = disk.dir() / "filler";
  {
    const Bytes block(65'536, 0xEE);
    std::ofstream out(filler, std::ios::binary);
    while (out.write(reinterpret_cast<const char*>(block.data()), block.size())) {
      out.flush();
    }
  }
  const Bytes small = testing::patternBytes(10'000);

  const auto full = sendWholeFile("a.bin", small);
  EXPECT_EQ(full.failureText(),
            "file write failed: meta write: " + noSpace(disk.dir() / "a.bin.partial.meta.json"));
  EXPECT_EQ(folderListing(disk.dir()), std::set<std::string>{"filler"});

  std::filesystem::remove(filler);
  const auto later = sendWholeFile("a.bin", small);
  ASSERT_TRUE(later.file) << later.failureText();
  EXPECT_EQ(folderListing(disk.dir()), std::set<std::string>{"a.bin"});
  EXPECT_EQ(readFileBytes(disk.dir() / "a.bin"), small);
}

// The save folder turns read-only while a file arrives (a bind mount over it, made read-only):
// the open partial takes the rest of the data, but nothing new can be named in the folder.
TEST_F(FullDiskTest, FolderMadeReadOnlyMidTransferFailsClearlyAndTheFileResumesOnceWritable) {
  ASSERT_EQ(disk.mount("32m"), 0);
  const Bytes large = testing::patternBytes(6 * 1'048'576 + 5);
  const std::string folder = disk.dir().string();
  bool readOnly = false;
  auto options = testing::loopbackReceiveOptions(computerKey, phoneKey.publicKey(), disk.dir());
  const auto cut = runOneShotSession(std::move(options), [&](Endpoint endpoint) -> Task {
    TestPhone phone(phoneKey);
    co_await phone.connectAndHandshake(endpoint);
    const msg::FileOffer offer{"big.bin", static_cast<std::int64_t>(large.size()),
                               "application/octet-stream", "T-big.bin"};
    co_await phone.offer(offer);
    const std::array<std::size_t, 1> frames = {1'048'576};
    try {
      co_await phone.stream(ByteView(large).first(large.size() / 2), 0, frames);
      readOnly =
          ::mount(folder.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr) == 0 &&
          ::mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
      co_await phone.stream(large, static_cast<std::int64_t>(large.size() / 2), frames);
      co_await phone.send(msg::Done{});
    } catch (const std::exception&) {
      // The receiver gave up and closed the connection.
    }
    co_await phone.hangUp();
  });
  ASSERT_TRUE(readOnly) << std::strerror(errno);
  EXPECT_TRUE(cut.failedWith<ReceiveError>()) << cut.failureText();
  EXPECT_NE(cut.failureText().find(std::strerror(EROFS)), std::string::npos) << cut.failureText();
  ASSERT_EQ(::umount2(folder.c_str(), 0), 0);

  const Bytes kept = readFileBytes(disk.dir() / "big.bin.partial").value_or(Bytes{});
  EXPECT_TRUE(isPrefixOf(kept, large));
  const auto resumed = sendWholeFile("big.bin", large);
  ASSERT_TRUE(resumed.file) << resumed.failureText();
  EXPECT_LE(resumed.file->resumedFromOffset, static_cast<std::int64_t>(kept.size()));
  EXPECT_EQ(folderListing(disk.dir()), std::set<std::string>{"big.bin"});
  EXPECT_EQ(digestOf(readFileBytes(disk.dir() / "big.bin").value_or(Bytes{})), digestOf(large));
}

}  // namespace
}  // namespace ferrytide
