#pragma once

#include <string>

#include "core/transfer/pasteboard_writer.h"

namespace ferrytide::platform {

// The desktop's clipboard (the CLIPBOARD selection, not the primary selection) through the
// toolkit. Reading is for the main thread; a write from another thread is carried out on the
// main thread shortly after.
class SystemPasteboard final : public ferrytide::PasteboardWriter {
 public:
  PasteboardTypes declaredTypes() override;
  std::string read() override;
  void write(std::string text) override;
};

}  // namespace ferrytide::platform
