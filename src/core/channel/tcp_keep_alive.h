#pragma once

#include <asio.hpp>

namespace ferrytide {

// Turns on TCP keep-alive with the values both directions use, so that a phone that went away
// is noticed after about 10 + 3 × 5 seconds of silence. Returns the first error; the caller
// decides whether that matters (the idle time-out still ends a silent connection).
asio::error_code enableKeepAlive(asio::ip::tcp::socket& socket);

}  // namespace ferrytide
