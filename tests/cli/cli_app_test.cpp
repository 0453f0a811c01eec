#include "cli/cli_app.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace ferrytide::cli {
namespace {

TEST(CliAppTest, ParsesEachCommandsArguments) {
  CliApp send;
  send.parse({"send", "a.txt", "b/c.pdf", "--to", "pix"});
  EXPECT_EQ(send.command(), "send");
  EXPECT_EQ(send.send.files, (std::vector<std::string>{"a.txt", "b/c.pdf"}));
  EXPECT_EQ(send.send.to, "pix");

  CliApp receive;
  receive.parse({"receive", "--once", "--dir", "/tmp/in", "--port", "5000", "--address",
                 "127.0.0.1", "--idle-timeout", "2.5"});
  EXPECT_TRUE(receive.receive.once);
  EXPECT_EQ(receive.receive.dir, "/tmp/in");
  EXPECT_EQ(receive.receive.port, 5000);
  EXPECT_EQ(receive.receive.address, "127.0.0.1");
  EXPECT_EQ(receive.receive.idleTimeoutSeconds, 2.5);

  CliApp pair;
  pair.parse({"pair", "--name", "Studio", "--png", "qr.png", "--timeout", "5", "--yes"});
  EXPECT_EQ(pair.pair.name, "Studio");
  EXPECT_EQ(pair.pair.png, "qr.png");
  EXPECT_EQ(pair.pair.timeoutSeconds, 5);
  EXPECT_TRUE(pair.pair.yes);

  CliApp forget;
  forget.parse({"forget", "Pixel 8", "--tell"});
  EXPECT_EQ(forget.forget.selector, "Pixel 8");
  EXPECT_TRUE(forget.forget.tell);

  CliApp clip;
  clip.parse({"clip"});
  EXPECT_FALSE(clip.clip.text.has_value());
}

TEST(CliAppTest, DefaultsToStatusAndTheSystemPort) {
  CliApp none;
  none.parse({});
  EXPECT_EQ(none.command(), "status");

  CliApp receive;
  receive.parse({"receive"});
  EXPECT_EQ(receive.receive.port, kDefaultPort);
  EXPECT_TRUE(receive.receive.dir.empty());
  CliApp pair;
  pair.parse({"pair"});
  EXPECT_EQ(pair.pair.port, kDefaultPort);
  EXPECT_EQ(pair.pair.timeoutSeconds, 120);
  EXPECT_FALSE(pair.pair.yes);
}

TEST(CliAppTest, RejectsBadArguments) {
  const std::vector<std::vector<std::string>> cases = {
      {"send"},                        // no file
      {"share", "--to", "pix"},        // no file
      {"forget"},                      // no selector
      {"receive", "--port", "70000"},  // not a port
      {"receive", "--port", "x"},      // not a number
      {"receive", "--idle-timeout", "0"},  // not positive
      {"pair", "--timeout", "0"},      // not positive
      {"peers", "--yaml"},             // unknown option
      {"bogus"},                       // unknown command
      {"peers", "send", "a"},          // two commands
  };
  for (const auto& arguments : cases) {
    CliApp cli;
    EXPECT_THROW(cli.parse(arguments), CLI::ParseError) << arguments.front();
  }
}

TEST(CliAppTest, EveryCommandHasHelp) {
  for (const char* command :
       {"status", "pair", "peers", "send", "clip", "receive", "forget", "share"}) {
    CliApp cli;
    EXPECT_THROW(cli.parse({command, "--help"}), CLI::CallForHelp) << command;
  }
}

TEST(CliAppTest, AnErrorPrintsItsDescriptionAndFails) {
  CliApp cli;
  cli.parse({"clip", ""});
  std::istringstream input;
  ::testing::internal::CaptureStderr();
  int status = cli.run(input);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "no text to send\n");
  EXPECT_EQ(status, 1);
}

}  // namespace
}  // namespace ferrytide::cli
