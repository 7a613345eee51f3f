#include "FaceRouter.h"

#include "DeviceLink.h"
#include "FrameTransform.h"
#include "KeyRow.h"
#include "PluginInstance.h"

#include <algorithm>
#include <vector>

namespace pixkey {

FaceRouter::FaceRouter(DeviceLink &link, const KeyRow &row, int orientation)
    : m_link(link), m_row(row), m_orientation(orientation)
{
}

bool FaceRouter::SendFace(int slot, PluginInstance &instance)
{
    QImage face = instance.face();
    if (face.isNull())
        return false;
    if (face.format() != QImage::Format_BGR888 || face.width() != PKX_FACE_SIZE || face.height() != PKX_FACE_SIZE)
        face = face.convertToFormat(QImage::Format_BGR888).scaled(PKX_FACE_SIZE, PKX_FACE_SIZE);
    const int key = deviceKeyForSlot(slot, m_orientation);
    if (key == 0)
        return false;
    // orientFace takes rows of exactly 288 bytes; a 96-pixel BGR888 QImage has that stride.
    std::vector<uint8_t> packed;
    const uint8_t *rows = face.constBits();
    if (face.bytesPerLine() != PKX_FACE_STRIDE) {
        packed.resize(size_t(PKX_FACE_STRIDE) * PKX_FACE_SIZE);
        for (int y = 0; y < PKX_FACE_SIZE; ++y)
            std::copy_n(face.constScanLine(y), PKX_FACE_STRIDE, packed.data() + size_t(y) * PKX_FACE_STRIDE);
        rows = packed.data();
    }
    std::vector<uint8_t> picture(size_t(PKX_FACE_STRIDE) * PKX_FACE_SIZE);
    orientFace(rows, m_orientation, picture.data());
    m_link.SubmitFrame(key, picture.data(), false);
    if (m_faceSent)
        m_faceSent(slot);
    return true;
}

void FaceRouter::SendBlank(int slot)
{
    pixkey::SendBlank(m_link, m_orientation, slot);
}

void FaceRouter::SendAllFaces()
{
    for (int slot = 0; slot < 3; ++slot) {
        if (PluginInstance *instance = m_row.instanceAt(slot))
            SendFace(slot, *instance); // no face yet: its first paint sends one
        else
            SendBlank(slot);
    }
}

int FaceRouter::faceChanged(PluginInstance &instance)
{
    for (int slot = 0; slot < 3; ++slot) {
        if (m_row.instanceAt(slot) == &instance)
            return SendFace(slot, instance) ? slot : -1;
    }
    return -1;
}

} // namespace pixkey
