#include "HostBusName.h"

namespace pixkey::HostBusName {

QString forPort(const QString &portName)
{
    if (portName.isEmpty())
        return QString();
    QString element;
    const QByteArray bytes = portName.toUtf8();
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        const bool digit = c >= '0' && c <= '9';
        if (letter || (digit && i > 0))
            element += QLatin1Char(c);
        else
            element += QStringLiteral("_%1").arg(uint(uchar(c)), 2, 16, QLatin1Char('0'));
    }
    const QString name = kFirstHost + QStringLiteral(".Keypad.") + element;
    return name.size() <= 255 ? name : QString();
}

} // namespace pixkey::HostBusName
