// measure_tray_watcher: a notification area for measure_host, on the session bus it is started on.
//
// It owns org.kde.StatusNotifierWatcher and says a host is registered, which is all Qt asks before
// it gives a program a tray icon over D-Bus. Every item that registers is printed on stdout as
// "item SERVICE", so that the tool can tell that the host really put its icon in the area.
// Runs until terminated. Never part of the product.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QStringList>

#include <cstdio>

namespace {

const QString kWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kPath = QStringLiteral("/StatusNotifierWatcher");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");

class Watcher : public QDBusVirtualObject {
public:
    QStringList items;

    QString introspect(const QString &) const override
    {
        return QStringLiteral(
            "<interface name=\"org.kde.StatusNotifierWatcher\">"
            "<method name=\"RegisterStatusNotifierItem\"><arg name=\"service\" type=\"s\" direction=\"in\"/></method>"
            "<method name=\"RegisterStatusNotifierHost\"><arg name=\"service\" type=\"s\" direction=\"in\"/></method>"
            "<property name=\"RegisteredStatusNotifierItems\" type=\"as\" access=\"read\"/>"
            "<property name=\"IsStatusNotifierHostRegistered\" type=\"b\" access=\"read\"/>"
            "<property name=\"ProtocolVersion\" type=\"i\" access=\"read\"/>"
            "<signal name=\"StatusNotifierItemRegistered\"><arg type=\"s\"/></signal>"
            "<signal name=\"StatusNotifierItemUnregistered\"><arg type=\"s\"/></signal>"
            "<signal name=\"StatusNotifierHostRegistered\"/>"
            "</interface>");
    }

    QVariantMap properties() const
    {
        return {{QStringLiteral("RegisteredStatusNotifierItems"), items},
                {QStringLiteral("IsStatusNotifierHostRegistered"), true},
                {QStringLiteral("ProtocolVersion"), 0}};
    }

    bool handleMessage(const QDBusMessage &message, const QDBusConnection &bus) override
    {
        const QString member = message.member();
        if (message.interface() == kProperties) {
            if (member == QLatin1String("GetAll")) {
                bus.send(message.createReply(QVariant(properties())));
                return true;
            }
            if (member == QLatin1String("Get")) {
                const QString name = message.arguments().value(1).toString();
                const QVariantMap all = properties();
                if (!all.contains(name)) {
                    bus.send(message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"),
                                                      QStringLiteral("no such property")));
                    return true;
                }
                bus.send(message.createReply(QVariant::fromValue(QDBusVariant(all.value(name)))));
                return true;
            }
            return false;
        }
        if (member == QLatin1String("RegisterStatusNotifierItem")) {
            // An item names its bus service, or only its object path on the caller's connection.
            QString item = message.arguments().value(0).toString();
            if (item.startsWith(QLatin1Char('/')))
                item = message.service() + item;
            items.append(item);
            std::printf("item %s\n", qPrintable(item));
            std::fflush(stdout);
            QDBusMessage signal = QDBusMessage::createSignal(kPath, kWatcher, QStringLiteral("StatusNotifierItemRegistered"));
            signal << item;
            bus.send(signal);
            bus.send(message.createReply());
            return true;
        }
        if (member == QLatin1String("RegisterStatusNotifierHost")) {
            bus.send(message.createReply());
            return true;
        }
        return false;
    }
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QDBusConnection bus = QDBusConnection::sessionBus();
    Watcher watcher;
    if (!bus.isConnected() || !bus.registerVirtualObject(kPath, &watcher) || !bus.registerService(kWatcher)) {
        std::fprintf(stderr, "measure_tray_watcher: cannot serve %s on the session bus\n", qPrintable(kWatcher));
        return 1;
    }
    return app.exec();
}
