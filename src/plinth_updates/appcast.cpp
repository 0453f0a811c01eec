#include "plinth_updates/appcast.h"

#include <algorithm>
#include <charconv>
#include <pugixml.hpp>

#include "plinth_updates/app_version.h"

namespace plinth {

namespace {

std::string trimmed(std::string_view text) {
  constexpr std::string_view kSpace = " \t\r\n";
  const auto first = text.find_first_not_of(kSpace);
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(kSpace);
  return std::string(text.substr(first, last - first + 1));
}

std::string sparkleName(std::string_view localName) {
  return "sparkle:" + std::string(localName);
}

std::string childText(const pugi::xml_node& parent, const std::string& name) {
  return trimmed(parent.child(name.c_str()).text().get());
}

std::string attributeText(const pugi::xml_node& node, const std::string& name) {
  return trimmed(node.attribute(name.c_str()).value());
}

// Text and CDATA sections of the element together, so notes split over several sections (or
// text around a CDATA section) are kept whole.
std::string allText(const pugi::xml_node& element) {
  std::string text;
  for (const pugi::xml_node& child : element.children()) {
    if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) {
      text += child.value();
    }
  }
  return text;
}

// The whole text must be a non-negative number of bytes; anything else counts as unknown.
std::uint64_t parseLength(std::string_view text) {
  std::uint64_t length = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, length);
  return error == std::errc{} && stop == end ? length : 0;
}

std::string firstNonEmpty(std::string first, std::string second) {
  return first.empty() ? second : first;
}

AppcastItem readItem(const pugi::xml_node& item) {
  const pugi::xml_node enclosure = item.child("enclosure");
  AppcastItem result;
  result.title = childText(item, "title");
  result.version = firstNonEmpty(childText(item, sparkleName("version")),
                                 attributeText(enclosure, sparkleName("version")));
  result.displayVersion =
      firstNonEmpty(firstNonEmpty(childText(item, sparkleName("shortVersionString")),
                                  attributeText(enclosure, sparkleName("shortVersionString"))),
                    result.version);
  result.channel = childText(item, sparkleName("channel"));
  result.releaseNotes = allText(item.child("description"));
  result.releaseNotesLink = childText(item, sparkleName("releaseNotesLink"));
  result.downloadPage = childText(item, "link");
  result.pubDate = childText(item, "pubDate");
  result.informationalOnly = !item.child(sparkleName("informationalUpdate").c_str()).empty();
  result.url = attributeText(enclosure, "url");
  result.length = parseLength(attributeText(enclosure, "length"));
  result.edSignature = attributeText(enclosure, sparkleName("edSignature"));
  result.os = attributeText(enclosure, sparkleName("os"));
  return result;
}

bool isForOs(const AppcastItem& item, std::string_view os) {
  if (item.url.empty()) return item.informationalOnly;
  return item.os == os;
}

bool isOnChannel(const AppcastItem& item, const std::vector<std::string>& channels) {
  return item.channel.empty() ||
         std::find(channels.begin(), channels.end(), item.channel) != channels.end();
}

}  // namespace

AppcastError AppcastError::notXml(std::string_view parserDescription) {
  return AppcastError(Kind::notXml,
                      "the update feed is not XML: " + std::string(parserDescription));
}

AppcastError AppcastError::notAppcast() {
  return AppcastError(Kind::notAppcast, "the update feed has no channel");
}

std::vector<AppcastItem> parseAppcast(std::string_view xml) {
  pugi::xml_document document;
  // The default options leave a DOCTYPE's entity declarations unread, so a feed cannot make the
  // parser fetch or expand anything.
  const pugi::xml_parse_result parsed = document.load_buffer(xml.data(), xml.size());
  if (!parsed) throw AppcastError::notXml(parsed.description());

  const pugi::xml_node channel = document.child("rss").child("channel");
  if (channel.empty()) throw AppcastError::notAppcast();

  std::vector<AppcastItem> items;
  for (const pugi::xml_node& item : channel.children("item")) {
    AppcastItem read = readItem(item);
    if (!read.version.empty()) items.push_back(std::move(read));
  }
  return items;
}

std::optional<AppcastItem> newestApplicableItem(const std::vector<AppcastItem>& items,
                                                std::string_view currentVersion,
                                                std::string_view os,
                                                const std::vector<std::string>& channels) {
  const AppcastItem* newest = nullptr;
  for (const AppcastItem& item : items) {
    if (!isForOs(item, os) || !isOnChannel(item, channels)) continue;
    if (compareVersions(item.version, currentVersion) <= 0) continue;
    if (newest == nullptr || compareVersions(item.version, newest->version) > 0) newest = &item;
  }
  if (newest == nullptr) return std::nullopt;
  return *newest;
}

}  // namespace plinth
