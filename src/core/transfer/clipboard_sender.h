#pragma once

// Single control messages to a phone (clipboard text, this computer's name, unpair notices),
// each over a fresh connection:
//
//   connect (0.5 s; on "timed out"/"refused" with a token: FCM wake, 0.5 s pause, one reconnect)
//   Noise XX as initiator, the phone's key checked
//   the message as one sealed JSON frame  ───►
//   up to 1.5 s for a reply               ◄───  Unpair (the phone has forgotten this computer)

#include <asio.hpp>
#include <chrono>
#include <string>

#include "core/channel/noise_handshake.h"
#include "core/channel/transport_message.h"
#include "core/peers/peer_record.h"
#include "core/support/bytes.h"
#include "core/support/crypto.h"
#include "core/transfer/send_error.h"
#include "core/transfer/send_transfer.h"

namespace ferrytide {

struct OneOffOptions {
  Bytes prologue = toBytes(kFerrytidePrologue);
  SendDuration warmConnectTimeout = std::chrono::milliseconds(500);
  // The one reconnect after a wake.
  SendDuration postWakeConnectTimeout = std::chrono::seconds(5);
  SendDuration wakePause = std::chrono::milliseconds(500);
  // A phone that accepts the connection but stalls in the handshake is given up after this.
  SendDuration handshakeTimeout = std::chrono::seconds(30);
  // How long a reply to the message is awaited.
  SendDuration replyWindow = std::chrono::milliseconds(1500);
  // Empty: defaultWakePhone().
  WakePhone wake;
};

// Sends one message to the phone and gives it the reply window to answer Unpair. Throws
// SendError: unauthorizedPeer (the stored key is no key, or another phone answered), network
// (connect, wake, or a message that could not be written and drew no Unpair),
// noiseHandshakeFailed, peerRemoved (the phone answered Unpair). Any other reply, the phone
// closing, or silence is success.
asio::awaitable<void> sendOneOff(TransportMessage message, PeerRecord peer,
                                 crypto::X25519PrivateKey staticKey, OneOffOptions options = {});

// sendOneOff with the message Clipboard(text, mime).
asio::awaitable<void> sendClipboard(std::string text, PeerRecord peer,
                                    crypto::X25519PrivateKey staticKey,
                                    std::string mime = "text/plain", OneOffOptions options = {});

}  // namespace ferrytide
