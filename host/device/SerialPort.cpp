#include "SerialPort.h"

namespace pixkey {

bool SerialPort::OpenPort(const char *path)
{
    if (path)
        m_path = path;
    ClosePort();
    m_lastOpenError.clear();
    if (m_path.empty()) {
        m_lastOpenError = "no serial port has been opened before";
        return false;
    }
    return openPath(m_path);
}

bool SerialPort::SetReadTimeout(std::chrono::milliseconds timeout)
{
    m_readTimeout = timeout < std::chrono::milliseconds::zero() ? std::chrono::milliseconds::zero() : timeout;
    return true;
}

} // namespace pixkey
