// players_fake_mpris: a scripted MPRIS player for the Players plug-in's tests, for the cases a
// real player cannot be made to show (exact titles, absent or absurd positions and lengths, huge
// metadata, a player that never answers).
//
//   players_fake_mpris --name NAME [--title T] [--artist A] [--url U] [--length US|none]
//                      [--position US|none] [--status Playing|Paused|Stopped] [--title-size N]
//                      [--mute all|commands]
//
// Serves org.mpris.MediaPlayer2.NAME on the session bus ($DBUS_SESSION_BUS_ADDRESS). Commands are
// recorded; Play and Pause change the status and announce it with PropertiesChanged. The test
// drives it through org.pixkey.FakePlayer on the same object: Set(name, value) changes a property
// ("status", "title", "artist", "url", "length", "position", all announced as a real player
// would), Seek(position) sends Seeked, Commands() lists what was received, Leave() gives up the
// name while the process stays.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QStringList>

#include <cstdio>
#include <optional>

namespace {

const QString kPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString kRoot = QStringLiteral("org.mpris.MediaPlayer2");
const QString kPlayer = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kControl = QStringLiteral("org.pixkey.FakePlayer");

class FakePlayer : public QDBusVirtualObject {
public:
    QString service;
    QString status = QStringLiteral("Paused");
    QString title, artist, url;
    std::optional<qlonglong> length, position;
    bool muteAll = false, muteCommands = false;
    QStringList commands;

    QString introspect(const QString &) const override
    {
        return QStringLiteral("<interface name=\"org.mpris.MediaPlayer2.Player\"/>"
                              "<interface name=\"org.pixkey.FakePlayer\"/>");
    }

    QVariantMap metadata() const
    {
        QVariantMap map;
        map.insert(QStringLiteral("mpris:trackid"), QVariant::fromValue(QDBusObjectPath("/track/1")));
        if (!title.isNull())
            map.insert(QStringLiteral("xesam:title"), title);
        if (!artist.isNull())
            map.insert(QStringLiteral("xesam:artist"), QStringList{artist});
        if (!url.isNull())
            map.insert(QStringLiteral("xesam:url"), url);
        if (length)
            map.insert(QStringLiteral("mpris:length"), *length);
        return map;
    }

    QVariantMap playerProperties() const
    {
        QVariantMap map;
        map.insert(QStringLiteral("PlaybackStatus"), status);
        map.insert(QStringLiteral("Metadata"), metadata());
        map.insert(QStringLiteral("Rate"), 1.0);
        if (position)
            map.insert(QStringLiteral("Position"), *position);
        for (const char *can : {"CanPlay", "CanPause", "CanGoNext", "CanGoPrevious", "CanControl"})
            map.insert(QLatin1String(can), true);
        return map;
    }

    void announce(const QDBusConnection &bus, const QVariantMap &changed)
    {
        QDBusMessage signal = QDBusMessage::createSignal(kPath, kProperties, QStringLiteral("PropertiesChanged"));
        signal << kPlayer << changed << QStringList();
        bus.send(signal);
    }

    bool handleMessage(const QDBusMessage &message, const QDBusConnection &bus) override
    {
        const QString interface = message.interface();
        const QString member = message.member();
        if (interface == kControl)
            return control(message, bus);
        if (muteAll)
            return true; // never answered
        if (interface == kProperties) {
            const QString which = message.arguments().value(0).toString();
            if (member == QLatin1String("GetAll")) {
                bus.send(message.createReply(QVariant(which == kPlayer ? playerProperties() : QVariantMap())));
                return true;
            }
            if (member == QLatin1String("Get")) {
                const QVariantMap all = playerProperties();
                const QString name = message.arguments().value(1).toString();
                if (which != kPlayer || !all.contains(name)) {
                    bus.send(message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"),
                                                      QStringLiteral("no such property")));
                    return true;
                }
                bus.send(message.createReply(QVariant::fromValue(QDBusVariant(all.value(name)))));
                return true;
            }
            return false;
        }
        if (interface == kPlayer || (interface.isEmpty() && message.type() == QDBusMessage::MethodCallMessage)) {
            commands.append(member);
            if (muteCommands)
                return true;
            if (member == QLatin1String("Play") || member == QLatin1String("Pause")) {
                status = member == QLatin1String("Play") ? QStringLiteral("Playing") : QStringLiteral("Paused");
                announce(bus, {{QStringLiteral("PlaybackStatus"), status}});
            }
            bus.send(message.createReply());
            return true;
        }
        return false;
    }

