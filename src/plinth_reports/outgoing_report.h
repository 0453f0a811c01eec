#pragma once

#include <map>
#include <string>
#include <vector>

#include "core/support/bytes.h"
#include "core/support/json.h"

namespace plinth {

// One problem report as it is uploaded, and as it waits in the outbox:
//
//   {"fields":{"build":"1","kind":"problem","model":"ThinkPad X1","os":"Debian …",
//              "version":"0.1.0"},
//    "files":[{"data":"MjAyNS0w…","filename":"errors.log","part":"errors"}]}
//
// File contents are Base64 in the JSON.
struct OutgoingReport {
  struct File {
    std::string part;  // the form field name
    std::string filename;
    ferrytide::Bytes data;
    bool operator==(const File&) const = default;
  };

  std::map<std::string, std::string> fields;
  std::vector<File> files;

  ferrytide::json::Value toJson() const;
  // Throws json::DecodeError.
  static OutgoingReport fromJson(const ferrytide::json::Value& value);

  bool operator==(const OutgoingReport&) const = default;
};

}  // namespace plinth
