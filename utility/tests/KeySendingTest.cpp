// Key sending without an X server: which way a session gets, the key codes a uinput keyboard
// types (from the keyboard map, not a fixed table), and that /dev/uinput is never touched unless
// the user turned it on.
#include "UinputKeyboard.h"
#include "XkbKeymap.h"

#include <pixkey/utility/CHotkey.h>
#include <pixkey/utility/KeySending.h>

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <linux/input-event-codes.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <string>

using namespace pixkey;

namespace {

constexpr std::uint16_t kAlt = CHotkey::Alt, kCtrl = CHotkey::Ctrl, kShift = CHotkey::Shift, kWin = CHotkey::Win;

// Sets environment entries for one test and restores them after.
class Environment {
public:
    void set(const char *name, const std::string &value)
    {
        remember(name);
        setenv(name, value.c_str(), 1);
    }
    void unset(const char *name)
    {
        remember(name);
        unsetenv(name);
    }
    ~Environment()
    {
        for (const auto &[name, value] : m_saved) {
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
        }
        ResetKeySending();
    }

private:
    void remember(const char *name)
    {
        if (m_saved.count(name))
            return;
        const char *value = std::getenv(name);
        m_saved[name] = value ? std::optional<std::string>(value) : std::nullopt;
    }
    std::map<std::string, std::optional<std::string>> m_saved;
};

std::vector<std::uint16_t> codesOf(const XkbKeymap &keymap, std::uint16_t modifiers, std::uint16_t key)
{
    return evdevCodesOfKeysyms(keymap, shortcutKeysyms(modifiers, key));
}

} // namespace

TEST(UinputKeyCodes, ComeFromTheKeyboardMap)
{
    Environment environment;
    environment.set("XKB_DEFAULT_RULES", "evdev");
    environment.set("XKB_DEFAULT_LAYOUT", "us");
    std::string error;
    std::unique_ptr<XkbKeymap> us = XkbKeymap::createDefault(error);
    if (!us)
        GTEST_SKIP() << "no keyboard data: " << error;

    using Codes = std::vector<std::uint16_t>;
    EXPECT_EQ(codesOf(*us, kCtrl, 0x53), (Codes{KEY_LEFTCTRL, KEY_S}));
    // Pressing order Win, Ctrl, Alt, Shift, then the key.
    EXPECT_EQ(codesOf(*us, kShift | kAlt | kWin | kCtrl, 0x74), (Codes{KEY_LEFTMETA, KEY_LEFTCTRL, KEY_LEFTALT, KEY_LEFTSHIFT, KEY_F5}));
    EXPECT_EQ(codesOf(*us, 0, 0x31), (Codes{KEY_1}));
    EXPECT_EQ(codesOf(*us, 0, 0x65), (Codes{KEY_KP5})); // the numeric pad's 5, not the digit row's
    EXPECT_EQ(codesOf(*us, 0, 0x0D), (Codes{KEY_ENTER}));
    EXPECT_EQ(codesOf(*us, 0, 0xBA), (Codes{KEY_SEMICOLON}));
    EXPECT_EQ(codesOf(*us, 0, 0xAF), (Codes{KEY_VOLUMEUP}));
    EXPECT_TRUE(codesOf(*us, kCtrl, 0xFF).empty()); // a code without a keysym sends nothing
    EXPECT_TRUE(codesOf(*us, 0, 0).empty());

    // On a German map Y and Z trade places, and ';' needs a shift level: the key that gives it
    // is found all the same.
    environment.set("XKB_DEFAULT_LAYOUT", "de");
    std::unique_ptr<XkbKeymap> de = XkbKeymap::createDefault(error);
    ASSERT_TRUE(de) << error;
    EXPECT_EQ(codesOf(*de, kCtrl, 0x5A), (Codes{KEY_LEFTCTRL, KEY_Y}));
    EXPECT_EQ(codesOf(*de, 0, 0x59), (Codes{KEY_Z}));
    EXPECT_EQ(codesOf(*de, 0, 0xBA), (Codes{KEY_COMMA}));
}

TEST(UinputKeyCodes, FollowTheSystemKeyboardConfiguration)
{
    QTemporaryDir folder;
    const std::string path = folder.filePath(QStringLiteral("keyboard")).toStdString();
    std::ofstream(path) << "# KEYBOARD CONFIGURATION FILE\n"
                           "XKBMODEL=\"pc105\"\nXKBLAYOUT='de'\nXKBVARIANT=\"\"\nXKBOPTIONS=\"ctrl:nocaps\"\n"
                           "BACKSPACE=\"guess\"\n";
    const KeyboardNames names = keyboardNamesOfFile(path);
    EXPECT_EQ(names.model, "pc105");
    EXPECT_EQ(names.layout, "de");
    EXPECT_EQ(names.variant, "");
    EXPECT_EQ(names.options, "ctrl:nocaps");
    EXPECT_EQ(keyboardNamesOfFile(folder.filePath(QStringLiteral("missing")).toStdString()).layout, "");

    std::string error;
    std::unique_ptr<XkbKeymap> german = XkbKeymap::create(names, error);
    if (!german)
        GTEST_SKIP() << "no keyboard data: " << error;
    // The key labelled Z on a German keyboard is where a US keyboard has Y.
    EXPECT_EQ(codesOf(*german, kCtrl, 0x5A), (std::vector<std::uint16_t>{KEY_LEFTCTRL, KEY_Y}));

    // A layout the keyboard data does not know: a clear error, no map.
    EXPECT_FALSE(XkbKeymap::create({"", "no-such-layout", "", ""}, error));
    EXPECT_NE(error.find("no-such-layout"), std::string::npos) << error;
}

