// CWebImage: a CFileImage whose Load takes an http:// or https:// address and downloads the
// picture first (through its own CWebFile, with that class's time and size bounds).
//
// [any-thread] as CFileImage. Load fails on anything that is not such an address, so a caller can
// try a path as a web image first and fall back to a plain CFileImage.
#pragma once

#include "CFileImage.h"
#include "CWebFile.h"

namespace pixkey {

class PIXKEY_UTILITY_EXPORT CWebImage : public CFileImage {
public:
    CWebImage();
    ~CWebImage() override;

    // The download of the last Load (status, limits). The body is dropped once decoded.
    CWebFile &webFile() { return m_file; }

protected:
    bool LoadInternal(const char *url) override;

private:
    CWebFile m_file;
};

} // namespace pixkey
