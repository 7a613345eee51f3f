// CLocalizableTextRenderer: a CTextRenderer for user-visible texts in any language. Same fonts as
// CTextRenderer; characters the bundled font lacks (CJK, for example) are taken from the system's
// fonts instead of being drawn as boxes.
//
// Threads and application requirements as CTextRenderer.
#pragma once

#include "CTextRenderer.h"

namespace pixkey {

class PIXKEY_UTILITY_EXPORT CLocalizableTextRenderer : public CTextRenderer {
public:
    bool LoadFont(const char *resourceName) override;
};

} // namespace pixkey
