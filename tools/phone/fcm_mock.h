#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>

#include "phone_state.h"

namespace ferrytide::phone {

// The wake path's two endpoints on 127.0.0.1, until SIGINT or SIGTERM:
//
//   POST /token                        → {"access_token":"fcm-mock-access-token",...}
//   POST /v1/projects/P/messages:send  → 200 when the bearer token is the one above and the
//                                        message's "token" is this phone's, then SIGUSR1 to the
//                                        pid in the state's "serve.pid"; 401 or 404 otherwise
//
// Prints "listening on PORT" once it listens, and one line per wake. Returns the exit code.
int runFcmMock(const PhoneState& state, std::uint16_t port, std::ostream& out);

// The answer to one request: status and JSON body.
struct MockReply {
  int status = 200;
  std::string body;
};

// The decision for one request; `wake` is called for a valid send to `phoneToken`.
MockReply answerFcmRequest(const std::string& method, const std::string& target,
                           const std::string& authorization, const std::string& body,
                           const std::string& phoneToken, const std::function<void()>& wake);

}  // namespace ferrytide::phone
