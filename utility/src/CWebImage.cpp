#include "pixkey/utility/CWebImage.h"

#include <strings.h>

namespace pixkey {

CWebImage::CWebImage() = default;
CWebImage::~CWebImage() = default;

bool CWebImage::LoadInternal(const char *url)
{
    if (strncasecmp(url, "http://", 7) != 0 && strncasecmp(url, "https://", 8) != 0)
        return false;
    if (!m_file.Retrieve(url))
        return false;
    const bool decoded = LoadFromMemory(m_file.data, m_file.size);
    // Keep the status for the caller, drop the encoded bytes.
    const int status = m_file.status;
    m_file.Clear();
    m_file.status = status;
    return decoded;
}

} // namespace pixkey
