#pragma once

#include <QString>

namespace pixkey {

// Where a running host is found on the session bus: its names, object path and interface. Shared
// by the host and the clients that drive it (pixkeyctl). Pure functions; any thread.
namespace HostBusName {

inline const QString kInterface = QStringLiteral("com.vostrel.PixkeyMini.Host");
inline const QString kPath = QStringLiteral("/com/vostrel/PixkeyMini");
// Owned by the copy that started first; queued for the others.
inline const QString kFirstHost = QStringLiteral("com.vostrel.PixkeyMini");
inline const QString kErrorPrefix = QStringLiteral("com.vostrel.PixkeyMini.Error.");

// The name of the host driving the keypad on `portName` (the base name of the port path):
// "com.vostrel.PixkeyMini.Keypad." + the name with everything but ASCII letters and digits, and a
// leading digit, written as "_" and two hex digits per UTF-8 byte, so that every port gets a valid
// and distinct name. Empty for an empty port name and for one whose name would pass the bus's
// limit of 255 characters.
QString forPort(const QString &portName);

} // namespace HostBusName
} // namespace pixkey
