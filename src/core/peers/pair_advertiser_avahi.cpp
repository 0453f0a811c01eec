// The pairing advert through avahi-daemon, reached over the system D-Bus by the Avahi client
// library. Every Avahi object lives on the thread of one AvahiThreadedPoll: its callbacks run
// there, and the caller's thread only creates the poll and, in stop(), tears everything down
// after that thread has ended.

#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/strlst.h>
#include <avahi-common/thread-watch.h>
#include <avahi-common/timeval.h>

#include <exception>

#include "core/peers/pair_advertiser.h"
#include "core/support/log.h"

namespace ferrytide {

namespace {

// A collision renames the service ("Ferrytide-pair-3f9a1c #2", "#3", ...); past this many the
// name space is flooded by something else and the advert gives up.
constexpr int kMaxRenames = 16;

AvahiStringList* makeTxtRecord(const PairAdvert& advert) {
  // Each entry is added in front of the list, and the record goes out last-added last: the
  // entries reach the wire in the advert's order.
  AvahiStringList* list = nullptr;
  for (const auto& [key, value] : advert.txt) {
    list = avahi_string_list_add_pair(list, key.c_str(), value.c_str());
  }
  return list;
}

}  // namespace

struct PairAdvertiser::Publisher {
  Publisher(PairAdvertiser& advertiser, const PairAdvert& advert)
      : owner(advertiser),
        name(advert.serviceName),
        port(advert.port),
        txt(makeTxtRecord(advert)) {}
  Publisher(const Publisher&) = delete;
  Publisher& operator=(const Publisher&) = delete;
  ~Publisher() { avahi_string_list_free(txt); }

  // On the caller's thread.
  void begin();
  void end();

  // On the poll thread.
  void connect();
  void publish();
  void withdraw();
  bool rename();
  void fail(const std::string& reason);
  void onClientState(AvahiClient* changed, AvahiClientState state);
  void onGroupState(AvahiEntryGroup* changed, AvahiEntryGroupState state);

  static void onKickoff(AvahiTimeout*, void* self) { static_cast<Publisher*>(self)->connect(); }
  static void onClient(AvahiClient* changed, AvahiClientState state, void* self) {
    static_cast<Publisher*>(self)->onClientState(changed, state);
  }
  static void onGroup(AvahiEntryGroup* changed, AvahiEntryGroupState state, void* self) {
    static_cast<Publisher*>(self)->onGroupState(changed, state);
  }

  PairAdvertiser& owner;
  std::string name;
  std::uint16_t port;
  AvahiStringList* txt;

