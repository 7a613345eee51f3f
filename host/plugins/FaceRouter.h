#pragma once

#include <functional>

namespace pixkey {

class DeviceLink;
class KeyRow;
class PluginInstance;

// Takes faces from instances to the keys: turns each face for the keypad's orientation and
// submits it, without waiting, for the device key that shows its slot. Also the main thread's
// answer to a face-changed notification. Main thread only; the link and the row must outlive it.
class FaceRouter {
public:
    FaceRouter(DeviceLink &link, const KeyRow &row, int orientation = 0);

    // The keypad's orientation (0..3) for the faces sent from now on.
    void setOrientation(int orientation) { m_orientation = orientation; }
    int orientation() const { return m_orientation; }

    // Called with the slot after a face was sent for it (to refresh key previews, for example).
    void setFaceSent(std::function<void(int slot)> faceSent) { m_faceSent = std::move(faceSent); }

    // Sends the instance's current face for `slot`; false (nothing sent) when it has no face.
    bool SendFace(int slot, PluginInstance &instance);
    // Sends an all-black face for `slot`.
    void SendBlank(int slot);
    // For slots 0, 1, 2: the face of the instance there, or black when the slot is empty. An
    // instance without a face yet sends nothing; its first paint will.
    void SendAllFaces();

    // A face-changed notification: the first slot (0, 1, 2) that holds `instance` gets its face.
    // Returns that slot, or -1 when the instance is not on the keys (nothing is sent).
    int faceChanged(PluginInstance &instance);

private:
    DeviceLink &m_link;
    const KeyRow &m_row;
    int m_orientation;
    std::function<void(int)> m_faceSent;
};

} // namespace pixkey