TEST(KeySendingRoutes, TheWayIsChosenFromTheSession)
{
    QTemporaryDir config;
    Environment environment;
    environment.set("XDG_CONFIG_HOME", config.path().toStdString());
    environment.set("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus");

    // An X session types through XTest, even with a Wayland socket named.
    environment.set("XDG_SESSION_TYPE", "x11");
    environment.set("DISPLAY", ":99");
    environment.set("WAYLAND_DISPLAY", "wayland-0");
    ResetKeySending();
    EXPECT_EQ(CurrentKeySendingRoute(), KeySendingRoute::X11);

    // Nothing at all: unavailable, said plainly.
    environment.set("XDG_SESSION_TYPE", "tty");
    environment.unset("DISPLAY");
    environment.unset("WAYLAND_DISPLAY");
    ResetKeySending();
    EXPECT_EQ(CurrentKeySendingRoute(), KeySendingRoute::None);
    EXPECT_EQ(KeySendingCapability().state, CapabilityState::Unavailable);
    EXPECT_FALSE(CHotkey(kCtrl, 0x53).Invoke());

    // GNOME without the program's Qt application (no portal possible): unavailable, with uinput
    // named as what the user can turn on.
    environment.set("XDG_SESSION_TYPE", "wayland");
    environment.set("WAYLAND_DISPLAY", "wayland-none");
    environment.set("XDG_CURRENT_DESKTOP", "ubuntu:GNOME");
    ResetKeySending();
    const CapabilityReport gnome = KeySendingCapability();
    EXPECT_EQ(gnome.state, CapabilityState::Unavailable);
    EXPECT_NE(gnome.step.find("/dev/uinput"), std::string::npos) << gnome.step;
}

TEST(KeySendingRoutes, UinputIsTouchedOnlyAfterTheUserTurnedItOn)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const std::string device = folder.filePath(QStringLiteral("uinput")).toStdString();
    std::ofstream(device).flush(); // a plain file: opening it shows, and it is no uinput device
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, device.c_str(), IN_OPEN), 0);
    const auto opened = [&] {
        char buffer[4096];
        return read(watch, buffer, sizeof buffer) > 0;
    };

    Environment environment;
    environment.set("XDG_CONFIG_HOME", folder.path().toStdString());
    environment.set("PIXKEY_UINPUT_DEVICE", device);
    environment.set("XDG_SESSION_TYPE", "wayland");
    environment.set("XDG_RUNTIME_DIR", folder.path().toStdString());
    environment.set("WAYLAND_DISPLAY", "wayland-none"); // no compositor answers
    environment.set("XDG_CURRENT_DESKTOP", "sway");
    environment.set("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus");
    environment.unset("DISPLAY");
    ResetKeySending();

    EXPECT_FALSE(UinputKeySendingEnabled()); // off unless turned on
    EXPECT_NE(CurrentKeySendingRoute(), KeySendingRoute::Uinput);
    EXPECT_FALSE(CHotkey(kCtrl, 0x53).Invoke());
    EXPECT_FALSE(opened()) << "the uinput node was opened without the user's consent";

    // Turned on (and stored): the next press takes that way.
    ASSERT_TRUE(SetUinputKeySendingEnabled(true));
    EXPECT_TRUE(UinputKeySendingEnabled());
    EXPECT_NE(KeySendingSettingsFile().find("/Vostrel/KeySending.ini"), std::string::npos);
    EXPECT_EQ(CurrentKeySendingRoute(), KeySendingRoute::Uinput);
    EXPECT_FALSE(CHotkey(kCtrl, 0x53).Invoke()); // a plain file is refused as a device
    EXPECT_TRUE(opened());

    // A node that cannot be opened: the report says which step is missing.
    environment.set("PIXKEY_UINPUT_DEVICE", folder.filePath(QStringLiteral("missing")).toStdString());
    ResetKeySending();
    const CapabilityReport report = KeySendingCapability();
    EXPECT_EQ(report.state, CapabilityState::NeedsStep);
    EXPECT_NE(report.step.find("udev rule"), std::string::npos) << report.step;

    ASSERT_TRUE(SetUinputKeySendingEnabled(false));
    EXPECT_NE(CurrentKeySendingRoute(), KeySendingRoute::Uinput);
    close(watch);
}
