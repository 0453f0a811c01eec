// The resume sidecar beside a ".partial", as the receiver reads it. PartialMetaIO only reads
// files, so each input is written once to "<scratch>/photo.jpg.partial.meta.json" on the memory
// file system and loaded from there. Loading never throws; a sidecar that loads saves and
// loads again to the same value.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "core/transfer/partial_meta.h"
#include "scratch_folder.h"

using namespace ferrytide;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::filesystem::path partial = fuzzing::scratchFolder() / "photo.jpg.partial";
  static const std::filesystem::path resaved = fuzzing::scratchFolder() / "again.partial";
  fuzzing::writeInput(PartialMetaIO::metaURL(partial), data, size);
  std::optional<PartialMeta> meta = PartialMetaIO::load(partial);
  if (!meta) return 0;
  PartialMetaIO::save(*meta, resaved);
  if (PartialMetaIO::load(resaved) != meta) std::abort();
  return 0;
}
