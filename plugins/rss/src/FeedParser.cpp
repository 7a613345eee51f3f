#include "FeedParser.hpp"

#include <pixkey/utility/Regex.h>

#include <QString>
#include <QUrl>

#include <tinyxml2.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <iconv.h>
#include <memory>

namespace pixkey::rss {

namespace {

constexpr int kPatternOptions = PCRE_CASELESS | PCRE_DOTALL | PCRE_EXTRA;

// The blanks of the patterns are the control characters themselves.
constexpr const char *kFeedLinkPattern =
    "<link[ \r\n\t]+[^>]*type[ \r\n\t]*=[ \r\n\t]*\"application\\/rss\\+xml\"[^>]*href[ \r\n\t]*=[ \r\n\t]*"
    "(['\"]([^'\"]+)['\"]|([^> \r\n\t]+))";
constexpr const char *kPicturePattern =
    "<img[ \r\n\t]+[^>]*src[ \r\n\t]*=[ \r\n\t]*(['\"]([^'\"]+)['\"]|([^> \r\n\t]+))";

struct PatternDeleter {
    void operator()(pcre *code) const { pcre_free(code); }
};
using Pattern = std::unique_ptr<pcre, PatternDeleter>;

Pattern compile(const char *pattern)
{
    const char *error = nullptr;
    int offset = 0;
    return Pattern(pcre_compile(pattern, kPatternOptions, &error, &offset, nullptr));
}

// The first match's group 2, or group 3 when group 2 is empty.
std::string firstValue(const pcre *code, const std::string &text)
{
    if (!code || text.size() > std::size_t(INT32_MAX))
        return {};
    int ovector[16];
    const int rc = pcre_exec(code, nullptr, text.data(), int(text.size()), 0, 0, ovector, 16);
    if (rc < 0)
        return {};
    auto group = [&](int g) -> std::string {
        if (rc != 0 && g >= rc)
            return {};
        const int start = ovector[2 * g];
        const int end = ovector[2 * g + 1];
        return start < 0 || end < start ? std::string() : text.substr(std::size_t(start), std::size_t(end - start));
    };
    std::string value = group(2);
    return value.empty() ? group(3) : value;
}

void replaceAll(std::string &text, const std::string &from, const std::string &to)
{
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

std::string childText(const tinyxml2::XMLElement *parent, const char *name)
{
    const tinyxml2::XMLElement *child = parent->FirstChildElement(name);
    const char *text = child ? child->GetText() : nullptr;
    return text ? std::string(text) : std::string();
}

// The i-th child element `name` of `parent`, or null.
const tinyxml2::XMLElement *nthChild(const tinyxml2::XMLElement *parent, const char *name, std::size_t i)
{
    if (!parent)
        return nullptr;
    const tinyxml2::XMLElement *e = parent->FirstChildElement(name);
    for (; e && i > 0; --i)
        e = e->NextSiblingElement(name);
    return e;
}

bool caselessContains(const std::string &text, const char *needle)
{
    std::string lower = text;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return lower.find(needle) != std::string::npos;
}

FeedItem parseItem(const tinyxml2::XMLElement *element, const std::string &encoding, const std::string &channelLink)
{
    FeedItem item;
    item.title = childText(element, "title");
    item.link = childText(element, "link");
    item.description = childText(element, "description");
    for (std::string *text : {&item.title, &item.description}) {
        replaceAll(*text, "&laquo;", "\"");
        replaceAll(*text, "&raquo;", "\"");
    }
    item.titleText = toUtf8(item.title, encoding);
    item.descriptionText = toUtf8(item.description, encoding);

    for (const tinyxml2::XMLElement *enclosure = element->FirstChildElement("enclosure"); enclosure;
         enclosure = enclosure->NextSiblingElement("enclosure")) {
        const char *type = enclosure->Attribute("type");
        const char *url = enclosure->Attribute("url");
        if (type && url && std::string(type).find("image/") != std::string::npos) {
            item.imageUrl = completeAddress(url, channelLink);
            break;
        }
    }
    if (item.imageUrl.empty()) {
        const std::string picture = findPicture(item.description);
        if (!picture.empty())
            item.imageUrl = completeAddress(picture, channelLink);
    }
    return item;
}

} // namespace

std::string findFeedLink(const std::string &text)
{
    static const Pattern pattern = compile(kFeedLinkPattern);
    return firstValue(pattern.get(), text);
}

std::string findPicture(const std::string &text)
{
    static const Pattern pattern = compile(kPicturePattern);
    return firstValue(pattern.get(), text);
}

std::string declaredEncoding(const char *text, std::size_t size)
{
    std::string head(text, std::min<std::size_t>(size, 512));
    std::size_t start = 0;
    if (head.compare(0, 3, "\xEF\xBB\xBF") == 0)
        start = 3;
    if (head.compare(start, 5, "<?xml") != 0)
        return {};
    const std::size_t end = head.find("?>", start);
    if (end == std::string::npos)
        return {};
    const std::string declaration = head.substr(start, end - start);
    const std::size_t key = declaration.find("encoding");
    if (key == std::string::npos)
        return {};
    std::size_t at = declaration.find_first_not_of(" \t\r\n", key + 8);
    if (at == std::string::npos || declaration[at] != '=')
        return {};
    at = declaration.find_first_not_of(" \t\r\n", at + 1);
    if (at == std::string::npos || (declaration[at] != '"' && declaration[at] != '\''))
        return {};
    const std::size_t close = declaration.find(declaration[at], at + 1);
    if (close == std::string::npos)
        return {};
    return declaration.substr(at + 1, close - at - 1);
}

std::string toUtf8(const std::string &bytes, const std::string &encoding)
{
    std::string upper = encoding;
    std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return char(std::toupper(c)); });
    if (std::string_view("UTF-8 UTF8").find(upper) != std::string_view::npos) {
        QString text = QString::fromUtf8(bytes.data(), qsizetype(bytes.size()));
        text.replace(QChar(0x00A0), QLatin1Char(' '));
        return text.toStdString();
    }
    // Only plain character-set names reach iconv (no "//" suffixes or other options).
    if (encoding.size() > 64 || !std::all_of(encoding.begin(), encoding.end(), [](unsigned char c) {
            return std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == ':';
        }))
        return {};
    iconv_t converter = iconv_open("UTF-8", encoding.c_str());
    if (converter == iconv_t(-1))
        return {};
    std::string out(bytes.size() * 4 + 16, '\0');
    char *in = const_cast<char *>(bytes.data());
    std::size_t inLeft = bytes.size();
    char *to = out.data();
    std::size_t outLeft = out.size();
    bool ok = true;
    while (inLeft > 0) {
        if (iconv(converter, &in, &inLeft, &to, &outLeft) != std::size_t(-1))
            continue;
        if (errno == E2BIG) {
            const std::size_t used = std::size_t(to - out.data());
            out.resize(out.size() * 2);
            to = out.data() + used;
            outLeft = out.size() - used;
            continue;
        }
        ok = false; // a byte sequence the set does not have, or one cut short
        break;
    }
    if (ok && iconv(converter, nullptr, nullptr, &to, &outLeft) == std::size_t(-1))
        ok = false;
    iconv_close(converter);
    if (!ok)
        return {};
    out.resize(std::size_t(to - out.data()));
    return out;
}

