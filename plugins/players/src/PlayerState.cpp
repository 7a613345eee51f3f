#include "PlayerState.h"

#include <QDBusArgument>
#include <QStringList>
#include <QUrl>

#include <cmath>
#include <limits>

namespace players {

namespace {

// Largest time kept, in microseconds: what a signed 32-bit count of milliseconds holds (24 days).
constexpr std::int64_t kMaxMicroseconds = std::int64_t(std::numeric_limits<std::int32_t>::max()) * 1000;
// At most this many artists are joined into a title.
constexpr int kMaxArtists = 8;

// A map sent as a{sv} arrives as a QDBusArgument inside the variant; plain maps pass through.
QVariantMap mapOf(const QVariant &value)
{
    if (value.canConvert<QDBusArgument>()) {
        const QDBusArgument argument = value.value<QDBusArgument>();
        if (argument.currentType() == QDBusArgument::MapType)
            return qdbus_cast<QVariantMap>(argument);
        return {};
    }
    if (value.metaType().id() == QMetaType::QVariantMap)
        return value.toMap();
    return {};
}

// Text of a value that should be a string (or, as some players send artists, a list of strings).
QString textOf(const QVariant &value)
{
    const int type = value.metaType().id();
    if (type == QMetaType::QString)
        return value.toString().left(kMaxTitleCharacters);
    QStringList parts;
    if (type == QMetaType::QStringList) {
        parts = value.toStringList();
    } else if (value.canConvert<QDBusArgument>()) {
        const QDBusArgument argument = value.value<QDBusArgument>();
        if (argument.currentType() == QDBusArgument::ArrayType && argument.currentSignature() == QLatin1String("as"))
            parts = qdbus_cast<QStringList>(argument);
    }
    QStringList kept;
    for (const QString &part : parts) {
        if (kept.size() == kMaxArtists)
            break;
        if (!part.trimmed().isEmpty())
            kept.append(part.left(kMaxTitleCharacters).trimmed());
    }
    return kept.join(QLatin1String(", "));
}

QString cleaned(QString text)
{
    for (QChar &c : text)
        if (c.category() == QChar::Other_Control || c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
            c = QLatin1Char(' ');
    text = text.simplified();
    if (text.size() > kMaxTitleCharacters) {
        int cut = kMaxTitleCharacters;
        if (text.at(cut - 1).isHighSurrogate())
            --cut;
        text.truncate(cut);
    }
    return text;
}

} // namespace

std::int64_t microsecondsOf(const QVariant &value)
{
    double number = 0;
    switch (value.metaType().id()) {
    case QMetaType::LongLong:
    case QMetaType::Int:
    case QMetaType::Short:
        number = double(value.toLongLong());
        break;
    case QMetaType::ULongLong:
    case QMetaType::UInt:
    case QMetaType::UShort:
    case QMetaType::UChar:
        number = double(value.toULongLong());
        break;
    case QMetaType::Double:
        number = value.toDouble();
        break;
    default:
        return -1;
    }
    if (!std::isfinite(number) || number < 0 || number > double(kMaxMicroseconds))
        return -1;
    return std::int64_t(number);
}

std::string titleOfMetadata(const QVariantMap &metadata)
{
    const QString title = cleaned(textOf(metadata.value(QStringLiteral("xesam:title"))));
    const QString artist = cleaned(textOf(metadata.value(QStringLiteral("xesam:artist"))));
    QString shown;
    if (!title.isEmpty() && !artist.isEmpty()) {
        shown = artist + QLatin1String(" - ") + title;
    } else if (!title.isEmpty()) {
        shown = title;
    } else {
        const QString url = metadata.value(QStringLiteral("xesam:url")).toString();
        shown = url.size() <= 8192 ? QUrl(url).fileName(QUrl::FullyDecoded) : QString();
        if (shown.isEmpty())
            shown = artist;
    }
    return cleaned(shown).toStdString();
}

std::int64_t PlayerState::positionAtTime(Clock::time_point now) const
{
    if (positionUs < 0)
        return -1;
    if (!playing || rate <= 0 || now <= positionAt)
        return positionUs;
    const double advanced =
        double(std::chrono::duration_cast<std::chrono::microseconds>(now - positionAt).count()) * rate;
    // Advancing stops at the end of the track; a position the player itself puts past the end is
    // kept as it is (the key then shows no times).
    const double end = lengthUs >= 0 ? double(std::max(lengthUs, positionUs)) : double(kMaxMicroseconds);
    return std::int64_t(std::min(double(positionUs) + advanced, end));
}

void PlayerState::apply(const QVariantMap &properties, bool complete, Clock::time_point now)
{
    // Any change of state moves the reference point, so the extrapolated position does not jump.
    const std::int64_t current = positionAtTime(now);
    positionUs = current;
    positionAt = now;

    const auto status = properties.find(QStringLiteral("PlaybackStatus"));
    if (status != properties.end())
        playing = status->toString() == QLatin1String("Playing");
    const auto rateValue = properties.find(QStringLiteral("Rate"));
    if (rateValue != properties.end()) {
        bool ok = false;
        const double r = rateValue->toDouble(&ok);
        rate = ok && std::isfinite(r) && r >= 0 && r <= 100 ? r : 1.0;
    }
    const auto metadata = properties.find(QStringLiteral("Metadata"));
    if (metadata != properties.end()) {
        const QVariantMap map = mapOf(*metadata);
        title = titleOfMetadata(map);
        lengthUs = microsecondsOf(map.value(QStringLiteral("mpris:length")));
        if (lengthUs == 0)
            lengthUs = -1; // a stream or a player that does not know: nothing to measure against
    }
    const auto position = properties.find(QStringLiteral("Position"));
    if (position != properties.end())
        positionUs = microsecondsOf(*position);
    else if (complete)
        positionUs = -1;
}

const PlayerState *PlayerSnapshot::find(const QString &service) const
{
    for (const PlayerState &state : players)
        if (state.service == service)
            return &state;
    return nullptr;
}

} // namespace players
