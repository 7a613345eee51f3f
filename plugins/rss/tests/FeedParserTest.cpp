// Reading feeds and pages: both RSS generations, character sets, the two patterns, address
// completion, and documents written to hurt.
#include "FeedParser.hpp"
#include "RssSettings.hpp"
#include "UpdateInterval.hpp"

#include <gtest/gtest.h>

#include <string>

using namespace pixkey::rss;

namespace {

ParsedFeed parse(const std::string &text)
{
    return parseFeed(text.data(), text.size());
}

} // namespace

TEST(FeedParserTest, Rss2ItemsWithEnclosureDescriptionPictureAndChannelLink)
{
    std::string feed = R"(<?xml version="1.0" encoding="UTF-8"?>
<rss version="2.0"><channel><title>News</title><link>http://news.example/</link>
<item><title>One</title><link>http://news.example/1</link><description>first</description>
  <enclosure url="http://img.example/1.jpg" type="image/jpeg" length="100"/></item>
<item><title>Two</title><link>http://news.example/2</link>
  <enclosure url="http://media.example/2.mp3" type="audio/mpeg"/>
  <description><![CDATA[<p>text <IMG class='x' SRC='pics/2.png'> more</p>]]></description></item>
<item><title>Three</title><description>&lt;img src=http://img.example/3.gif alt=x&gt;</description></item>
)";
    for (int i = 4; i <= 9; ++i)
        feed += "<item><title>Item " + std::to_string(i) + "</title></item>\n";
    feed += "</channel></rss>";

    const ParsedFeed parsed = parse(feed);
    ASSERT_TRUE(parsed.ok) << parsed.error;
    EXPECT_EQ(parsed.channelLink, "http://news.example/");
    ASSERT_EQ(parsed.items.size(), 7u); // at most seven, in document order
    EXPECT_EQ(parsed.items[0].title, "One");
    EXPECT_EQ(parsed.items[0].titleText, "One");
    EXPECT_EQ(parsed.items[0].link, "http://news.example/1");
    EXPECT_EQ(parsed.items[0].imageUrl, "http://img.example/1.jpg");
    // An enclosure that is no picture does not count; the description's picture does, its
    // relative address appended to the channel link as it stands.
    EXPECT_EQ(parsed.items[1].imageUrl, "http://news.example/pics/2.png");
    EXPECT_EQ(parsed.items[2].imageUrl, "http://img.example/3.gif");
    EXPECT_EQ(parsed.items[6].title, "Item 7");
}

TEST(FeedParserTest, Rss1ItemsAreChildrenOfTheRoot)
{
    const ParsedFeed parsed = parse(R"(<?xml version="1.0"?>
<rdf:RDF xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#" xmlns="http://purl.org/rss/1.0/">
 <channel rdf:about="http://site.example/"><title>Site</title><link>http://site.example/</link></channel>
 <item rdf:about="a"><title>Alpha</title><link>http://site.example/a</link></item>
 <item rdf:about="b"><title>Beta</title><link>http://site.example/b</link></item>
</rdf:RDF>)");
    ASSERT_TRUE(parsed.ok);
    EXPECT_EQ(parsed.channelLink, "http://site.example/");
    ASSERT_EQ(parsed.items.size(), 2u);
    EXPECT_EQ(parsed.items[0].title, "Alpha");
    EXPECT_EQ(parsed.items[1].link, "http://site.example/b");
}

