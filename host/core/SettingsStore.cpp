#include "SettingsStore.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include <cctype>
#include <cstdio>
#include <limits>

namespace pixkey {

namespace {

// Marks a key that holds nothing yet: INI files have no empty sections. Escaped names never take
// this form, so it cannot collide with a real value.
const QString kKeyMarker = QStringLiteral("%.");

QString joinGroup(const QString &group, const QString &name)
{
    return group.isEmpty() ? name : group + QLatin1Char('/') + name;
}

// Keeps a copy of a damaged file before the store touches it. `move` for files too large to read.
void keepDamagedFile(const QString &path, bool move, const char *reason)
{
    const QString aside =
        path + QStringLiteral(".damaged-") + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss-zzz"));
    const bool kept = move ? QFile::rename(path, aside) : QFile::copy(path, aside);
    std::fprintf(stderr, "pixkey: settings file %s is %s; %s\n", qPrintable(path), reason,
                 kept ? qPrintable(QStringLiteral("the original is kept as ") + aside)
                      : "the original could not be kept aside");
}

// Finds the stored spelling of `name` among `stored`: exact first, then without regard to case.
QString matchStored(const QStringList &stored, const QString &name)
{
    // Escaping keeps letters as they are and writes hex digits in capitals, so comparing the
    // escaped forms without regard to case compares the names without regard to case.
    const QString escaped = SettingsStore::escapeName(name);
    if (stored.contains(escaped))
        return escaped;
    for (const QString &candidate : stored)
        if (candidate.compare(escaped, Qt::CaseInsensitive) == 0)
            return candidate;
    return escaped;
}

} // namespace

SettingsStore::SettingsStore(QString folder) : m_folder(std::move(folder)) {}

SettingsStore::~SettingsStore()
{
    sync();
}

QString SettingsStore::defaultFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/Vostrel");
}

KeyPath SettingsStore::settingsKey(const QString &profileSuffix)
{
    QString name = QStringLiteral("PixkeyMini");
    if (!profileSuffix.isEmpty())
        name += QStringLiteral(" - ") + profileSuffix;
    return {QStringLiteral("SOFTWARE"), QStringLiteral("Vostrel"), name};
}

QString SettingsStore::escapeName(const QString &name)
{
    if (name.isEmpty())
        return QStringLiteral("%");
    QString out;
    out.reserve(name.size());
    for (QChar c : name) {
        const char16_t u = c.unicode();
        if (u == u'%' || u == u'/' || u == u'\\' || u < 0x20 || u == 0x7f)
            out += QLatin1Char('%') + QStringLiteral("%1").arg(int(u), 2, 16, QLatin1Char('0')).toUpper();
        else
            out += c;
    }
    if (out == QStringLiteral(".") || out == QStringLiteral(".."))
        out = QStringLiteral("%2E").repeated(out.size());
    return out;
}

QString SettingsStore::unescapeName(const QString &stored)
{
    if (stored == QStringLiteral("%"))
        return QString();
    QString out;
    out.reserve(stored.size());
    for (qsizetype i = 0; i < stored.size(); ++i) {
        if (stored[i] == QLatin1Char('%') && i + 2 < stored.size()) {
            const auto hex = [](QChar c) { return std::isxdigit(c.unicode() < 0x80 ? int(c.unicode()) : 0) != 0; };
            if (hex(stored[i + 1]) && hex(stored[i + 2])) {
                const int code = stored.mid(i + 1, 2).toInt(nullptr, 16);
                out += QChar(char16_t(code));
                i += 2;
                continue;
            }
        }
        out += stored[i];
    }
    return out;
}

QSettings *SettingsStore::openFile(const QString &fileKey, bool create) const
{
    const QString id = fileKey.toLower();
    if (auto found = m_files.find(id); found != m_files.end())
        return found->second.get();
    const QString path = m_folder + QLatin1Char('/') + escapeName(fileKey) + QStringLiteral(".ini");
    QFileInfo info(path);
    if (!info.exists() && !create)
        return nullptr;
    if (info.exists() && info.size() > kMaxFileBytes)
        keepDamagedFile(path, true, "too large to read");
    if (create)
        QDir().mkpath(m_folder);
    auto settings = std::make_unique<QSettings>(path, QSettings::IniFormat);
    settings->setAtomicSyncRequired(true);
    if (settings->status() == QSettings::FormatError)
        keepDamagedFile(path, false, "damaged; what could be read is used");
    QSettings *raw = settings.get();
    m_files.emplace(id, std::move(settings));
    return raw;
}

