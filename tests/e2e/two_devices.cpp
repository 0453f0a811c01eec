#include "e2e/two_devices.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "core/support/crypto.h"
#include "core/support/file_io.h"

namespace ferrytide::testing {

TwoDevices::TwoDevices() : computerPort(freeLoopbackPort()), phonePort(freeLoopbackPort()) {
  computerEnvironment = {
      {"XDG_DATA_HOME", computerData().string()},
      {"XDG_CONFIG_HOME", (folder_ / "computer-config").string()},
      {"HOME", (folder_ / "computer-home").string()},
      {"TMPDIR", folder_.path().string()},
  };
}

std::vector<std::string> TwoDevices::cli(std::vector<std::string> arguments) const {
  arguments.insert(arguments.begin(), FERRYTIDE_CLI_PATH);
  return arguments;
}

std::vector<std::string> TwoDevices::phone(std::vector<std::string> arguments) const {
  arguments.insert(arguments.begin(), {FERRYTIDE_PHONE_PATH, "--state", phoneState().string()});
  return arguments;
}

Finished TwoDevices::runCli(std::vector<std::string> arguments) const {
  return runToExit(cli(std::move(arguments)), computerEnvironment, kProcessTimeout);
}

Finished TwoDevices::runPhone(std::vector<std::string> arguments) const {
  return runToExit(phone(std::move(arguments)), {}, kProcessTimeout);
}

void TwoDevices::pairWithQrCode(const std::string& phoneToken) {
  std::string png = (folder_ / "pair.png").string();
  ChildProcess computer(cli({"pair", "--yes", "--png", png, "--port", std::to_string(computerPort),
                             "--name", "Studio", "--timeout", "30"}),
                        computerEnvironment);
  ASSERT_TRUE(computer.waitForOutput("Waiting up to", kProcessTimeout)) << computer.output();

  std::vector<std::string> pair = {
      "pair", "--qr",      png,      "--host",    "127.0.0.1", "--port", std::to_string(phonePort),
      "--ip", "127.0.0.1", "--name", "Pixel Test"};
  if (!phoneToken.empty()) pair.insert(pair.end(), {"--token", phoneToken});
  Finished phoneSide = runPhone(pair);
  ASSERT_EQ(phoneSide.exitStatus, 0) << phoneSide.output;

  ASSERT_EQ(computer.waitForExit(kProcessTimeout), 0) << computer.output();
  std::string phoneCode = valueAfter(phoneSide.output, "confirmation code: ");
  ASSERT_EQ(phoneCode.size(), 4u) << phoneSide.output;
  EXPECT_EQ(valueAfter(computer.output(), "Confirmation code: "), phoneCode) << computer.output();
  EXPECT_NE(computer.output().find("Paired Pixel Test"), std::string::npos) << computer.output();
}

std::unique_ptr<ChildProcess> TwoDevices::startReceiver() const {
  auto receiver = std::make_unique<ChildProcess>(
      cli({"receive", "--port", std::to_string(computerPort), "--dir", computerInbox().string()}),
      computerEnvironment);
  EXPECT_TRUE(receiver->waitForOutput("Receiving on port", kProcessTimeout)) << receiver->output();
  return receiver;
}

std::unique_ptr<ChildProcess> TwoDevices::startPhoneServer(std::vector<std::string> options) const {
  std::vector<std::string> arguments = {"serve",
                                        "--bind",
                                        "127.0.0.1",
                                        "--port",
                                        std::to_string(phonePort),
                                        "--dir",
                                        phoneInbox().string()};
  arguments.insert(arguments.end(), options.begin(), options.end());
  auto server = std::make_unique<ChildProcess>(phone(arguments), Environment{});
  bool asleep = std::find(options.begin(), options.end(), "--asleep") != options.end();
  EXPECT_TRUE(server->waitForOutput(asleep ? "asleep" : "listening on", kProcessTimeout))
      << server->output();
  return server;
}

std::filesystem::path TwoDevices::makeFile(const std::string& name, std::size_t size) const {
  std::filesystem::path file = folder_ / name;
  file_io::writeAtomically(file, crypto::randomBytes(size), 0644);
  return file;
}

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

std::vector<std::string> namesIn(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  if (!std::filesystem::exists(folder)) return names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string fileDigest(const std::filesystem::path& file) {
  std::optional<Bytes> content = file_io::readIfExists(file);
  if (!content) return "(missing " + file.string() + ")";
  crypto::Digest digest = crypto::sha256(*content);
  return toHex(ByteView(digest.data(), digest.size()));
}

std::string valueAfter(const std::string& output, const std::string& label) {
  std::size_t start = output.find(label);
  if (start == std::string::npos) return "";
  start += label.size();
  std::size_t end = output.find('\n', start);
  return output.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

}  // namespace ferrytide::testing
