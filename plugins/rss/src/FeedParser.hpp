// FeedParser: reads an RSS 2.0 or RSS 1.0 (RDF) document from memory into at most seven items,
// and finds the feed link of a web page that is not XML.
//
// Pure functions of their input; [any-thread] (the two patterns are compiled once and shared).
// Documents are parsed with tinyxml2, which expands no DTD entities and limits element depth, so
// entity tricks and deep nesting cost bounded time and memory.
#pragma once

#include "FeedItem.hpp"

#include <cstddef>
#include <string>
#include <vector>

namespace pixkey::rss {

inline constexpr std::size_t kMaxItems = 7;

struct ParsedFeed {
    bool ok = false;             // the bytes are an XML document
    std::vector<FeedItem> items; // when ok: in document order, at most kMaxItems
    std::string channelLink;     // when ok: text of channel/link, empty when absent
    std::string error;           // when not ok: the parser's description of the fault
    std::string feedLink;        // when not ok: the page's feed link as written (may be relative)
};

// Parses `size` bytes at `data` (NULs allowed).
ParsedFeed parseFeed(const char *data, std::size_t size);

// The value of the first match of the feed-link pattern (a <link> of type application/rss+xml and
// its href) or of the picture pattern (the src of an <img>) in `text`; empty without a match.
std::string findFeedLink(const std::string &text);
std::string findPicture(const std::string &text);

// The encoding named by the XML declaration at the start of `text` ("" without one).
std::string declaredEncoding(const char *text, std::size_t size);

// `bytes` in character set `encoding` as UTF-8. The empty name and any name that upper-cased
// occurs within "UTF-8 UTF8" read as UTF-8 (invalid sequences become U+FFFD) with no-break spaces
// made plain spaces; other names go through iconv. Empty when the set is unknown or the bytes are
// not valid in it.
std::string toUtf8(const std::string &bytes, const std::string &encoding);

// A picture address as the feed wrote it, completed: an address without a scheme of its own is
// appended to `channelLink` as it stands (no separator is added).
std::string completeAddress(const std::string &address, const std::string &channelLink);

// The feed link `link` found in the page at `pageAddress`, made absolute against it, with the
// page's "&amp;" read as '&'. Empty when it does not lead to a web address.
std::string resolveFeedLink(const std::string &link, const std::string &pageAddress);

} // namespace pixkey::rss
