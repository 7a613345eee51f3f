// Compiled as C++20 with the helper, so both headers stay valid together.
#include "pixkey_plugin.hpp"

#include <cstddef>

static_assert(offsetof(PkxPluginOps, Paint) == 0 * sizeof(void *));
static_assert(offsetof(PkxPluginOps, OnEvent) == 6 * sizeof(void *));

namespace {
class Probe : public pkx::Plugin<Probe> {
public:
    int Paint(PkxSurface &) { return 1; }
};
} // namespace

int pkx_check_cxx()
{
    Probe probe;
    PkxSurface surface{nullptr, 96, 96, 288};
    return probe.ops->Paint(&probe, &surface) + probe.ops->OnEvent(&probe, 1);
}
