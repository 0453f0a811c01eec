#pragma once

#include <filesystem>
#include <functional>

#include "core/support/bytes.h"

namespace ferrytide::platform {

// Turns each diagnostic that installCrashCapture left in `pendingFolder` into a crash record and
// hands its JSON (compact, sorted keys) to `deliver`:
//
//   {"fault_address":"0x7f1c2d3e4000",
//    "frames":[{"address":"0x55f0a1b2c3d4","module":"/usr/bin/ferrytide","offset":"0x2c3d4",
//               "symbol":"ferrytide::menu::AppState::reloadPeers()+0x54"},
//              {"address":"0x1234"}],
//    "pid":4242,"signal":11,"signal_name":"SIGSEGV","time_epoch_ms":1733480000250,
//    "version":"0.1.0"}
//
// "fault_address" is there when the diagnostic has one. A frame names the file it lies in and
// its offset from where that file starts in memory; "symbol" is there when the same file is
// loaded in this process too and has a symbol for that place (return addresses are looked up as
// they are, so a call that ends a function shows as the start of the next one).
//
// A diagnostic is removed once `deliver` returns; when `deliver` throws, the error is logged and
// the diagnostic stays for the next time. A diagnostic that cannot be read or is cut off is
// renamed to end in ".damaged" and not delivered. Never throws.
void deliverPendingCrashes(const std::filesystem::path& pendingFolder,
                           const std::function<void(const Bytes& record)>& deliver);

}  // namespace ferrytide::platform
