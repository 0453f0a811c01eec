#pragma once

#include <string>
#include <vector>

#include "core/transfer/pasteboard_writer.h"

namespace ferrytide::testing {

// A clipboard in memory. `textReads` counts how often the text was read, so a test can tell
// that a secret was never looked at.
class FakePasteboard : public PasteboardWriter {
 public:
  PasteboardTypes types;
  std::string plainText;
  int textReads = 0;
  std::vector<std::string> written;

  PasteboardTypes declaredTypes() override { return types; }

  std::string read() override {
    ++textReads;
    return plainText;
  }

  void write(std::string text) override {
    written.push_back(text);
    types = PasteboardTypes{.formats = {"text/plain"}, .passwordManagerHint = ""};
    plainText = std::move(text);
  }
};

}  // namespace ferrytide::testing
