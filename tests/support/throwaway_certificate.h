#pragma once

#include "support/mock_http_server.h"

namespace ferrytide::testing {

// A fresh self-signed certificate for 127.0.0.1 (a P-256 key, valid for a day), which is also
// its own certificate authority: a client that trusts it reaches the server, others refuse it.
MockHttpServer::TlsIdentity makeThrowawayCertificate();

}  // namespace ferrytide::testing
