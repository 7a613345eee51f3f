#pragma once

#include <memory>

namespace pixkey {

class FaceHandOff;

// The main thread's side of face-changed notifications. A host with an event loop implements it by
// queueing the delivery onto that loop; `MainThreadQueue` is the plain implementation that a
// program pumps itself. Owned by the host; must outlive every instance that uses it.
class FaceSink {
public:
    virtual ~FaceSink() = default;

    // [any-thread] Queues `handOff` for delivery on the main thread (`FaceHandOff::deliver` with the
    // host's face handler). Must not block and must not deliver on the calling thread.
    virtual void post(std::shared_ptr<FaceHandOff> handOff) = 0;
};

} // namespace pixkey
