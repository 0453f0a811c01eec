#include "core/transfer/clipboard_sender.h"

#include <optional>
#include <utility>

#include "core/channel/transport_framer.h"
#include "core/channel/wire_connection.h"
#include "core/support/log.h"

namespace ferrytide {
namespace {

using asio::ip::tcp;

const Logger& clipboardLog() {
  static const Logger logger("clipboard-send");
  return logger;
}

}  // namespace

asio::awaitable<void> sendOneOff(TransportMessage message, PeerRecord peer,
                                 crypto::X25519PrivateKey staticKey, OneOffOptions options) {
  const Bytes expectedKey = expectedPeerKey(peer);

  ConnectPlan plan;
  plan.warmConnectTimeout = options.warmConnectTimeout;
  plan.wakePause = options.wakePause;
  plan.postWakeConnectTimeout = options.postWakeConnectTimeout;
  plan.postWakeAttemptTimeout = options.postWakeConnectTimeout;
  plan.maxPostWakeAttempts = 1;
  asio::awaitable<tcp::socket> connecting =
      connectToPhone(peer, plan, options.wake, {}, clipboardLog());
  WireConnection wire(co_await std::move(connecting));

  asio::awaitable<NoiseHandshake> handshaking =
      initiateHandshake(wire, staticKey, options.prologue, options.handshakeTimeout);
  NoiseHandshake noise = co_await std::move(handshaking);
  TransportFramer framer(noise.finalize());
  if (!crypto::constantTimeEquals(framer.session().remoteStaticPublicKey().view(), expectedKey)) {
    throw SendError::unauthorizedPeer();
  }

  Bytes frame = framer.encodeJSON(message);
  std::optional<std::string> writeFailure;
  try {
    co_await wire.sendLengthPrefixed(frame);
  } catch (const std::exception& error) {
    writeFailure = error.what();
  }
  if (writeFailure) clipboardLog().warning("write failed, checking for Unpair: " + *writeFailure);

  // A phone that has forgotten this computer may answer Unpair and close before it has read
  // the message; that answer outranks the failed write.
  wire.setIdleTimeout(options.replyWindow);
  if (co_await phoneRepliesUnpair(wire, framer)) throw SendError::peerRemoved();
  if (writeFailure) throw SendError::network(*writeFailure);
}

asio::awaitable<void> sendClipboard(std::string text, PeerRecord peer,
                                    crypto::X25519PrivateKey staticKey, std::string mime,
                                    OneOffOptions options) {
  TransportMessage message = msg::Clipboard{std::move(text), std::move(mime)};
  return sendOneOff(std::move(message), std::move(peer), std::move(staticKey), std::move(options));
}

}  // namespace ferrytide
