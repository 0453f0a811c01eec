#pragma once

#include <functional>
#include <optional>
#include <string>

#include "menu/app_parts.h"
#include "menu/qt_wait.h"
#include "menu/services/clipboard_service.h"
#include "menu/services/notification_approval_prompt.h"
#include "menu/services/receive_approval.h"
#include "menu/services/receiver_controller.h"
#include "support/failure_text.h"
#include "support/fake_pasteboard.h"

namespace ferrytide::testing {

// The application's parts with its clipboard service, over a clipboard of the test's own.
class ClipboardParts : public AppParts {
 protected:
  void clipboardHolds(const std::string& text, bool concealed = false) {
    pasteboard.types.formats = {"text/plain"};
    if (concealed) pasteboard.types.formats.emplace_back(PasteboardWriter::concealedType);
    pasteboard.plainText = text;
  }

  FakePasteboard pasteboard;
  menu::ClipHistory history{dir / "data" / "clips.json"};
  menu::ClipboardService clipboard{prefs, history, notifier, pasteboard, runtime, network};
};

// ... and the application's receiver, wired as the application wires it, on 127.0.0.1 at `port`
// (0: any free port). `bound` is the port it last listened on.
class ReceivingParts : public ClipboardParts {
 protected:
  explicit ReceivingParts(std::uint16_t listenPort = 0) : port(listenPort) {}

  menu::ReceiverControllerOptions receiverOptions() const {
    menu::ReceiverControllerOptions options{
        .port = port, .keyVault = KeyVault(dir / "data"), .receiver = {}};
    options.receiver.listenAddress = asio::ip::make_address("127.0.0.1");
    return options;
  }
  // Runs the phone's part on the network thread; its error text, or none.
  std::optional<std::string> phoneDoes(const std::function<asio::awaitable<void>()>& steps) {
    std::optional<std::string> failure;
    bool done = false;
    runtime.start(
        &owner, steps(), [&] { done = true; },
        [&](std::exception_ptr error) {
          failure = failureText(error);
          done = true;
        });
    EXPECT_TRUE(processEventsUntil([&] { return done; })) << "the phone's part did not end";
    return failure;
  }

  std::uint16_t port;
  QObject owner;
  menu::NotificationApprovalPrompt prompt{notices};
  menu::ReceiveApproval approval{prefs, prompt};
  menu::ReceiverController receiver{
      appState, runtime, {approval, notifier, clipboard, sync}, receiverOptions()};
  int listenings = 0;
  std::uint16_t bound = 0;
  QMetaObject::Connection watch =
      QObject::connect(&receiver, &menu::ReceiverController::listening, [this](std::uint16_t on) {
        ++listenings;
        bound = on;
      });
};

}  // namespace ferrytide::testing
