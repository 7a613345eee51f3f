// FeedItem: one item of a feed as the key shows it. Plain value.
#pragma once

#include <string>

namespace pixkey::rss {

struct FeedItem {
    std::string link;            // text of <link>, opened by a key press when it is a web address
    std::string imageUrl;        // picture address, completed; empty when the item has none
    std::string title;           // text of <title> as the document's bytes ("&laquo;"/"&raquo;" made '"')
    std::string description;     // text of <description>, likewise
    std::string titleText;       // `title` converted to UTF-8 from the document's character set;
                                 // empty when that set is unknown or the bytes do not fit it
    std::string descriptionText; // `description`, likewise

    bool operator==(const FeedItem &) const = default;
};

} // namespace pixkey::rss
