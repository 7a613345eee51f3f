#pragma once
// KeyFrameSlot: the bookkeeping of one device key inside DeviceLink: what was last uploaded, what
// is waiting to be uploaded, and who waits for it. Plain data, guarded by the DeviceLink lock.

#include "LinkTypes.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace pixkey {

// Completion of a waiting SubmitFrame or PostCommand. Shared between the waiting caller and the
// worker, so the caller never touches the DeviceLink after it was answered.
class LinkCompletion;

struct KeyFrameSlot {
    enum HoldState : int {
        Live = 0,          // an upload is shown at once
        HeldUploaded = 1,  // uploaded but held back; a ShowFrame is owed
        HeldWaiting = 2,   // held and still waiting for its upload
    };

    bool clean = true;   // nothing needs uploading
    int firstDirty = -1; // first row (0..95) of the device picture that differs, -1 when clean
    int endDirty = -1;   // one past the last differing row, -1 when clean
    std::vector<uint8_t> pending = std::vector<uint8_t>(kPictureBytes, 0); // latest differing picture
    std::vector<uint8_t> shown = std::vector<uint8_t>(kPictureBytes, 0);   // what was last uploaded
    std::shared_ptr<LinkCompletion> waiter; // a SubmitFrame caller waiting for this upload, if any
    HoldState hold = Live;
};

} // namespace pixkey
