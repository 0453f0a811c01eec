// The computer's command line and the phone emulator as separate processes on loopback: pairing,
// files and text both ways, interruptions, the wake path and unpairing.

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>

#include "core/support/file_io.h"
#include "core/support/json.h"
#include "e2e/two_devices.h"
#include "support/rsa_test_key.h"

namespace ferrytide::testing {
namespace {

using namespace std::chrono_literals;

class EndToEndTest : public ::testing::Test {
 protected:
  TwoDevices devices;
};

TEST_F(EndToEndTest, PairingWithTheQrCodeStoresEachSideOnTheOther) {
  ASSERT_NO_FATAL_FAILURE(devices.pairWithQrCode());

  Finished peers = devices.runCli({"peers", "--json"});
  ASSERT_EQ(peers.exitStatus, 0) << peers.output;
  json::Value listed = json::parse(peers.output);
  ASSERT_EQ(listed.size(), 1u) << peers.output;
  EXPECT_EQ(json::requireString(listed[0], "name"), "Pixel Test");
  EXPECT_EQ(json::requireInt64(listed[0], "port"), devices.phonePort);

  Finished phoneKey = devices.runPhone({"key"});
  EXPECT_EQ(json::requireString(listed[0], "pubkey") + "\n", phoneKey.output);
}

TEST_F(EndToEndTest, PairingWithTheTypedCodeFindsTheComputerOverDnsSd) {
  if (runToExit({"/usr/bin/avahi-browse", "-at", "-p"}, {}, 10s).exitStatus != 0) {
    const char* required = std::getenv("FERRYTIDE_REQUIRE_AVAHI");
    if (required != nullptr && std::string(required) == "1") FAIL() << "avahi-daemon unreachable";
    GTEST_SKIP() << "no avahi-daemon reachable on the system bus";
  }
  ChildProcess computer(
      devices.cli({"pair", "--yes", "--port", std::to_string(devices.computerPort), "--name",
                   "Studio", "--timeout", "30"}),
      devices.computerEnvironment);
  ASSERT_TRUE(computer.waitForOutput("Waiting up to", kProcessTimeout)) << computer.output();
  std::string code = valueAfter(computer.output(), "type this code on it: ");
  ASSERT_EQ(code.size(), 4u) << computer.output();

  Finished phone = devices.runPhone({"pair", "--code", code, "--host", "127.0.0.1", "--port",
                                     std::to_string(devices.phonePort), "--ip", "127.0.0.1"});
  ASSERT_EQ(phone.exitStatus, 0) << phone.output;
  ASSERT_EQ(computer.waitForExit(kProcessTimeout), 0) << computer.output();
  EXPECT_EQ(valueAfter(computer.output(), "Confirmation code: "),
            valueAfter(phone.output, "confirmation code: "));
}

TEST_F(EndToEndTest, PhoneFileDroppedPartWayResumesToAnIdenticalFile) {
  ASSERT_NO_FATAL_FAILURE(devices.pairWithQrCode());
  std::unique_ptr<ChildProcess> receiver = devices.startReceiver();
  std::filesystem::path source = devices.makeFile("holiday.mov", 5 * 1024 * 1024 + 12345);

  // Cut inside the second 1 MiB chunk's frame: once the computer has ended the dropped
  // connection (it may still be reading when the phone gives up), only the first chunk is on its
  // disk.
  Finished dropped = devices.runPhone({"send", source.string(), "--stop-after", "2097252"});
  ASSERT_EQ(dropped.exitStatus, 0) << dropped.output;
  ASSERT_TRUE(contains(dropped.output, "dropped: ")) << dropped.output;
  ASSERT_TRUE(receiver->waitForOutput("error: ", kProcessTimeout)) << receiver->output();
  std::filesystem::path partial = devices.computerInbox() / "holiday.mov.partial";
  ASSERT_TRUE(std::filesystem::exists(partial))
      << ::testing::PrintToString(namesIn(devices.computerInbox()));
  EXPECT_EQ(std::filesystem::file_size(partial), 1048576u);

  Finished resumed = devices.runPhone({"send", source.string()});
  ASSERT_EQ(resumed.exitStatus, 0) << resumed.output;
  EXPECT_EQ(std::stoll(valueAfter(resumed.output, "(resumed from ")), 1048576) << resumed.output;

  ASSERT_TRUE(receiver->waitForOutput("file: ", kProcessTimeout)) << receiver->output();
  EXPECT_EQ(namesIn(devices.computerInbox()), std::vector<std::string>{"holiday.mov"});
  EXPECT_EQ(fileDigest(devices.computerInbox() / "holiday.mov"), fileDigest(source));
}

TEST_F(EndToEndTest, PhonePairedOrForgottenWhileReceivingCountsFromItsNextConnection) {
  ASSERT_NO_FATAL_FAILURE(devices.pairWithQrCode());
  // The peers file changes while the receiver runs, as when the application pairs or forgets a
  // phone.
  std::filesystem::path peerFile = devices.computerData() / "Ferrytide" / "peer.json";
  std::optional<Bytes> paired = file_io::readIfExists(peerFile);
  ASSERT_TRUE(paired);
  const Bytes noPhones = toBytes(R"({"peers": []})");
  file_io::writeAtomically(peerFile, noPhones);
  std::unique_ptr<ChildProcess> receiver = devices.startReceiver();
  std::filesystem::path source = devices.makeFile("notes.txt", 1000);
  EXPECT_NE(devices.runPhone({"send", source.string()}).exitStatus, 0);

  file_io::writeAtomically(peerFile, *paired);
  Finished afterPairing = devices.runPhone({"send", source.string()});
  ASSERT_EQ(afterPairing.exitStatus, 0) << afterPairing.output;
  EXPECT_TRUE(receiver->waitForOutput("file: ", kProcessTimeout)) << receiver->output();

  file_io::writeAtomically(peerFile, noPhones);
  EXPECT_NE(devices.runPhone({"send", source.string()}).exitStatus, 0);
  EXPECT_EQ(namesIn(devices.computerInbox()), std::vector<std::string>{"notes.txt"});
}

TEST_F(EndToEndTest, SleepingPhoneIsWokenThroughFcmAndGetsTheFile) {
  ASSERT_NO_FATAL_FAILURE(devices.pairWithQrCode("phone-push-token"));
  ChildProcess fcm(devices.phone({"fcm-mock", "--port", "0"}), {});
  std::optional<std::string> fcmPort = fcm.waitForLine("listening on ", kProcessTimeout);
  ASSERT_TRUE(fcmPort) << fcm.output();
  std::string fcmUrl = "http://127.0.0.1:" + *fcmPort;
  json::Value account = {{"type", "service_account"},
                         {"project_id", "ferrytide-test"},
                         {"private_key", RsaTestKey::shared().pkcs8Pem},
                         {"private_key_id", "test-key"},
                         {"client_email", "sender@ferrytide-test.example"},
                         {"token_uri", fcmUrl + "/token"}};
  file_io::createDirectories(devices.computerData() / "Ferrytide");
  file_io::writeAtomically(devices.computerData() / "Ferrytide" / "firebase-service-account.json",
                           asBytes(json::encodePretty(account)));
  std::unique_ptr<ChildProcess> phone = devices.startPhoneServer({"--asleep"});
  std::filesystem::path source = devices.makeFile("report.pdf", 300 * 1024);

  devices.computerEnvironment["FERRYTIDE_FCM_ENDPOINT"] = fcmUrl;
  Finished sent = devices.runCli({"send", source.string()});
  ASSERT_EQ(sent.exitStatus, 0) << sent.output;

  EXPECT_TRUE(contains(fcm.output(), "wake: sent")) << fcm.output();
  ASSERT_TRUE(phone->waitForOutput("file: ", kProcessTimeout)) << phone->output();
  EXPECT_TRUE(contains(phone->output(), "woken")) << phone->output();
  EXPECT_EQ(fileDigest(devices.phoneInbox() / "report.pdf"), fileDigest(source));
}

TEST_F(EndToEndTest, ClipboardTextTravelsBothWays) {
  ASSERT_NO_FATAL_FAILURE(devices.pairWithQrCode());
  std::unique_ptr<ChildProcess> phone = devices.startPhoneServer();
  Finished toPhone = devices.runCli({"clip", "from the computer: caf\xc3\xa9"});
  ASSERT_EQ(toPhone.exitStatus, 0) << toPhone.output;
  EXPECT_TRUE(phone->waitForOutput("clipboard: from the computer: caf\xc3\xa9\n", kProcessTimeout))
      << phone->output();

  std::unique_ptr<ChildProcess> receiver = devices.startReceiver();
  Finished toComputer = devices.runPhone({"clip", "from the phone"});
  ASSERT_EQ(toComputer.exitStatus, 0) << toComputer.output;
  EXPECT_TRUE(receiver->waitForOutput(": from the phone\n", kProcessTimeout)) << receiver->output();
}

TEST_F(EndToEndTest, ForgetWithTellUnpairsBothSides) {
  ASSERT_NO_FATAL_FAILURE(devices.pairWithQrCode());
  std::unique_ptr<ChildProcess> phone = devices.startPhoneServer();

  Finished forget = devices.runCli({"forget", "pixel", "--tell"});
  ASSERT_EQ(forget.exitStatus, 0) << forget.output;
  EXPECT_TRUE(contains(forget.output, "The phone was told")) << forget.output;
  EXPECT_TRUE(phone->waitForOutput("unpaired by the computer", kProcessTimeout)) << phone->output();

  EXPECT_EQ(devices.runCli({"peers", "--json"}).output, "[]\n");
  Finished phoneSend = devices.runPhone({"clip", "anyone there?"});
  EXPECT_NE(phoneSend.exitStatus, 0) << "the phone still knows the computer";
}

TEST_F(EndToEndTest, ForgottenPhoneIsToldToUnpairWhenItNextConnects) {
  ASSERT_NO_FATAL_FAILURE(devices.pairWithQrCode());
  // The phone is not listening, so forgetting it cannot tell it now.
  Finished forget = devices.runCli({"forget", "pixel", "--tell"});
  EXPECT_EQ(forget.exitStatus, 1) << forget.output;
  EXPECT_TRUE(contains(forget.output, "It will be told when it next connects")) << forget.output;

  std::unique_ptr<ChildProcess> receiver = devices.startReceiver();
  std::filesystem::path source = devices.makeFile("notes.txt", 1000);
  Finished send = devices.runPhone({"send", source.string()});
  EXPECT_NE(send.exitStatus, 0);
  EXPECT_TRUE(contains(send.output, "unpaired by the computer")) << send.output;
  EXPECT_TRUE(receiver->waitForOutput("unpair: a forgotten phone", kProcessTimeout))
      << receiver->output();
  EXPECT_TRUE(namesIn(devices.computerInbox()).empty());

  // Told once: the notice is gone, and the phone has forgotten the computer.
  std::optional<Bytes> pending =
      file_io::readIfExists(devices.computerData() / "Ferrytide" / "pending-unpairs.json");
  ASSERT_TRUE(pending);
  EXPECT_EQ(json::parse(*pending), json::Value::object());
  EXPECT_NE(devices.runPhone({"send", source.string()}).exitStatus, 0);
}

TEST_F(EndToEndTest, ShareLaysDownAnOutboxJobForTheApplication) {
  ASSERT_NO_FATAL_FAILURE(devices.pairWithQrCode());
  std::filesystem::path first = devices.makeFile("a.txt", 10);
  std::filesystem::path second = devices.makeFile("b.bin", 2000);

  Finished share = devices.runCli({"share", first.string(), second.string(), "--to", "pixel"});
  ASSERT_EQ(share.exitStatus, 0) << share.output;

  std::filesystem::path outbox = devices.computerData() / "group.com.quenfold.ferrytide" / "Outbox";
  EXPECT_TRUE(std::filesystem::exists(outbox / ".pending"));
  std::vector<std::string> jobs = namesIn(outbox);
  std::erase(jobs, ".pending");
  ASSERT_EQ(jobs.size(), 1u);
  std::filesystem::path job = outbox / jobs.front();
  std::optional<Bytes> manifestText = file_io::readIfExists(job / "manifest.json");
  ASSERT_TRUE(manifestText);
  json::Value manifest = json::parse(*manifestText);
  const std::string id = json::requireString(manifest, "id");
  EXPECT_TRUE(jobs.front().ends_with("-" + id)) << jobs.front();
  EXPECT_EQ(manifest["files"], json::Value::array({"a.txt", "b.bin"}));
  Finished phoneKey = devices.runPhone({"key"});
  EXPECT_EQ(manifest["targetPubkeys"][0].get<std::string>() + "\n", phoneKey.output);
  EXPECT_EQ(fileDigest(job / "a.txt"), fileDigest(first));
  EXPECT_EQ(fileDigest(job / "b.bin"), fileDigest(second));
}

}  // namespace
}  // namespace ferrytide::testing
