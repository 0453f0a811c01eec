#pragma once

// A computer (ferrytide-cli) and a phone (ferrytide-phone) on this machine, each with its own
// folders under one temporary folder and its own loopback port, for tests that run the real
// programs against each other.

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "core/support/bytes.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

namespace ferrytide::testing {

inline constexpr auto kProcessTimeout = std::chrono::seconds(60);

class TwoDevices {
 public:
  TwoDevices();

  // Arguments for the computer's tool and for the phone emulator (with its --state folder).
  std::vector<std::string> cli(std::vector<std::string> arguments) const;
  std::vector<std::string> phone(std::vector<std::string> arguments) const;

  Finished runCli(std::vector<std::string> arguments) const;
  Finished runPhone(std::vector<std::string> arguments) const;

  // Pairs through the QR code's PNG, with --yes; checks that both sides show the same code.
  void pairWithQrCode(const std::string& phoneToken = "");

  // `receive` on the computer's port into computerInbox(), running until the test ends.
  std::unique_ptr<ChildProcess> startReceiver() const;
  // `serve` on the phone's port into phoneInbox().
  std::unique_ptr<ChildProcess> startPhoneServer(std::vector<std::string> options = {}) const;

  // A file of `size` random bytes in the test folder.
  std::filesystem::path makeFile(const std::string& name, std::size_t size) const;

  const std::filesystem::path& root() const { return folder_.path(); }
  std::filesystem::path computerData() const { return folder_ / "computer-data"; }
  std::filesystem::path computerInbox() const { return folder_ / "computer-inbox"; }
  std::filesystem::path phoneInbox() const { return folder_ / "phone-inbox"; }
  std::filesystem::path phoneState() const { return folder_ / "phone"; }

  Environment computerEnvironment;
  std::uint16_t computerPort;
  std::uint16_t phonePort;

 private:
  TempDir folder_;
};

bool contains(const std::string& text, const std::string& part);

// The names in a folder, sorted; none when the folder was never made.
std::vector<std::string> namesIn(const std::filesystem::path& folder);

// The SHA-256 of a file's content, in hex.
std::string fileDigest(const std::filesystem::path& file);

// The text after `label` up to the end of its line in `output`; empty when absent.
std::string valueAfter(const std::string& output, const std::string& label);

}  // namespace ferrytide::testing
