#include "plinth_updates/appcast.h"

#include <gtest/gtest.h>

#include <string>

#include "plinth_updates/app_version.h"

namespace plinth {
namespace {

int order(std::string_view a, std::string_view b) {
  const int result = compareVersions(a, b);
  return (result > 0) - (result < 0);
}

TEST(AppVersionTest, OrdersReleasesPreReleasesAndGarbage) {
  struct Case {
    const char* older;
    const char* newer;
  };
  const Case ascending[] = {
      {"1.9", "1.10"},
      {"1.2", "1.2.1"},
      {"1.2dev1", "1.2a1"},
      {"1.2a1", "1.2alpha2"},
      {"1.2a2", "1.2b1"},
      {"1.2b1", "1.2rc1"},
      {"1.2pre1", "1.2rc2"},
      {"1.2rc2", "1.2foo1"},
      {"1.2foo1", "1.2zeta1"},
      {"1.2zeta1", "1.2"},
      {"1.2", "1.2.1a1"},
      {"1.2a1dev1", "1.2a1"},
      {"99999999999999999999999999998", "99999999999999999999999999999"},
      {"9999999999999999999999999999", "10000000000000000000000000000"},
      {"", "0"},
      {"garbage", "0.0.1"},
      {"v2.0", "1.0"},
      {"1.0\xC3\xA9", "0.1"},
      {"1.0/2", "0.1"},
  };
  for (const Case& c : ascending) {
    EXPECT_EQ(order(c.older, c.newer), -1) << c.older << " < " << c.newer;
    EXPECT_EQ(order(c.newer, c.older), 1) << c.newer << " > " << c.older;
  }
  const Case same[] = {
      {"1.0", "1.0.0"},    {"1.2-beta.3", "1.2b3"}, {"1.2RC1", "1.2rc1"},
      {"1.2alpha", "1.2a0"}, {"01.002", "1.2"},     {"1_2+3 4", "1.2.3.4"},
      {"", ""},
  };
  for (const Case& c : same) {
    EXPECT_EQ(order(c.older, c.newer), 0) << c.older << " == " << c.newer;
  }
}

const char* const kFeed = R"(<?xml version="1.0" encoding="utf-8"?>
<rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle">
  <channel>
    <title>Ferrytide</title>
    <item>
      <title>Version 1.3</title>
      <sparkle:version>1.3</sparkle:version>
      <sparkle:shortVersionString>1.3 (spring)</sparkle:shortVersionString>
      <description><![CDATA[<p>Faster & <b>safer</b></p>]]></description>
      <pubDate>Mon, 07 Dec 2026 10:00:00 +0000</pubDate>
      <link>https://example.org/1.3</link>
      <sparkle:releaseNotesLink>https://example.org/notes/1.3</sparkle:releaseNotesLink>
      <unknown><nested/></unknown>
      <enclosure url="https://example.org/a-1.3.tar.xz" length="123456" sparkle:os="linux"
                 sparkle:edSignature="c2lnbmF0dXJl" type="application/octet-stream"/>
    </item>
    <item>
      <title>Version 1.5 for another system</title>
      <enclosure url="https://example.org/a-1.5.zip" sparkle:version="1.5" sparkle:os="macos"/>
    </item>
    <item>
      <title>Version 1.4 beta</title>
      <sparkle:channel>beta</sparkle:channel>
      <enclosure url="https://example.org/a-1.4b1.tar.xz" length="-5"
                 sparkle:version="1.4b1" sparkle:shortVersionString="1.4 beta 1" sparkle:os="linux"/>
    </item>
    <item>
      <title>No version</title>
      <enclosure url="https://example.org/x.tar.xz" sparkle:os="linux"/>
    </item>
    <item>
      <title>Version 1.3.1</title>
      <description>&lt;p&gt;Fixes&lt;/p&gt;</description>
      <enclosure url="https://example.org/a-1.3.1.tar.xz" length="12x"
                 sparkle:version="1.3.1" sparkle:os="linux"/>
    </item>
    <item>
      <title>Version 1.2</title>
      <sparkle:version>1.2</sparkle:version>
      <enclosure url="https://example.org/a-1.2.tar.xz" sparkle:os="linux"/>
    </item>
  </channel>
</rss>)";

TEST(AppcastTest, ReadsElementsAttributesAndNotes) {
  const auto items = parseAppcast(kFeed);
  ASSERT_EQ(items.size(), 5u);

  const AppcastItem& first = items[0];
  EXPECT_EQ(first.title, "Version 1.3");
  EXPECT_EQ(first.version, "1.3");
  EXPECT_EQ(first.displayVersion, "1.3 (spring)");
  EXPECT_EQ(first.channel, "");
  EXPECT_EQ(first.releaseNotes, "<p>Faster & <b>safer</b></p>");
  EXPECT_EQ(first.releaseNotesLink, "https://example.org/notes/1.3");
  EXPECT_EQ(first.downloadPage, "https://example.org/1.3");
  EXPECT_EQ(first.pubDate, "Mon, 07 Dec 2026 10:00:00 +0000");
  EXPECT_FALSE(first.informationalOnly);
  EXPECT_EQ(first.url, "https://example.org/a-1.3.tar.xz");
  EXPECT_EQ(first.length, 123456u);
  EXPECT_EQ(first.edSignature, "c2lnbmF0dXJl");
  EXPECT_EQ(first.os, "linux");

  EXPECT_EQ(items[1].version, "1.5");
  EXPECT_EQ(items[1].displayVersion, "1.5");
  EXPECT_EQ(items[2].version, "1.4b1");
  EXPECT_EQ(items[2].displayVersion, "1.4 beta 1");
  EXPECT_EQ(items[2].channel, "beta");
  EXPECT_EQ(items[2].length, 0u);
  EXPECT_EQ(items[3].title, "Version 1.3.1");
  EXPECT_EQ(items[3].releaseNotes, "<p>Fixes</p>");
  EXPECT_EQ(items[3].length, 0u);
  EXPECT_EQ(items[4].version, "1.2");
}

TEST(AppcastTest, PicksTheNewestItemForThisSystemAndChannel) {
  const auto items = parseAppcast(kFeed);
  const auto onDefault = newestApplicableItem(items, "1.2", "linux", {});
  ASSERT_TRUE(onDefault.has_value());
  EXPECT_EQ(onDefault->version, "1.3.1");

  const auto onBeta = newestApplicableItem(items, "1.2", "linux", {"beta"});
  ASSERT_TRUE(onBeta.has_value());
  EXPECT_EQ(onBeta->version, "1.4b1");

  EXPECT_FALSE(newestApplicableItem(items, "1.3.1", "linux", {}).has_value());
  EXPECT_FALSE(newestApplicableItem(items, "1.4", "linux", {"beta"}).has_value());
  EXPECT_FALSE(newestApplicableItem(items, "1.0", "windows", {}).has_value());
}

TEST(AppcastTest, InformationalItemsNeedNoDownload) {
  const auto items = parseAppcast(R"(<rss><channel>
      <item><sparkle:version>2.0</sparkle:version><sparkle:informationalUpdate/></item>
      <item><sparkle:version>3.0</sparkle:version></item>
      <item><sparkle:version>4.0</sparkle:version><informationalUpdate/></item>
      <item><version>5.0</version></item>
    </channel></rss>)");
  ASSERT_EQ(items.size(), 3u);
  EXPECT_TRUE(items[0].informationalOnly);
  EXPECT_FALSE(items[2].informationalOnly);
  const auto newest = newestApplicableItem(items, "1.0", "linux", {});
  ASSERT_TRUE(newest.has_value());
  EXPECT_EQ(newest->version, "2.0");
}

TEST(AppcastTest, RejectsWhatIsNotAFeed) {
  struct Case {
    std::string feed;
    AppcastError::Kind kind;
    std::string description;
  };
  const Case cases[] = {
      {"", AppcastError::Kind::notXml, "the update feed is not XML: No document element found"},
      {"<rss><channel>", AppcastError::Kind::notXml,
       "the update feed is not XML: Start-end tags mismatch"},
      {"<rss><channel><item a=1/></channel></rss>", AppcastError::Kind::notXml,
       "the update feed is not XML: Error parsing element attribute"},
      {"<rss version=\"2.0\"><title/></rss>", AppcastError::Kind::notAppcast,
       "the update feed has no channel"},
      {"<feed><channel/></feed>", AppcastError::Kind::notAppcast,
       "the update feed has no channel"},
  };
  for (const Case& c : cases) {
    try {
      parseAppcast(c.feed);
      ADD_FAILURE() << "accepted " << c.feed;
    } catch (const AppcastError& error) {
      EXPECT_EQ(error.kind(), c.kind) << c.feed;
      EXPECT_EQ(std::string(error.what()), c.description) << c.feed;
    }
  }
  EXPECT_TRUE(parseAppcast("<rss><channel/></rss>").empty());
}

}  // namespace
}  // namespace plinth
