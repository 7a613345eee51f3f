#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>

namespace pixkey {

// A key of the store as a list of names, outermost first, e.g. {"SOFTWARE", "Vostrel",
// "PixkeyMini", "Config", "Global"}. Names are kept whole: a name may contain "\", "/", "..",
// control characters or be very long; the store escapes it inside its files, so no name can reach
// another key.
using KeyPath = QStringList;

// The program's registry: keys holding subkeys and named DWORD or string values, kept in INI files
// through QSettings. "SOFTWARE\Vostrel\<name>" is the file "<folder>/<name>.ini"; the keys below it
// are groups of that file. Names compare case-insensitively when an existing key or value is looked
// up, as the program has always expected of its store; new names are stored as given.
//
// Writes go to memory first and reach the files at `sync()` (and when the store is destroyed),
// each changed file as a whole.
// A file is written to a temporary beside it and renamed over it, so a process killed at any moment
// leaves either the previous or the new file. A file that cannot be parsed, or is absurdly large,
// is copied (or, when too large to read, moved) aside as "<file>.damaged-<time>" before anything
// else happens to it, with one line on stderr; what could be read is used.
//
// Owned by `AppCore` (or a test); main thread only.
class SettingsStore {
public:
    // Files above this size are not read at all.
    static constexpr qint64 kMaxFileBytes = 8 * 1024 * 1024;
    // Longer values are treated as unreadable.
    static constexpr int kMaxValueChars = 64 * 1024;

    // `folder` is the directory that stands for "SOFTWARE\Vostrel" (created on the first write).
    explicit SettingsStore(QString folder);
    ~SettingsStore();
    SettingsStore(const SettingsStore &) = delete;
    SettingsStore &operator=(const SettingsStore &) = delete;

    // "$XDG_CONFIG_HOME/Vostrel" (~/.config/Vostrel when the variable is not set).
    static QString defaultFolder();

    // "SOFTWARE\Vostrel\PixkeyMini", or that followed by " - " and `profileSuffix` when the suffix
    // is not empty.
    static KeyPath settingsKey(const QString &profileSuffix = QString());

    const QString &folder() const { return m_folder; }

    bool keyExists(const KeyPath &key) const;
    // Creates the key and its parents when missing. False when the key cannot be named in this
    // store (outside "SOFTWARE\Vostrel\...") or its file cannot be created.
    bool createKey(const KeyPath &key);
    // Names of the direct subkeys, in a stable (sorted) order.
    QStringList subkeys(const KeyPath &key) const;
    // Names of the values of the key, in a stable (sorted) order.
    QStringList valueNames(const KeyPath &key) const;
    // A DWORD value: nullopt when missing or not a 32-bit number (signed or unsigned text).
    std::optional<std::int32_t> readDword(const KeyPath &key, const QString &name) const;
    // A value as text (a DWORD reads as its decimal text): nullopt when missing or too long.
    std::optional<QString> readString(const KeyPath &key, const QString &name) const;
    // Both create the key when missing.
    bool writeDword(const KeyPath &key, const QString &name, std::int32_t value);
    bool writeString(const KeyPath &key, const QString &name, const QString &value);
    // Deletes the key with every subkey and value. Deleting a missing key succeeds.
    bool deleteKey(const KeyPath &key);

    // Writes every changed file. False when a file could not be written (the previous file stays).
    bool sync();
    // Forgets what was read of the files without changes of this store, so that the next use reads
    // them again (another program wrote them). Files with changes not yet synced are kept.
    void reread();

    // How a name appears inside a file and back; exposed for tests.
    static QString escapeName(const QString &name);
    static QString unescapeName(const QString &stored);

private:
    struct Node;
    struct File;
    // The node for `key`; with `create`, made (with its file and parents) when missing.
    Node *locate(const KeyPath &key, bool create, File **file = nullptr) const;
    File *openFile(const QString &fileKey, bool create) const;

    QString m_folder;
    // Every file is read whole when first used and written whole at `sync`: the key operations
    // work on this tree, so they cost a lookup, not a pass over the file.
    mutable std::map<QString, std::unique_ptr<File>> m_files; // by case-folded file key
};

} // namespace pixkey
