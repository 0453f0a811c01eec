#pragma once

// Sending one file to a paired phone, and the connection steps that every send to a phone
// shares: the connect (waking a sleeping phone through FCM) and the handshake as initiator.
//
//   computer                                   phone
//   connect (0.5 s; on "timed out"/"refused": FCM wake, 0.5 s pause, retries up to 15 s)
//   Noise XX message 1  ───────────────────►
//                       ◄───────────────────  message 2
//   message 3           ───────────────────►
//   FileOffer           ───────────────────►
//                       ◄───────────────────  Resume {accepted_offset} | Decline | Unpair
//   binary frames of 1 MiB from the offset ─►
//   Done                ───────────────────►
//                       ◄───────────────────  close, once the phone has the file

#include <asio.hpp>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "core/channel/noise_handshake.h"
#include "core/channel/transport_framer.h"
#include "core/channel/wire_connection.h"
#include "core/peers/peer_record.h"
#include "core/support/bytes.h"
#include "core/support/crypto.h"
#include "core/support/http_client.h"
#include "core/support/log.h"
#include "core/transfer/fcm_wake.h"
#include "core/transfer/in_flight_journal.h"
#include "core/transfer/send_error.h"

namespace ferrytide {

using SendDuration = std::chrono::steady_clock::duration;

// One finished send.
struct SentFile {
  std::string savedPath;               // the file that was sent, on this computer
  std::int64_t bytesSent = 0;          // accepted offset + bytes sent in this call: the end reached
  std::int64_t advertisedSize = 0;     // "size" of the offer
  double durationSeconds = 0;          // from the accepted Resume to after Done was sent
  std::int64_t resumedFromOffset = 0;  // "accepted_offset" from the phone

  bool operator==(const SentFile&) const = default;
};

// Told about a send as it goes, from the sending coroutine.
class SendProgress {
 public:
  virtual ~SendProgress() = default;
  // Once, after a wake request went out and before the connection attempts that follow it.
  virtual void onWaking() {}
  // After the Resume with the accepted offset, then after every chunk with the end reached.
  virtual void onProgress(std::int64_t bytesSent, std::int64_t totalBytes) = 0;
};

// Asks the phone with this FCM registration token to wake; throws when the request fails.
using WakePhone = std::function<asio::awaitable<void>(std::string token)>;

// A wake through FcmWake, made for each request from the service-account file. `session` must
// outlive every wake.
WakePhone fcmWakePhone(std::filesystem::path serviceAccountURL, HttpClient& session,
                       FcmWake::Options options = {});
// fcmWakePhone with the default service-account file and the process's HTTP session.
WakePhone defaultWakePhone();

// How to reach a phone: a warm attempt, and when that times out or is refused and the phone
// has a wake token, a wake followed by attempts until `postWakeConnectTimeout` has passed.
struct ConnectPlan {
  SendDuration warmConnectTimeout = std::chrono::milliseconds(500);
  SendDuration wakePause = std::chrono::milliseconds(500);
  SendDuration postWakeConnectTimeout = std::chrono::seconds(15);
  SendDuration postWakeAttemptTimeout = std::chrono::seconds(1);
  SendDuration postWakeRetryInterval = std::chrono::milliseconds(500);
  // Zero: as many as fit before the deadline.
  int maxPostWakeAttempts = 0;
};

// A TCP connection to `host` (an address, or a name to resolve) and `port`, with no-delay on,
// once it is established. Throws SendError::network: "invalid port N" for a port outside
// 0…65535, "connect timed out" when `timeout` (if above zero) passes first, else the system's
// description ("Connection refused").
asio::awaitable<asio::ip::tcp::socket> openConnection(std::string host, std::int64_t port,
                                                      SendDuration timeout);

// The connection to the phone's recorded "peer_ip" and "peer_port" by `plan`. A warm failure
// that is no "timed out" or "refused" network error, or a phone without a token, fails with
// that error; a failed wake with network "FCM wake failed: " + its description; the attempts
// after a wake with the last attempt's error. `onWaking` (may be empty) is called after the
// wake went out.
asio::awaitable<asio::ip::tcp::socket> connectToPhone(PeerRecord peer, ConnectPlan plan,
                                                      WakePhone wake,
                                                      std::function<void()> onWaking, Logger log);

// Noise XX as initiator with empty payloads: message 1 out, 2 in, 3 out. Returns the completed
// handshake, to be finalized. Any wire or handshake error is SendError::noiseHandshakeFailed;
// a phone that stays silent for `timeout` (if above zero) at any step is one. The wire is left
// without an idle time-out.
asio::awaitable<NoiseHandshake> initiateHandshake(WireConnection& wire,
                                                  crypto::X25519PrivateKey staticKey,
                                                  Bytes prologue, SendDuration timeout);

// Whether the phone's next frame, within the wire's idle time-out, is Unpair: the answer of a
// phone that has forgotten this computer. Every other outcome, an error included, is no.
asio::awaitable<bool> phoneRepliesUnpair(WireConnection& wire, TransportFramer& framer);

// The phone's static key from its record's "peer_pubkey"; SendError::unauthorizedPeer when it
// is not the Base64 of 32 bytes.
Bytes expectedPeerKey(const PeerRecord& peer);

struct SendFileOptions {
  Bytes prologue = toBytes(kFerrytidePrologue);
  ConnectPlan connect;
  // A phone that accepts the connection but stalls in the handshake is given up after this.
  SendDuration handshakeTimeout = std::chrono::seconds(30);
  // After Done, how long to wait for the phone to close. A reset in that time means the file may
  // not have arrived: the send fails and stays in the journal. A close, or silence until the
  // end of the wait, is success.
  SendDuration closeWait = std::chrono::seconds(5);
  // Asked before every chunk; yes ends the send with SendError::cancelled.
  std::function<bool()> cancel;
  SendProgress* progress = nullptr;  // may be null; must outlive the send
  // Empty: defaultWakePhone().
  WakePhone wake;
};

// Sends one file to one phone: connect, handshake, FileOffer with the journal's transfer
// identifier, Resume, the file from the accepted offset in 1 MiB binary frames, Done, the
// phone's close, and the journal entry dropped. The file is streamed, never held whole.
//
// Throws SendError; errors of the wire connection and the framer after the handshake pass
// through unchanged. On any failure the journal entry stays, so that the next attempt offers
// the same "transfer_id" and the phone resumes. `journal` must outlive the send.
asio::awaitable<SentFile> sendOneFile(std::filesystem::path fileURL, PeerRecord peer,
                                      crypto::X25519PrivateKey staticKey, InFlightJournal& journal,
                                      SendFileOptions options = {});

}  // namespace ferrytide