TEST(FeedParserTest, CharacterSetOfTheDeclarationIsConverted)
{
    // "Новости" in windows-1251 and in koi8-r.
    const std::string cp1251 = "\xCD\xEE\xE2\xEE\xF1\xF2\xE8";
    const std::string koi8 = "\xEE\xCF\xD7\xCF\xD3\xD4\xC9";
    const std::string utf8 = "\xD0\x9D\xD0\xBE\xD0\xB2\xD0\xBE\xD1\x81\xD1\x82\xD0\xB8";
    for (const auto &[charset, bytes] : {std::pair<std::string, std::string>{"windows-1251", cp1251},
                                          {"KOI8-R", koi8}}) {
        const ParsedFeed parsed = parse("<?xml version=\"1.0\" encoding='" + charset +
                                        "'?><rss><channel><item><title>" + bytes +
                                        " &laquo;1&raquo;</title></item></channel></rss>");
        ASSERT_TRUE(parsed.ok) << charset << ": " << parsed.error;
        ASSERT_EQ(parsed.items.size(), 1u);
        EXPECT_EQ(parsed.items[0].title, bytes + " \"1\"");
        EXPECT_EQ(parsed.items[0].titleText, utf8 + " \"1\"") << charset;
    }
    // Latin-1: a no-break space stays what the set says it is outside UTF-8.
    EXPECT_EQ(toUtf8("caf\xE9\xA0!", "iso-8859-1"), "caf\xC3\xA9\xC2\xA0!");

    // A set nobody knows, or a name that is no plain name, leaves the text empty but the bytes.
    const ParsedFeed unknown = parse("<?xml version=\"1.0\" encoding=\"x-nonsense-42\"?><rss><channel><item>"
                                     "<title>Plain</title></item></channel></rss>");
    ASSERT_EQ(unknown.items.size(), 1u);
    EXPECT_EQ(unknown.items[0].title, "Plain");
    EXPECT_EQ(unknown.items[0].titleText, "");
    EXPECT_EQ(toUtf8("abc", "UTF-16//IGNORE"), "");
    // Bytes the set does not have fail the conversion as a whole.
    EXPECT_EQ(toUtf8("\xFF\xFE\xFD", "ascii"), "");
}

TEST(FeedParserTest, Utf8TitleLosesNoBreakSpacesAndGuillemets)
{
    const ParsedFeed parsed = parse("<rss><channel><item><title>A\xC2\xA0" "b &laquo;c&raquo;</title>"
                                    "<description>&laquo;d&raquo;\xC2\xA0</description></item></channel></rss>");
    ASSERT_TRUE(parsed.ok) << parsed.error;
    ASSERT_EQ(parsed.items.size(), 1u);
    EXPECT_EQ(parsed.items[0].title, "A\xC2\xA0" "b \"c\"");
    EXPECT_EQ(parsed.items[0].titleText, "A b \"c\"");
    EXPECT_EQ(parsed.items[0].descriptionText, "\"d\" ");
    // Names within "UTF-8 UTF8" read as UTF-8, also odd pieces of them.
    EXPECT_EQ(toUtf8("x\xC2\xA0y", "utf8"), "x y");
    EXPECT_EQ(toUtf8("x\xC2\xA0y", "F-8 U"), "x y");
}

TEST(FeedParserTest, PageFeedLinkInEveryQuotingForm)
{
    const std::string head = "<html><head><LINK rel=\"alternate\"\n\ttype = \"application/rss+xml\" title=\"t\" href";
    for (const auto &[written, expected] :
         {std::pair<std::string, std::string>{"=\"http://a.example/feed.xml\">", "http://a.example/feed.xml"},
          {"='http://a.example/single.xml'>", "http://a.example/single.xml"},
          {"= http://a.example/bare.xml >", "http://a.example/bare.xml"}}) {
        const ParsedFeed parsed = parse(head + written + "</head><body><p>unclosed<br></body></html>");
        EXPECT_FALSE(parsed.ok);
        EXPECT_FALSE(parsed.error.empty());
        EXPECT_EQ(parsed.feedLink, expected);
    }
    // Another type, or none at all.
    EXPECT_EQ(findFeedLink("<link type=\"application/atom+xml\" href=\"http://a/atom\">"), "");
    EXPECT_EQ(parse("<html><body>no feed<br></body></html>").feedLink, "");
    // Relative links are read against the page; "&amp;" in the page is '&'; non-web links go.
    EXPECT_EQ(resolveFeedLink("/rss.xml", "http://h.example:8080/news/index.html"), "http://h.example:8080/rss.xml");
    EXPECT_EQ(resolveFeedLink("feed?a=1&amp;b=2", "http://h.example/news/"), "http://h.example/news/feed?a=1&b=2");
    EXPECT_EQ(resolveFeedLink("file:///etc/passwd", "http://h.example/"), "");
    EXPECT_EQ(resolveFeedLink("javascript:alert(1)", "http://h.example/"), "");
}

