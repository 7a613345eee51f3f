#include "TestSupport.h"

#include <gtest/gtest.h>

#include <thread>

// Fault containment installs its own handlers for hardware faults; AddressSanitizer must let it.
extern "C" const char *__asan_default_options()
{
    return "allow_user_segv_handler=1";
}

namespace pixkey::test {

std::string pluginPath(const std::string &file)
{
    return std::string(PIXKEY_TEST_PLUGIN_DIR) + "/" + file;
}

std::shared_ptr<LoadedLibrary> loadPlugin(const std::string &file)
{
    std::string error;
    auto library = LoadedLibrary::load(pluginPath(file), &error);
    EXPECT_TRUE(library) << error;
    return library;
}

bool pumpUntil(MainThreadQueue &queue, const std::function<bool()> &done, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        queue.pumpFor(std::chrono::milliseconds(10));
    }
    return true;
}

bool waitUntil(const std::function<bool()> &done, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

QImage solidFace(unsigned rgb)
{
    QImage face(96, 96, QImage::Format_BGR888);
    face.fill(QColor::fromRgb(rgb));
    return face;
}

unsigned pixelAt(const QImage &face, int x, int y)
{
    const uchar *p = face.constScanLine(y) + 3 * x;
    return (unsigned(p[2]) << 16) | (unsigned(p[1]) << 8) | p[0];
}

} // namespace pixkey::test
