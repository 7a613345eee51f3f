#include "SettingsStore.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include <cctype>
#include <chrono>
#include <thread>
#include <cstdio>
#include <limits>

namespace pixkey {

namespace {

// Marks a key that holds nothing yet: INI files have no empty sections. Escaped names never take
// this form, so it cannot collide with a real value.
const QString kKeyMarker = QStringLiteral("%.");

// Case-insensitive keys of the tree; the stored spelling is kept beside.
QString folded(const QString &name)
{
    return name.toCaseFolded();
}

// The text of a value as QSettings read it; nullopt for what is not text.
std::optional<QString> valueText(const QVariant &value)
{
    if (!value.isValid())
        return std::nullopt;
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QStringLiteral(", ")); // an unquoted list written by hand
    if (value.typeId() == QMetaType::QByteArray)
        return QString::fromUtf8(value.toByteArray());
    if (value.canConvert<QString>())
        return value.toString();
    return std::nullopt;
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

} // namespace

struct SettingsStore::Node {
    struct Child {
        QString name;
        std::unique_ptr<Node> node;
    };
    struct Value {
        QString name;
        std::optional<QString> text; // nullopt: present but not readable as text
    };
    std::map<QString, Child> children; // by case-folded name
    std::map<QString, Value> values;   // by case-folded name