std::string completeAddress(const std::string &address, const std::string &channelLink)
{
    // Addresses with a scheme of their own stand as they are; "https:" counts like "http:".
    if (caselessContains(address, "http:") || caselessContains(address, "https:"))
        return address;
    return channelLink + address;
}

std::string resolveFeedLink(const std::string &link, const std::string &pageAddress)
{
    std::string written = link;
    replaceAll(written, "&amp;", "&");
    const QUrl base(QString::fromStdString(pageAddress));
    const QUrl resolved = base.resolved(QUrl(QString::fromStdString(written)));
    const QString scheme = resolved.scheme().toLower();
    if (!resolved.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return {};
    return resolved.toString(QUrl::FullyEncoded).toStdString();
}

ParsedFeed parseFeed(const char *data, std::size_t size)
{
    ParsedFeed result;
    tinyxml2::XMLDocument document;
    if (!data || document.Parse(data, size) != tinyxml2::XML_SUCCESS || !document.RootElement()) {
        result.error = data ? document.ErrorStr() : "Empty document";
        if (result.error.empty())
            result.error = "No root element";
        if (data)
            result.feedLink = findFeedLink(std::string(data, size));
        return result;
    }
    result.ok = true;
    const std::string encoding = declaredEncoding(data, size);
    const tinyxml2::XMLElement *root = document.RootElement();
    const tinyxml2::XMLElement *channel = root->FirstChildElement("channel");
    if (channel)
        result.channelLink = childText(channel, "link");
    for (std::size_t i = 0; i < kMaxItems; ++i) {
        const tinyxml2::XMLElement *element = nthChild(channel, "item", i);
        if (!element)
            element = nthChild(root, "item", i);
        if (!element)
            break;
        result.items.push_back(parseItem(element, encoding, result.channelLink));
    }
    return result;
}

} // namespace pixkey::rss