  AvahiThreadedPoll* poll = nullptr;
  AvahiTimeout* kickoff = nullptr;
  AvahiClient* client = nullptr;
  AvahiEntryGroup* group = nullptr;
  int renames = 0;
  bool connecting = false;  // inside avahi_client_new, whose callbacks come before its result
  bool failed = false;      // a failure is final and reported once
  bool ending = false;      // set by end() once the poll thread is gone
};

void PairAdvertiser::Publisher::begin() {
  poll = avahi_threaded_poll_new();
  if (poll == nullptr) return fail(avahi_strerror(AVAHI_ERR_NO_MEMORY));
  // Connecting to the daemon makes blocking D-Bus calls, so even that happens on the poll
  // thread: a timer due now starts it.
  const AvahiPoll* api = avahi_threaded_poll_get(poll);
  timeval now{};
  avahi_elapse_time(&now, 0, 0);
  kickoff = api->timeout_new(api, &now, &Publisher::onKickoff, this);
  if (kickoff == nullptr) return fail(avahi_strerror(AVAHI_ERR_NO_MEMORY));
  if (avahi_threaded_poll_start(poll) < 0) return fail("could not start the publishing thread");
}

void PairAdvertiser::Publisher::end() {
  if (poll != nullptr) avahi_threaded_poll_stop(poll);
  // The poll thread has ended: what follows runs alone.
  ending = true;
  if (group != nullptr) avahi_entry_group_free(group);
  if (client != nullptr) avahi_client_free(client);
  if (kickoff != nullptr) avahi_threaded_poll_get(poll)->timeout_free(kickoff);
  if (poll != nullptr) avahi_threaded_poll_free(poll);
  group = nullptr;
  client = nullptr;
  kickoff = nullptr;
  poll = nullptr;
}

// Without AVAHI_CLIENT_NO_FAIL: a missing daemon is reported at once (and pairing goes on with
// the QR code) instead of waiting silently for a daemon that may never come.
void PairAdvertiser::Publisher::connect() {
  int error = 0;
  connecting = true;
  AvahiClient* created = avahi_client_new(avahi_threaded_poll_get(poll), AvahiClientFlags(0),
                                          &Publisher::onClient, this, &error);
  connecting = false;
  if (created == nullptr) return fail(avahi_strerror(error));
  client = created;
  // Services go up only while the daemon's host name is established; otherwise the client
  // callback publishes once the daemon is running.
  if (avahi_client_get_state(client) == AVAHI_CLIENT_S_RUNNING) publish();
}

void PairAdvertiser::Publisher::publish() {
  if (group == nullptr) {
    group = avahi_entry_group_new(client, &Publisher::onGroup, this);
    if (group == nullptr) return fail(avahi_strerror(avahi_client_errno(client)));
  } else {
    avahi_entry_group_reset(group);
  }
  owner.settle(State::publishing, name, "");
  int result = 0;
  do {
    result = avahi_entry_group_add_service_strlst(
        group, AVAHI_IF_UNSPEC, AVAHI_PROTO_INET, AvahiPublishFlags(0), name.c_str(),
        std::string(serviceType).c_str(), std::string(domain).c_str(), nullptr, port, txt);
    // A service of this name is already registered with the daemon, by another program.
  } while (result == AVAHI_ERR_COLLISION && rename());
  if (result < 0) return fail(avahi_strerror(result));
  result = avahi_entry_group_commit(group);
  if (result < 0) return fail(avahi_strerror(result));
}

void PairAdvertiser::Publisher::withdraw() {
  if (group != nullptr) avahi_entry_group_reset(group);
  owner.settle(State::publishing, name, "");
}

bool PairAdvertiser::Publisher::rename() {
  if (++renames > kMaxRenames) return false;
  char* alternative = avahi_alternative_service_name(name.c_str());
  if (alternative == nullptr) return false;
  std::string previous = std::exchange(name, alternative);
  avahi_free(alternative);
  Logger("pair-advertiser")
      .info("pair advert name \"" + previous + "\" is taken, trying \"" + name + "\"");
  return true;
}

void PairAdvertiser::Publisher::fail(const std::string& reason) {
  failed = true;
  owner.reportFailure(reason);
}

void PairAdvertiser::Publisher::onClientState(AvahiClient* changed, AvahiClientState state) {
  if (connecting || failed || ending) return;
  switch (state) {
    case AVAHI_CLIENT_S_RUNNING:
      publish();
      break;
    case AVAHI_CLIENT_S_COLLISION:
    case AVAHI_CLIENT_S_REGISTERING:
      // The daemon is (re)establishing its host name; the service goes up again when it runs.
      withdraw();
      break;
    case AVAHI_CLIENT_FAILURE:
      fail(avahi_strerror(avahi_client_errno(changed)));
      break;
    case AVAHI_CLIENT_CONNECTING:
      break;
  }
}

void PairAdvertiser::Publisher::onGroupState(AvahiEntryGroup* changed, AvahiEntryGroupState state) {
  if (failed || ending) return;
  switch (state) {
    case AVAHI_ENTRY_GROUP_ESTABLISHED:
      owner.settle(State::established, name, "");
      break;
    case AVAHI_ENTRY_GROUP_COLLISION:
      // Another host on the network uses the name.
      if (rename()) {
        publish();
      } else {
        fail(avahi_strerror(AVAHI_ERR_COLLISION));
      }
      break;
    case AVAHI_ENTRY_GROUP_FAILURE:
      fail(avahi_strerror(avahi_client_errno(avahi_entry_group_get_client(changed))));
      break;
    case AVAHI_ENTRY_GROUP_UNCOMMITED:
    case AVAHI_ENTRY_GROUP_REGISTERING:
      break;
  }
}

bool PairAdvertiser::isSupported() { return true; }

PairAdvertiser::PairAdvertiser(const PairAdvert& advert) : advert_(advert) {}

PairAdvertiser::~PairAdvertiser() { stop(); }

void PairAdvertiser::start() {
  if (started_ || stopped_) return;
  started_ = true;
  try {
    settle(State::publishing, advert_.serviceName, "");
    publisher_ = std::make_unique<Publisher>(*this, advert_);
    publisher_->begin();
  } catch (const std::exception& error) {
    reportFailure(error.what());
  }
}

void PairAdvertiser::stop() {
  if (stopped_) return;
  stopped_ = true;
  if (publisher_ != nullptr) {
    publisher_->end();
    publisher_.reset();
  }
  settle(State::stopped, "", "");
}

}  // namespace ferrytide
