#pragma once

#include <QImage>
#include <QString>

namespace pixkey {

class PluginLibrary;

// One function of a plug-in library: what a key instance made with `Create(module, number)` does.
// Owned by its `PluginLibrary`; the object stays the same while the library is unloaded and loaded
// again, so instances and the configurator may keep pointers to it. Main thread only.
class PluginFunction {
public:
    PluginFunction(PluginLibrary &library, int number) : m_library(&library), m_number(number) {}

    PluginLibrary &library() const { return *m_library; }
    int number() const { return m_number; }

    QString name = QStringLiteral("Undefined");
    QString description;
    QImage smallIcon;
    QImage largeIcon;
    QImage preview;

private:
    PluginLibrary *m_library;
    int m_number;
};

} // namespace pixkey