    Node *child(const QString &name) const
    {
        const auto found = children.find(folded(name));
        return found == children.end() ? nullptr : found->second.node.get();
    }
    Node &makeChild(const QString &name)
    {
        auto [slot, added] = children.try_emplace(folded(name));
        if (added)
            slot->second = Child{name, std::make_unique<Node>()};
        return *slot->second.node;
    }
    // A value keeps the spelling it was first stored with.
    void setValue(const QString &name, std::optional<QString> text)
    {
        auto [slot, added] = values.try_emplace(folded(name));
        if (added)
            slot->second.name = name;
        slot->second.text = std::move(text);
    }
};

struct SettingsStore::File {
    QString path;
    Node root;
    bool dirty = false;
};

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

SettingsStore::File *SettingsStore::openFile(const QString &fileKey, bool create) const
{
    const QString id = folded(fileKey);
    if (auto found = m_files.find(id); found != m_files.end())
        return found->second.get();
    const QString path = m_folder + QLatin1Char('/') + escapeName(fileKey) + QStringLiteral(".ini");
    QFileInfo info(path);
    if (!info.exists() && !create)
        return nullptr;
    auto file = std::make_unique<File>();
    file->path = path;
    if (info.exists() && info.size() > kMaxFileBytes) {
        keepDamagedFile(path, true, "too large to read");
        file->dirty = true; // a file of what is known replaces it at the next sync
    } else if (info.exists()) {
        QSettings settings(path, QSettings::IniFormat);
        if (settings.status() == QSettings::FormatError)
            keepDamagedFile(path, false, "damaged; what could be read is used");
        for (const QString &stored : settings.allKeys()) {
            if (stored.isEmpty())
                continue;
            const QStringList parts = stored.split(QLatin1Char('/'));
            Node *node = &file->root;
            for (qsizetype i = 0; i + 1 < parts.size(); ++i)
                node = &node->makeChild(unescapeName(parts[i]));
            if (parts.back() != kKeyMarker)
                node->setValue(unescapeName(parts.back()), valueText(settings.value(stored)));
        }
    } else {
        file->dirty = true; // created by this store
    }
    File *raw = file.get();
    m_files.emplace(id, std::move(file));
    return raw;
}

SettingsStore::Node *SettingsStore::locate(const KeyPath &key, bool create, File **fileOut) const
{
    if (key.size() < 3 || key[0].compare(QStringLiteral("SOFTWARE"), Qt::CaseInsensitive) != 0 ||
        key[1].compare(QStringLiteral("Vostrel"), Qt::CaseInsensitive) != 0)
        return nullptr;
    File *file = openFile(key[2], create);
    if (!file)
        return nullptr;
    Node *node = &file->root;
    for (qsizetype i = 3; i < key.size() && node; ++i)
        node = create ? &node->makeChild(key[i]) : node->child(key[i]);
    if (fileOut)
        *fileOut = file;
    return node;
}

bool SettingsStore::keyExists(const KeyPath &key) const
{
    return locate(key, false) != nullptr;
}

bool SettingsStore::createKey(const KeyPath &key)
{
    File *file = nullptr;
    const bool existed = keyExists(key);
    if (!locate(key, true, &file))
        return false;
    if (!existed)
        file->dirty = true;
    return true;
}

QStringList SettingsStore::subkeys(const KeyPath &key) const
{
    QStringList names;
    if (const Node *node = locate(key, false))
        for (const auto &[id, child] : node->children)
            names << child.name;
    return names;
}

QStringList SettingsStore::valueNames(const KeyPath &key) const
{
    QStringList names;
    if (const Node *node = locate(key, false))
        for (const auto &[id, value] : node->values)
            names << value.name;
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
    const Node *node = locate(key, false);
    if (!node)
        return std::nullopt;
    const auto found = node->values.find(folded(name));
    if (found == node->values.end() || !found->second.text || found->second.text->size() > kMaxValueChars)
        return std::nullopt;
    return found->second.text;
}

bool SettingsStore::writeDword(const KeyPath &key, const QString &name, std::int32_t value)
{
    return writeString(key, name, QString::number(value));
}

bool SettingsStore::writeString(const KeyPath &key, const QString &name, const QString &value)
{
    File *file = nullptr;
    Node *node = locate(key, true, &file);
    if (!node)
        return false;
    node->setValue(name, value);
    file->dirty = true;
    return true;
}

bool SettingsStore::deleteKey(const KeyPath &key)
{
    if (key.size() <= 3) {
        File *file = nullptr;
        if (Node *root = locate(key, false, &file)) {
            *root = Node();
            file->dirty = true;
        }
        return true;
    }
    Node *parent = locate(key.mid(0, key.size() - 1), false);
    if (!parent)
        return true;
    File *file = nullptr;
    locate(key.mid(0, 3), false, &file);
    if (parent->children.erase(folded(key.back())) > 0)
        file->dirty = true;
    return true;
}

namespace {

void writeNode(QSettings &settings, const QString &group, const auto &node)
{
    for (const auto &[id, value] : node.values)
        if (value.text)
            settings.setValue(group + SettingsStore::escapeName(value.name), *value.text);
    for (const auto &[id, child] : node.children) {
        const QString childGroup = group + SettingsStore::escapeName(child.name) + QLatin1Char('/');
        if (child.node->values.empty() && child.node->children.empty())
            settings.setValue(childGroup + kKeyMarker, QString());
        else
            writeNode(settings, childGroup, *child.node);
    }
}

// QSettings guards a file with "<file>.lock". A writer killed between creating that lock and
// writing its process into it leaves an empty lock that nobody owns, which QSettings would wait out
// for half a minute at the next save. A live writer fills its lock at once.
void removeDeadEmptyLock(const QString &lockPath)
{
    QFileInfo lock(lockPath);
    if (!lock.exists() || lock.size() != 0)
        return;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    lock.refresh();
    if (lock.exists() && lock.size() == 0)
        QFile::remove(lockPath);
}

} // namespace

void SettingsStore::reread()
{
    for (auto it = m_files.begin(); it != m_files.end();)
        it = it->second->dirty ? std::next(it) : m_files.erase(it);
}

bool SettingsStore::sync()
{
    bool ok = true;
    for (auto &[id, file] : m_files) {
        if (!file->dirty)
            continue;
        QDir().mkpath(m_folder);
        removeDeadEmptyLock(file->path + QStringLiteral(".lock"));
        QSettings settings(file->path, QSettings::IniFormat);
        // Written to a temporary beside the file and renamed over it; refused rather than written in
        // place when the folder does not allow that.
        settings.setAtomicSyncRequired(true);
        settings.clear();
        writeNode(settings, QString(), file->root);
        settings.sync();
        if (settings.status() == QSettings::AccessError)
            ok = false;
        else
            file->dirty = false;
    }
    return ok;
}

} // namespace pixkey
