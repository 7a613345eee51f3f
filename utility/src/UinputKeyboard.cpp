#include "UinputKeyboard.h"

#include "XkbKeymap.h"

#include <linux/uinput.h>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace pixkey {

std::vector<std::uint16_t> evdevCodesOfKeysyms(const XkbKeymap &keymap, const std::vector<std::uint32_t> &keysyms)
{
    std::vector<std::uint16_t> codes;
    for (std::uint32_t code : keymap.keycodesOf(keysyms)) {
        if (code < 8 || code - 8 > KEY_MAX)
            return {};
        codes.push_back(std::uint16_t(code - 8));
    }
    return codes;
}

std::unique_ptr<UinputKeyboard> UinputKeyboard::open(const std::string &device, int settleMs, std::string &error)
{
    std::unique_ptr<UinputKeyboard> result(new UinputKeyboard);
    result->m_keymap = XkbKeymap::createDefault(error);
    if (!result->m_keymap)
        return nullptr;
    result->m_settleMs = settleMs;
    const int fd = ::open(device.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = "cannot open " + device + ": " + std::strerror(errno)
              + (errno == EACCES ? " (install the udev rule for uinput and log in again)" : "");
        return nullptr;
    }
    result->m_fd = fd;
    bool ok = ioctl(fd, UI_SET_EVBIT, EV_KEY) == 0 && ioctl(fd, UI_SET_EVBIT, EV_SYN) == 0;
    // Every key of a keyboard, so any key code of the keymap can be sent.
    for (int code = KEY_ESC; ok && code <= KEY_MICMUTE; ++code)
        ok = ioctl(fd, UI_SET_KEYBIT, code) == 0;
    uinput_setup setup{};
    setup.id.bustype = BUS_VIRTUAL;
    setup.id.vendor = 0x1209; // an open-hardware vendor id, product chosen by us
    setup.id.product = 0x7033;
    std::strncpy(setup.name, "Pixkey mini keys", UINPUT_MAX_NAME_SIZE - 1);
    ok = ok && ioctl(fd, UI_DEV_SETUP, &setup) == 0 && ioctl(fd, UI_DEV_CREATE) == 0;
    if (!ok) {
        error = device + " is not a uinput device: " + std::strerror(errno);
        return nullptr;
    }
    return result;
}

UinputKeyboard::~UinputKeyboard()
{
    if (m_fd >= 0) {
        ioctl(m_fd, UI_DEV_DESTROY);
        close(m_fd);
    }
}

bool UinputKeyboard::emit(std::uint16_t type, std::uint16_t code, std::int32_t value)
{
    input_event event{};
    event.type = type;
    event.code = code;
    event.value = value;
    ssize_t n;
    do {
        n = write(m_fd, &event, sizeof event);
    } while (n < 0 && errno == EINTR);
    return n == ssize_t(sizeof event);
}

bool UinputKeyboard::sendKeysyms(const std::vector<std::uint32_t> &keysyms, std::string &error)
{
    const std::vector<std::uint16_t> codes = evdevCodesOfKeysyms(*m_keymap, keysyms);
    if (codes.empty()) {
        error = "a key of the shortcut is not on the keyboard map";
        return false;
    }
    if (m_settleMs > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(m_settleMs));
        m_settleMs = 0;
    }
    bool ok = true;
    for (std::uint16_t code : codes)
        ok = ok && emit(EV_KEY, code, 1) && emit(EV_SYN, SYN_REPORT, 0);
    // Released even after a failed press, so no key stays down.
    for (auto it = codes.rbegin(); it != codes.rend(); ++it)
        ok = emit(EV_KEY, *it, 0) && emit(EV_SYN, SYN_REPORT, 0) && ok;
    if (!ok)
        error = std::string("the uinput device refused a key: ") + std::strerror(errno);
    return ok;
}

} // namespace pixkey
