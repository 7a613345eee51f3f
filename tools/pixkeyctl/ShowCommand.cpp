// pixkeyctl show: puts pictures on keys.

#include "CtlCommand.h"
#include "FrameTransform.h"

#include <map>

namespace pixkey::ctl {
namespace {

const char kUsage[] =
    "show KEY IMAGE [KEY IMAGE ...] [--hold] [--orientation N] [--gamma G] [--white-balance K] [--brightness L]";

int runShow(const std::vector<std::string> &args, const CtlOptions &options)
{
    if (args.empty() || args.size() % 2 != 0)
        return usageError("show needs pairs of KEY (1..3) and IMAGE", kUsage);
    // Slot (0..2) -> file; every file is read before the keypad is touched.
    std::map<int, std::string> files;
    for (size_t i = 0; i < args.size(); i += 2) {
        long key = 0;
        if (!parseInt(args[i], 1, 3, key))
            return usageError("KEY must be 1, 2 or 3, not '" + args[i] + "'", kUsage);
        if (!files.emplace(static_cast<int>(key) - 1, args[i + 1]).second)
            return usageError("key " + args[i] + " is given twice", kUsage);
    }
    CtlKeypad keypad(options);
    for (const auto &[slot, file] : files) {
        RgbImage image;
        std::string error;
        if (!loadImage(file, image, error))
            return fail(ExitFailed, "cannot read image " + file + ": " + error);
        const Face face = fitToFace(image);
        Face picture{};
        orientFace(face.data(), options.orientation, picture.data());
        keypad.setPicture(deviceKeyForSlot(slot, options.orientation), picture);
    }
    if (const int r = keypad.connect(); r != ExitOk)
        return r;
    return keypad.waitUntilShown();
}

const CtlCommandRegistrar registrar({"show", kUsage,
                                     "show pictures (PNG, JPEG, PPM) on keys 1..3; other sizes are fitted onto 96x96",
                                     runShow});

} // namespace
} // namespace pixkey::ctl