TEST(FeedParserTest, AddressCompletion)
{
    EXPECT_EQ(completeAddress("img/a.jpg", "http://site.example/news"), "http://site.example/newsimg/a.jpg");
    EXPECT_EQ(completeAddress("/a.jpg", ""), "/a.jpg");
    EXPECT_EQ(completeAddress("http://cdn.example/a.jpg", "http://site.example/"), "http://cdn.example/a.jpg");
    // Secure addresses stand on their own too.
    EXPECT_EQ(completeAddress("https://cdn.example/a.jpg", "http://site.example/"), "https://cdn.example/a.jpg");
    EXPECT_EQ(declaredEncoding("\xEF\xBB\xBF<?xml version='1.0' encoding = \"koi8-r\" ?><a/>", 50), "koi8-r");
    EXPECT_EQ(declaredEncoding("<a/>", 4), "");
}

TEST(FeedParserTest, HostileDocumentsEndCleanly)
{
    // Ten thousand nested elements.
    std::string deep;
    for (int i = 0; i < 10000; ++i)
        deep += "<a>";
    const ParsedFeed nested = parse("<rss>" + deep);
    EXPECT_FALSE(nested.ok);
    EXPECT_FALSE(nested.error.empty());

    // Entity expansion: declared entities are not expanded at all.
    const ParsedFeed laughs = parse(R"(<?xml version="1.0"?>
<!DOCTYPE lolz [<!ENTITY lol "lol"><!ENTITY lol2 "&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;">
<!ENTITY lol3 "&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;">]>
<rss><channel><item><title>&lol3;</title></item></channel></rss>)");
    if (laughs.ok) {
        ASSERT_EQ(laughs.items.size(), 1u);
        EXPECT_LT(laughs.items[0].title.size(), 100u);
    }

    // An item without any child, a title of 100 KB, a NUL inside, an empty answer.
    const std::string longTitle(100 * 1024, 'w');
    const std::string odd = "<rss><channel><item/><item><title>" + longTitle + "</title></item></channel></rss>";
    const ParsedFeed items = parse(odd);
    ASSERT_TRUE(items.ok);
    ASSERT_EQ(items.items.size(), 2u);
    EXPECT_EQ(items.items[0], FeedItem{});
    EXPECT_EQ(items.items[1].titleText.size(), longTitle.size());
    EXPECT_FALSE(parse(std::string("<rss>\0</rss>", 12)).ok);
    EXPECT_FALSE(parseFeed("", 0).ok);
    EXPECT_FALSE(parseFeed(nullptr, 0).ok);
}

TEST(UpdateIntervalTest, SliderPositionsAndTexts)
{
    const std::pair<int, int> table[] = {{1, 60},     {20, 540},    {21, 600},   {40, 1710},  {41, 1800},
                                         {60, 2340},  {61, 3600},   {80, 25920}, {81, 28800}, {100, 86400}};
    for (const auto &[position, seconds] : table)
        EXPECT_EQ(secondsForPosition(position), seconds) << position;
    EXPECT_EQ(positionForSeconds(3600), 61);
    EXPECT_EQ(positionForSeconds(60), 1);
    EXPECT_EQ(positionForSeconds(1), 0);
    EXPECT_EQ(positionForSeconds(86400), 100);
    EXPECT_EQ(positionForSeconds(999999), 100);

    EXPECT_EQ(intervalText(60), "1 min");
    EXPECT_EQ(intervalText(540), "9 min");
    EXPECT_EQ(intervalText(3599), "59 min");
    EXPECT_EQ(intervalText(3600), "1:00");
    EXPECT_EQ(intervalText(25920), "7:12");
    EXPECT_EQ(intervalText(86399), "23:59");
    EXPECT_EQ(intervalText(86400), "1 day");
}

TEST(RssSettingsTest, PropertiesReadAndWrite)
{
    RssSettings settings;
    EXPECT_EQ(settings.url, "https://www.engadget.com/rss.xml");
    EXPECT_TRUE(setProperty(settings, "RefreshPeriod", " 120"));
    EXPECT_TRUE(setProperty(settings, "ShowType", "junk"));
    EXPECT_TRUE(setProperty(settings, "Item", "99999999999999999999"));
    EXPECT_TRUE(setProperty(settings, "RssURL", "http://x/feed"));
    EXPECT_FALSE(setProperty(settings, "url", "lower case is another name"));
    EXPECT_FALSE(setProperty(settings, nullptr, "x"));
    EXPECT_EQ(settings.refreshPeriod, 120);
    EXPECT_EQ(settings.showType, 0);
    EXPECT_EQ(settings.item, INT_MAX);
    EXPECT_EQ(propertyValue(settings, 5), "http://x/feed");
    EXPECT_EQ(propertyValue(settings, 1), "120");
}
