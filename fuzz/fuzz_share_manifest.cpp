// An outbox job's manifest.json as the outbox reads it: parse, then Manifest::fromJson. Only
// json::DecodeError may come out. Every file of a manifest that decodes lies inside the job
// folder, and the manifest reads back unchanged from its own encoding.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "core/support/json.h"
#include "core/transfer/share_outbox.h"

using namespace ferrytide;

namespace {

bool insideJob(std::string_view name) {
  if (name.empty() || name.front() == '/' || name.back() == '/') return false;
  std::string_view rest = name;
  while (!rest.empty()) {
    std::string_view component = rest.substr(0, rest.find('/'));
    if (component.empty() || component == "." || component == "..") return false;
    rest.remove_prefix(std::min(rest.size(), component.size() + 1));
  }
  return name.find('\0') == std::string_view::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ShareOutbox::Manifest manifest;
  try {
    manifest = ShareOutbox::Manifest::fromJson(json::parse(ByteView(data, size)));
  } catch (const json::DecodeError&) {
    return 0;
  }
  for (const std::string& name : manifest.files) {
    if (!insideJob(name)) std::abort();
  }
  const std::string encoded = json::encodeCompact(manifest.toJson());
  if (!(ShareOutbox::Manifest::fromJson(json::parse(encoded)) == manifest)) std::abort();
  return 0;
}
