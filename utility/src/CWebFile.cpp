#include "pixkey/utility/CWebFile.h"

#include <curl/curl.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <strings.h>
#include <vector>

namespace pixkey {

namespace {

// curl_global_init is not thread-safe in older libcurl versions; run it once for the process.
void initCurlOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct Download {
    std::vector<char> body;
    std::size_t limit = 0;
    bool tooLarge = false;
};

size_t onBody(char *chunk, size_t size, size_t count, void *user)
{
    auto *download = static_cast<Download *>(user);
    const size_t bytes = size * count;
    if (download->body.size() + bytes > download->limit) {
        download->tooLarge = true;
        return 0; // aborts the transfer with CURLE_WRITE_ERROR
    }
    download->body.insert(download->body.end(), chunk, chunk + bytes);
    return bytes;
}

bool isWebAddress(const char *url)
{
    return strncasecmp(url, "http://", 7) == 0 || strncasecmp(url, "https://", 8) == 0;
}

} // namespace

CWebFile::CWebFile() = default;

CWebFile::~CWebFile()
{
    std::free(data);
}

void CWebFile::Clear()
{
    std::free(data);
    data = nullptr;
    size = 0;
    status = 0;
    retryAfter = 0;
}

void CWebFile::setTimeouts(std::chrono::milliseconds connect, std::chrono::milliseconds total)
{
    m_connectTimeout = connect.count() > 0 ? connect : kDefaultConnectTimeout;
    m_totalTimeout = total.count() > 0 ? total : kDefaultTotalTimeout;
}

void CWebFile::setMaxSize(std::size_t bytes)
{
    m_maxSize = bytes > 0 ? bytes : kDefaultMaxSize;
}

bool CWebFile::Retrieve(const char *url, const char *user, const char *password)
{
    Clear();
    status = kStatusNoConnection;
    if (!url || !isWebAddress(url))
        return false;

    initCurlOnce();
    CURL *curl = curl_easy_init();
    if (!curl)
        return false;

    Download download;
    download.limit = m_maxSize;
    curl_easy_setopt(curl, CURLOPT_URL, url);
    // Only web addresses, also after redirects: a server must not send us to file:// or elsewhere.
#if LIBCURL_VERSION_NUM >= 0x075500
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
#else
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS, long(CURLPROTO_HTTP | CURLPROTO_HTTPS));
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS, long(CURLPROTO_HTTP | CURLPROTO_HTTPS));
#endif
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L); // no SIGALRM in a multi-threaded host
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, long(m_connectTimeout.count()));
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, long(m_totalTimeout.count()));
    curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(m_maxSize));
    curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, ""); // whatever the library can decode
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "PixkeyMini/" PIXKEY_VERSION);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, onBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &download);
    if (user && password) {
        curl_easy_setopt(curl, CURLOPT_HTTPAUTH, CURLAUTH_BASIC);
        curl_easy_setopt(curl, CURLOPT_USERNAME, user);
        curl_easy_setopt(curl, CURLOPT_PASSWORD, password);
    }

    const CURLcode result = curl_easy_perform(curl);
    long code = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &code);
    curl_off_t wait = 0;
    if (curl_easy_getinfo(curl, CURLINFO_RETRY_AFTER, &wait) == CURLE_OK && wait > 0)
        retryAfter = long(std::min<curl_off_t>(wait, LONG_MAX));
    curl_easy_cleanup(curl);

    status = code > 0 ? int(code) : kStatusNoConnection;
    if (result != CURLE_OK || download.tooLarge || code < 200 || code > 299)
        return false;

    char *copy = static_cast<char *>(std::malloc(download.body.size() + 1));
    if (!copy)
        return false;
    if (!download.body.empty())
        std::memcpy(copy, download.body.data(), download.body.size());
    copy[download.body.size()] = '\0';
    data = copy;
    size = download.body.size();
    return true;
}

} // namespace pixkey