std::optional<SettingsStore::Location> SettingsStore::locate(const KeyPath &key, bool create) const
{
    if (key.size() < 3 || key[0].compare(QStringLiteral("SOFTWARE"), Qt::CaseInsensitive) != 0 ||
        key[1].compare(QStringLiteral("Vostrel"), Qt::CaseInsensitive) != 0)
        return std::nullopt;
    Location where;
    where.file = openFile(key[2], create);
    if (!where.file)
        return std::nullopt;
    for (qsizetype i = 3; i < key.size(); ++i) {
        where.file->beginGroup(where.group);
        const QStringList children = where.file->childGroups();
        where.file->endGroup();
        where.group = joinGroup(where.group, matchStored(children, key[i]));
    }
    return where;
}

QString SettingsStore::storedValueName(const Location &where, const QString &name) const
{
    where.file->beginGroup(where.group);
    const QStringList names = where.file->childKeys();
    where.file->endGroup();
    return joinGroup(where.group, matchStored(names, name));
}

bool SettingsStore::keyExists(const KeyPath &key) const
{
    const auto where = locate(key, false);
    if (!where)
        return false;
    if (where->group.isEmpty())
        return true; // the file exists, or was created by this store
    where->file->beginGroup(where->group);
    const bool exists = !where->file->childKeys().isEmpty() || !where->file->childGroups().isEmpty();
    where->file->endGroup();
    return exists;
}

bool SettingsStore::createKey(const KeyPath &key)
{
    const auto where = locate(key, true);
    if (!where)
        return false;
    if (!keyExists(key))
        where->file->setValue(joinGroup(where->group, kKeyMarker), QString());
    return true;
}

QStringList SettingsStore::subkeys(const KeyPath &key) const
{
    const auto where = locate(key, false);
    if (!where)
        return {};
    where->file->beginGroup(where->group);
    const QStringList stored = where->file->childGroups();
    where->file->endGroup();
    QStringList names;
    for (const QString &name : stored)
        names << unescapeName(name);
    return names;
}

QStringList SettingsStore::valueNames(const KeyPath &key) const
{
    const auto where = locate(key, false);
    if (!where)
        return {};
    where->file->beginGroup(where->group);
    const QStringList stored = where->file->childKeys();
    where->file->endGroup();
    QStringList names;
    for (const QString &name : stored)
        if (name != kKeyMarker)
            names << unescapeName(name);
    return names;
}

std::optional<std::int32_t> SettingsStore::readDword(const KeyPath &key, const QString &name) const
{
    const auto text = readString(key, name);
    if (!text)
        return std::nullopt;
    bool ok = false;
    const qlonglong number = text->trimmed().toLongLong(&ok, 10);
    if (!ok || number < std::numeric_limits<std::int32_t>::min() ||
        number > qlonglong(std::numeric_limits<std::uint32_t>::max()))
        return std::nullopt;
    return std::int32_t(std::uint32_t(number & 0xffffffffLL));
}

std::optional<QString> SettingsStore::readString(const KeyPath &key, const QString &name) const
{
    const auto where = locate(key, false);
    if (!where)
        return std::nullopt;
    const QVariant value = where->file->value(storedValueName(*where, name));
    if (!value.isValid())
        return std::nullopt;
    QString text;
    if (value.typeId() == QMetaType::QStringList)
        text = value.toStringList().join(QStringLiteral(", ")); // an unquoted list written by hand
    else if (value.typeId() == QMetaType::QByteArray)
        text = QString::fromUtf8(value.toByteArray());
    else if (value.canConvert<QString>())
        text = value.toString();
    else
        return std::nullopt;
    if (text.size() > kMaxValueChars)
        return std::nullopt;
    return text;
}

bool SettingsStore::writeDword(const KeyPath &key, const QString &name, std::int32_t value)
{
    return writeString(key, name, QString::number(value));
}

bool SettingsStore::writeString(const KeyPath &key, const QString &name, const QString &value)
{
    const auto where = locate(key, true);
    if (!where)
        return false;
    where->file->setValue(storedValueName(*where, name), value);
    where->file->remove(joinGroup(where->group, kKeyMarker)); // the key holds something now
    return true;
}

bool SettingsStore::deleteKey(const KeyPath &key)
{
    const auto where = locate(key, false);
    if (!where)
        return true;
    if (where->group.isEmpty())
        where->file->clear();
    else
        where->file->remove(where->group);
    return true;
}

bool SettingsStore::sync()
{
    bool ok = true;
    for (auto &[id, file] : m_files) {
        file->sync();
        if (file->status() == QSettings::AccessError)
            ok = false;
    }
    return ok;
}

} // namespace pixkey