    bool control(const QDBusMessage &message, const QDBusConnection &bus)
    {
        const QString member = message.member();
        const QList<QVariant> args = message.arguments();
        if (member == QLatin1String("Commands")) {
            bus.send(message.createReply(QVariant(commands)));
            return true;
        }
        if (member == QLatin1String("Leave")) {
            bus.send(message.createReply());
            QDBusConnection(bus).unregisterService(service);
            return true;
        }
        if (member == QLatin1String("Seek") && !args.isEmpty()) {
            position = args.at(0).toLongLong();
            QDBusMessage signal = QDBusMessage::createSignal(kPath, kPlayer, QStringLiteral("Seeked"));
            signal << *position;
            bus.send(signal);
            bus.send(message.createReply());
            return true;
        }
        if (member == QLatin1String("Set") && args.size() == 2) {
            const QString name = args.at(0).toString();
            QVariant value = args.at(1);
            if (value.canConvert<QDBusVariant>())
                value = value.value<QDBusVariant>().variant();
            QVariantMap changed;
            if (name == QLatin1String("status")) {
                status = value.toString();
                changed.insert(QStringLiteral("PlaybackStatus"), status);
            } else if (name == QLatin1String("position")) {
                position = value.toLongLong(); // Position is never announced, as MPRIS has it
            } else {
                if (name == QLatin1String("title"))
                    title = value.toString();
                else if (name == QLatin1String("artist"))
                    artist = value.toString();
                else if (name == QLatin1String("url"))
                    url = value.toString();
                else if (name == QLatin1String("length"))
                    length = value.toLongLong();
                changed.insert(QStringLiteral("Metadata"), metadata());
            }
            if (!changed.isEmpty())
                announce(bus, changed);
            bus.send(message.createReply());
            return true;
        }
        return false;
    }
};

std::optional<qlonglong> number(const QString &text)
{
    if (text == QLatin1String("none"))
        return std::nullopt;
    return text.toLongLong();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    FakePlayer player;
    QString name = QStringLiteral("fake");
    const QStringList args = application.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        const QString option = args.at(i);
        const QString value = args.at(i + 1);
        if (option == QLatin1String("--name"))
            name = value;
        else if (option == QLatin1String("--title"))
            player.title = value;
        else if (option == QLatin1String("--artist"))
            player.artist = value;
        else if (option == QLatin1String("--url"))
            player.url = value;
        else if (option == QLatin1String("--length"))
            player.length = number(value);
        else if (option == QLatin1String("--position"))
            player.position = number(value);
        else if (option == QLatin1String("--status"))
            player.status = value;
        else if (option == QLatin1String("--title-size"))
            player.title = QString(value.toInt(), QLatin1Char('x'));
        else if (option == QLatin1String("--mute")) {
            player.muteAll = value == QLatin1String("all");
            player.muteCommands = value == QLatin1String("commands");
        }
    }
    player.service = kRoot + QLatin1Char('.') + name;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.registerVirtualObject(kPath, &player) || !bus.registerService(player.service)) {
        std::fprintf(stderr, "players_fake_mpris: cannot serve %s\n", qPrintable(player.service));
        return 1;
    }
    std::printf("serving %s\n", qPrintable(player.service));
    std::fflush(stdout);
    return application.exec();
}
