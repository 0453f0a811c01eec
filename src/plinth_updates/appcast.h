#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/support/error.h"

namespace plinth {

// One <item> of the update feed: an RSS 2.0 item with the `sparkle:` elements and attributes.
//
//   <item>
//     <title>Version 1.3</title>
//     <sparkle:version>1.3</sparkle:version>
//     <sparkle:shortVersionString>1.3</sparkle:shortVersionString>
//     <description><![CDATA[<p>Faster transfers</p>]]></description>
//     <pubDate>Mon, 07 Dec 2026 10:00:00 +0000</pubDate>
//     <enclosure url="https://example.org/Ferrytide-1.3.tar.xz" length="123456"
//                sparkle:os="linux" sparkle:edSignature="…" type="application/octet-stream"/>
//   </item>
struct AppcastItem {
  std::string title;
  std::string version;           // sparkle:version (element, else the enclosure's attribute): compared
  std::string displayVersion;    // sparkle:shortVersionString (element or attribute), else version
  std::string channel;           // sparkle:channel; empty = the default channel
  std::string releaseNotes;      // <description> text (may be HTML)
  std::string releaseNotesLink;  // sparkle:releaseNotesLink
  std::string downloadPage;      // <link>
  std::string pubDate;           // as written
  bool informationalOnly = false;  // sparkle:informationalUpdate present
  std::string url;                 // enclosure url
  std::uint64_t length = 0;        // enclosure length (bytes); 0 when absent or not a number
  std::string edSignature;         // enclosure sparkle:edSignature (Base64), empty when absent
  std::string os;                  // enclosure sparkle:os, empty when absent
};

class AppcastError : public ferrytide::Error {
 public:
  enum class Kind { notXml, notAppcast };

  // `parserDescription` is the XML parser's own account of what is wrong.
  static AppcastError notXml(std::string_view parserDescription);
  static AppcastError notAppcast();

  Kind kind() const { return kind_; }

 private:
  AppcastError(Kind kind, std::string description)
      : Error(std::move(description)), kind_(kind) {}

  Kind kind_;
};

// Every <item> of <rss><channel>, in feed order. Items lacking a version are skipped.
// Throws AppcastError.
std::vector<AppcastItem> parseAppcast(std::string_view xml);

// The newest item that is newer than `currentVersion`, meant for `os` (the enclosure's sparkle:os
// must equal it; informational items without an enclosure are fine), on the default channel or
// one of `channels`. Nothing when there is none.
std::optional<AppcastItem> newestApplicableItem(const std::vector<AppcastItem>& items,
                                                std::string_view currentVersion,
                                                std::string_view os,
                                                const std::vector<std::string>& channels);

}  // namespace plinth
