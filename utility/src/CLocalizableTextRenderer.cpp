#include "pixkey/utility/CLocalizableTextRenderer.h"

namespace pixkey {

bool CLocalizableTextRenderer::LoadFont(const char *resourceName)
{
    return loadFont(resourceName, true);
}

} // namespace pixkey
