#pragma once

// Appcast feeds and server answers as the update tests serve them.

#include <string>

#include "support/mock_http_server.h"

namespace plinth::testing {

inline std::string item(const std::string& version, const std::string& os, const std::string& url,
                 std::size_t length, const std::string& signature,
                 const std::string& extra = "") {
  return "<item><title>Ferrytide " + version + "</title><sparkle:version>" + version +
         "</sparkle:version><description><![CDATA[<p>Notes of " + version +
         "</p>]]></description><sparkle:releaseNotesLink>https://notes.example/" + version +
         "</sparkle:releaseNotesLink><link>https://download.example/</link>" + extra +
         "<enclosure url=\"" + url + "\" length=\"" + std::to_string(length) +
         "\" type=\"application/octet-stream\" sparkle:os=\"" + os + "\" sparkle:edSignature=\"" +
         signature + "\"/></item>";
}

inline ferrytide::testing::MockHttpServer::Reply reply(int status, std::string body,
                           std::string type = "application/octet-stream") {
  ferrytide::testing::MockHttpServer::Reply made;
  made.status = status;
  made.body = std::move(body);
  made.contentType = std::move(type);
  return made;
}

inline std::string feed(const std::string& items) {
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?><rss version=\"2.0\" "
         "xmlns:sparkle=\"https://ferrytide.example/xml-namespaces/appcast\"><channel>"
         "<title>Ferrytide</title>" +
         items + "</channel></rss>";
}

}  // namespace plinth::testing
