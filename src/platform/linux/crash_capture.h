#pragma once

#include <filesystem>

#include "core/support/error.h"

namespace ferrytide::platform {

class CrashCaptureError : public Error {
 public:
  using Error::Error;
};

// Pending diagnostics end in this; one that could not be read is renamed to end in
// ".crash.damaged".
inline constexpr const char* kPendingCrashExtension = ".crash";

// Installs handlers for SIGSEGV, SIGABRT, SIGBUS, SIGFPE and SIGILL that write one diagnostic
// into `pendingFolder` and then let the signal end the process as it would have without them.
// The next start turns the diagnostic into a crash record (deliverPendingCrashes). Call once,
// early, from the main thread: the alternate signal stack (so that a stack overflow can still
// be reported) is that thread's. Throws CrashCaptureError, or file_io::FileError when the
// folder cannot be made.
//
// A diagnostic is text, written by the handler with nothing but open, read, write and close,
// one "key value" line each; "address" only for faults the kernel raised, one "frame" line per
// return address, innermost first, then this process's memory map so that the addresses can be
// placed in their files later, and "end" last so that a cut-off file shows:
//
//   ferrytide-crash 1
//   signal 11
//   name SIGSEGV
//   address 0x7f1c2d3e4000
//   pid 4242
//   version 0.1.0
//   time_epoch_ms 1733480000250
//   frame 0x55f0a1b2c3d4
//   frame 0x7f1c2d2a1b20
//   maps
//   55f0a1b00000-55f0a1b20000 r--p 00000000 fe:01 1311 /usr/bin/ferrytide
//   ...
//   end
void installCrashCapture(const std::filesystem::path& pendingFolder);

}  // namespace ferrytide::platform
