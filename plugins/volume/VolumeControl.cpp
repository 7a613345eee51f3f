#include "VolumeControl.h"

#include "AlsaVolumeControl.h"
#include "PulseVolumeControl.h"

namespace volume {

namespace {
// How long Create may wait for a sound server's answer on the host's main thread. A local server
// answers within milliseconds and a missing one at once; only a hung one costs the whole time.
constexpr std::chrono::milliseconds kServerProbeLimit{300};
} // namespace

std::unique_ptr<VolumeControl> CreateVolumeControl()
{
    if (PulseVolumeControl::ServerAnswers({}, kServerProbeLimit))
        return std::make_unique<PulseVolumeControl>();
    return std::make_unique<AlsaVolumeControl>();
}

} // namespace volume
