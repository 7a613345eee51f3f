// Helpers of the Players plug-in's tests: a key face to paint into, the scripted player
// (players_fake_mpris) started on a test's private bus, and calls to it.
#pragma once

#include <pixkey/test/ServiceProcess.h>
#include <pixkey_plugin.h>

#include <QDBusConnection>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace players_test {

// A key face as the host hands it to Paint.
struct Face {
    Face() { bytes.fill(0x5a); }
    PkxSurface *surface()
    {
        m_surface = PkxSurface{bytes.data(), PKX_FACE_SIZE, PKX_FACE_SIZE, PKX_FACE_STRIDE};
        return &m_surface;
    }
    std::uint32_t rgb(int x, int y) const
    {
        const std::uint8_t *p = bytes.data() + y * PKX_FACE_STRIDE + x * 3;
        return (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[1]) << 8) | p[0];
    }
    // Whether any pixel of rows top..bottom (inclusive) differs from `rgb`.
    bool rowsHoldOtherThan(int top, int bottom, std::uint32_t colour) const
    {
        for (int y = top; y <= bottom; ++y)
            for (int x = 0; x < PKX_FACE_SIZE; ++x)
                if (rgb(x, y) != colour)
                    return true;
        return false;
    }
    // The brightest channel value in rows top..bottom (inclusive).
    unsigned brightestIn(int top, int bottom) const
    {
        unsigned brightest = 0;
        for (int i = top * PKX_FACE_STRIDE; i < (bottom + 1) * PKX_FACE_STRIDE; ++i)
            brightest = std::max<unsigned>(brightest, bytes[std::size_t(i)]);
        return brightest;
    }
    // Whether rows top..bottom (inclusive) hold a white pixel (text).
    bool holdsWhiteIn(int top, int bottom) const
    {
        for (int y = top; y <= bottom; ++y)
            for (int x = 0; x < PKX_FACE_SIZE; ++x)
                if (rgb(x, y) == 0xffffff)
                    return true;
        return false;
    }
    // Bytes of rows top..bottom (inclusive).
    std::string rows(int top, int bottom) const
    {
        return std::string(reinterpret_cast<const char *>(bytes.data()) + top * PKX_FACE_STRIDE,
                           std::size_t(bottom - top + 1) * PKX_FACE_STRIDE);
    }
    bool save(const std::string &path) const;

    std::array<std::uint8_t, PKX_FACE_SIZE * PKX_FACE_STRIDE> bytes{};

private:
    PkxSurface m_surface{};
};

// Repeats `step` until `condition` holds or `deadline` passes (polling every 20 ms).
bool eventually(const std::function<bool()> &condition, std::chrono::milliseconds deadline = std::chrono::seconds(10));

// A scripted player on the bus at `busAddress`, with the options of players_fake_mpris.
class FakePlayer {
public:
    FakePlayer(const std::string &busAddress, const std::string &name, std::vector<std::string> options = {},
               std::string wrapper = {});
    ::testing::AssertionResult start();
    QString service() const { return QStringLiteral("org.mpris.MediaPlayer2.") + QString::fromStdString(m_name); }
    pid_t pid() const { return m_process->pid(); }
    pixkey::test::ServiceProcess &process() { return *m_process; }

    // Calls to its control interface; false or empty when it did not answer.
    bool set(const QString &property, const QVariant &value);
    bool seek(qlonglong positionUs);
    bool leave();
    QStringList commands();

private:
    QDBusConnection bus();

    std::string m_address;
    std::string m_name;
    QString m_owner; // the player's unique connection name
    std::unique_ptr<pixkey::test::ServiceProcess> m_process;
};

} // namespace players_test
