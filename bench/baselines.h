#pragma once

// The baselines the benchmarks compare against, measured in the same run.

#include <cstddef>
#include <filesystem>

namespace ferrytide::bench {

// Bytes per second of raw ChaCha20-Poly1305 sealing of 1 MiB buffers on one core, straight
// through the crypto library (no framing, no copies): what the cipher alone can do.
double rawSealRate(int buffers);

// Bytes per second of `dd bs=1M` writing a new `mib` MiB file into `folder` (with
// conv=fdatasync when `flush`); the file is removed afterwards. Exits the program when dd fails.
double ddRate(const std::filesystem::path& folder, std::size_t mib, bool flush);

}  // namespace ferrytide::bench
