#pragma once

#include "LoadedLibrary.h"
#include "MainThreadQueue.h"

#include <QImage>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace pixkey::test {

// Full path of a test plug-in built beside the tests, e.g. "pixkey_test_scripted.pkx".
std::string pluginPath(const std::string &file);
// Loads a test plug-in; fails the test (and returns null) when it does not load.
std::shared_ptr<LoadedLibrary> loadPlugin(const std::string &file);

// Pumps `queue` until `done` holds or `limit` passes; returns whether it held. Every wait of the
// tests is bounded by this.
bool pumpUntil(MainThreadQueue &queue, const std::function<bool()> &done,
               std::chrono::milliseconds limit = std::chrono::seconds(10));
// Waits (without pumping) until `done` holds or `limit` passes.
bool waitUntil(const std::function<bool()> &done, std::chrono::milliseconds limit = std::chrono::seconds(10));

// A face filled with one 0xRRGGBB colour, as the scripted plug-in paints it.
QImage solidFace(unsigned rgb);
// The 0xRRGGBB colour of pixel (x, y) of a BGR888 face.
unsigned pixelAt(const QImage &face, int x, int y);

} // namespace pixkey::test
