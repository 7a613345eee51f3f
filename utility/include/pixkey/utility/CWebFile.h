// CWebFile: downloads one document over HTTP or HTTPS into memory, blocking the calling thread.
//
// [any-thread] Several objects may download at the same time on different threads; one object is
// used by one thread at a time. Redirects are followed (http and https only). A download is bounded
// in time (connect and total time-out) and in size, so a slow or huge answer cannot stall a key or
// eat memory. The object owns `data` and frees it on the next Retrieve and in its destructor.
#pragma once

#include "UtilityExport.h"

#include <chrono>
#include <cstddef>

namespace pixkey {

class PIXKEY_UTILITY_EXPORT CWebFile {
public:
    // `status` when no HTTP answer was received (no connection, refused, name not resolved, time-out
    // before the answer's status line, a URL that is not http or https).
    static constexpr int kStatusNoConnection = 900;

    static constexpr std::chrono::milliseconds kDefaultConnectTimeout{10'000};
    static constexpr std::chrono::milliseconds kDefaultTotalTimeout{30'000};
    static constexpr std::size_t kDefaultMaxSize = 8u * 1024 * 1024;

    CWebFile();
    virtual ~CWebFile();
    CWebFile(const CWebFile &) = delete;
    CWebFile &operator=(const CWebFile &) = delete;

    // Fetches `url`. `user` and `password`, when both are given, are sent as HTTP basic
    // authentication; callers pass null. Returns true when a 2xx answer arrived whole: `data` then
    // holds its body followed by a NUL (the body itself may contain NULs; `size` excludes the
    // terminator). On failure returns false, `data` is null and `size` 0; `status` is the final
    // HTTP status (401, 404, 500, ...) or kStatusNoConnection. An answer larger than the size limit
    // or slower than the total time-out fails with the HTTP status received so far (or 900 when
    // none was).
    bool Retrieve(const char *url, const char *user = nullptr, const char *password = nullptr);

    // Frees the document; `data` null, `size` 0, `status` 0.
    void Clear();

    // Limits for the following Retrieve calls. Zero or negative durations and a zero size fall back
    // to the defaults.
    void setTimeouts(std::chrono::milliseconds connect, std::chrono::milliseconds total);
    void setMaxSize(std::size_t bytes);

    std::size_t size = 0; // bytes in data, without the terminating NUL
    char *data = nullptr; // NUL-terminated body, null while nothing is loaded; owned by the object
    int status = 0;       // HTTP status of the last Retrieve, 900 without an answer, 0 before any
    // Seconds the server asked the client to wait before asking again (its Retry-After header, as
    // a number or a date), 0 when the last answer said nothing.
    long retryAfter = 0;

private:
    std::chrono::milliseconds m_connectTimeout = kDefaultConnectTimeout;
    std::chrono::milliseconds m_totalTimeout = kDefaultTotalTimeout;
    std::size_t m_maxSize = kDefaultMaxSize;
};

} // namespace pixkey
