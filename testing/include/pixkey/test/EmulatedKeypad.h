// EmulatedKeypad: a keypad for the tests of the device link and everything above it (the plug-in
// host, the runtime, the configurator, pixkeyctl): the keypad emulator on a pseudo-terminal, with
// its link path in a temporary folder of its own (or one the test names).
//
// Starts: start() opens the pseudo-terminal, makes the link and starts the emulator's thread.
// Ready: when start() returns true; the link path is there for a DeviceLink or pixkeyctl to open.
// Stops: the destructor stops the emulator (the link vanishes) and removes the folder it made.
// The emulator's own queries, faults and waits are reached through emulator() or ->.
//
// Threads: made, started and destroyed on one thread; shown() and waitForShown() may be called
// from any thread (the emulator locks its state).
#pragma once

#include "KeypadEmulator.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace pixkey::test {

class EmulatedKeypad {
public:
    // The link is `folder`/`linkName`; without a folder a fresh one is made (and removed later).
    explicit EmulatedKeypad(std::string linkName = "keypad", std::string folder = {});
    ~EmulatedKeypad();
    EmulatedKeypad(const EmulatedKeypad &) = delete;
    EmulatedKeypad &operator=(const EmulatedKeypad &) = delete;

    ::testing::AssertionResult start(); // use as ASSERT_TRUE(keypad.start())

    KeypadEmulator &emulator() { return *m_emulator; }
    const KeypadEmulator &emulator() const { return *m_emulator; }
    KeypadEmulator *operator->() { return m_emulator.get(); }
    const KeypadEmulator *operator->() const { return m_emulator.get(); }
    const std::string &linkPath() const { return m_linkPath; }
    const std::string &folder() const { return m_folder; }

    struct Rgb {
        int r = 0, g = 0, b = 0;
        bool operator==(const Rgb &) const = default;
    };
    // The colour device key 1..3 shows at (x, y), top-down as on the key; black for a bad key.
    Rgb shown(int key, int x = 48, int y = 48) const;
    // Waits until the colour at (x, y) of `key` satisfies `test`.
    bool waitForShown(int key, const std::function<bool(Rgb)> &test,
                      std::chrono::milliseconds deadline = std::chrono::seconds(10), int x = 48, int y = 48) const;

    // PIXKEY_PORT set to this keypad's link while the returned object lives (a DeviceLink reads
    // it when it is made); the previous value comes back afterwards.
    class PortVariable {
    public:
        explicit PortVariable(const std::string &path);
        ~PortVariable();
        PortVariable(const PortVariable &) = delete;
        PortVariable &operator=(const PortVariable &) = delete;

    private:
        std::optional<std::string> m_previous;
    };
    [[nodiscard]] std::unique_ptr<PortVariable> portVariable() const;

private:
    std::string m_folder;
    bool m_ownsFolder = false;
    std::string m_linkPath;
    std::unique_ptr<KeypadEmulator> m_emulator;
};

} // namespace pixkey::test
