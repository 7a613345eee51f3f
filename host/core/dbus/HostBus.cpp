#include "HostBus.h"

#include "AppCore.h"
#include "DeviceLink.h"
#include "FrameTransform.h"
#include "HostBusName.h"
#include "LayoutSwitcher.h"
#include "MainThreadEvent.h"
#include "ModifierRow.h"
#include "PluginInstance.h"
#include "Runtime.h"
#include "RuntimeWindow.h"

#include <QBuffer>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QImage>
#include <QVariantMap>

#include <atomic>
#include <cstring>

namespace pixkey {

namespace {
const QString kNoSuchLayout = QStringLiteral("NoSuchLayout");
const QString kInvalidKey = QStringLiteral("InvalidKey");
const QString kInvalidRow = QStringLiteral("InvalidRow");
const QString kRefused = QStringLiteral("Refused");
const QString kFailed = QStringLiteral("Failed");
constexpr int kFace = 96;

QString nextConnectionName()
{
    static std::atomic<int> counter{0};
    return QStringLiteral("pixkey-host-%1").arg(++counter);
}
} // namespace

HostBus::HostBus(Runtime &runtime)
    : m_runtime(runtime), m_connectionName(nextConnectionName()), m_connection(m_connectionName)
{
    DesktopReport::registerDesktopItemType();
}

HostBus::~HostBus()
{
    AppCore &core = m_runtime.core();
    core.activeChanged = nullptr;
    m_runtime.switcher().pressTaken = nullptr;
    if (m_exported)
        m_connection.unregisterObject(HostBusName::kPath);
    // Closing the connection lets go of the names at once, so clients see this copy gone.
    QDBusConnection::disconnectFromBus(m_connectionName);
}

bool HostBus::start(const QString &address)
{
    const QString busAddress = address.isEmpty() ? qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS") : address;
    if (busAddress.isEmpty()) {
        m_error = QStringLiteral("no session bus (DBUS_SESSION_BUS_ADDRESS is not set)");
        return false;
    }
    m_connection = QDBusConnection::connectToBus(busAddress, m_connectionName);
    if (!m_connection.isConnected()) {
        m_error = QStringLiteral("the session bus cannot be reached: ") + m_connection.lastError().message();
        return false;
    }
    if (!m_connection.registerObject(HostBusName::kPath, this,
                                     QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals |
                                         QDBusConnection::ExportAllProperties)) {
        m_error = QStringLiteral("the object cannot be exported on the session bus");
        return false;
    }
    m_exported = true;
    m_connected = m_runtime.link().IsConnected();
    m_announced = current();

    AppCore &core = m_runtime.core();
    core.activeChanged = [this] { sync(); };
    m_runtime.switcher().pressTaken = [this](int slot) { Q_EMIT KeyPressed(slot + 1); };

    // The first copy gets the plain name; the others wait in line for it.
    m_connection.interface()->registerService(HostBusName::kFirstHost, QDBusConnectionInterface::QueueService,
                                              QDBusConnectionInterface::DontAllowReplacement);
    updateKeypadName();
    return true;
}

void HostBus::updateKeypadName()
{
    const QString name = HostBusName::forPort(port());
    if (name == m_keypadName)
        return;
    // A keypad on another port: the copy is found under that port from now on. Without a port
    // (never opened, or too long a name) it keeps the name it had.
    if (name.isEmpty())
        return;
    if (!m_keypadName.isEmpty())
        m_connection.interface()->unregisterService(m_keypadName);
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply = m_connection.interface()->registerService(
        name, QDBusConnectionInterface::DontQueueService, QDBusConnectionInterface::DontAllowReplacement);
    if (reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered) {
        m_keypadName = name;
    } else {
        m_keypadName.clear();
        m_error = QStringLiteral("the name %1 is taken on the session bus").arg(name);
    }
}

// --- state ----------------------------------------------------------------------------------------

QString HostBus::port() const
{
    return QString::fromStdString(m_runtime.link().portName());
}

QString HostBus::profile() const
{
    return m_runtime.core().profileSuffix;
}

QString HostBus::activeLayout() const
{
    const LayoutConfig *layout = m_runtime.core().activeLayout;
    return layout ? layout->name() : QString();
}

int HostBus::activeRow() const
{
    return m_runtime.core().activeLayout ? m_runtime.core().currentRow : 0;
}

bool HostBus::autoSwitch() const
{
    return m_runtime.core().settings.value(Settings::AutoSwitch) == 1;
}

QStringList HostBus::layouts() const
{
    QStringList names;
    for (const auto &layout : m_runtime.core().layouts)
        if (layout && layout->state != LayoutState::Deleted)
            names << layout->name();
    return names;
}

HostBus::Announced HostBus::current() const
{
    return {m_connected, port(), profile(), activeLayout(), activeRow(), autoSwitch(), layouts()};
}

void HostBus::connectionChanged(bool connected)
{
    const bool changed = connected != m_connected;
    m_connected = connected;
    if (connected)
        updateKeypadName();
    if (changed)
        Q_EMIT ConnectionChanged(connected);
    sync();
}

void HostBus::sync()
{
    if (!m_exported)
        return;
    const Announced now = current();
    if (now.layout != m_announced.layout || now.row != m_announced.row)
        Q_EMIT LayoutChanged(now.layout, now.row);
    QVariantMap changed;
    if (now.connected != m_announced.connected)
        changed.insert(QStringLiteral("Connected"), now.connected);
    if (now.port != m_announced.port)
        changed.insert(QStringLiteral("Port"), now.port);
    if (now.profile != m_announced.profile)
        changed.insert(QStringLiteral("Profile"), now.profile);
    if (now.layout != m_announced.layout)
        changed.insert(QStringLiteral("ActiveLayout"), now.layout);
    if (now.row != m_announced.row)
        changed.insert(QStringLiteral("ActiveRow"), now.row);
    if (now.autoSwitch != m_announced.autoSwitch)
        changed.insert(QStringLiteral("AutoSwitch"), now.autoSwitch);
    if (now.layouts != m_announced.layouts)
        changed.insert(QStringLiteral("Layouts"), now.layouts);
    m_announced = now;
    if (changed.isEmpty())
        return;
    QDBusMessage signal = QDBusMessage::createSignal(HostBusName::kPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                                     QStringLiteral("PropertiesChanged"));
    signal << HostBusName::kInterface << changed << QStringList();
    m_connection.send(signal);
}

// --- methods --------------------------------------------------------------------------------------

void HostBus::reply(const QString &error, const QString &text)
{
    if (calledFromDBus())
        sendErrorReply(HostBusName::kErrorPrefix + error, text);
}

void HostBus::ActivateLayout(const QString &name)
{
    AppCore &core = m_runtime.core();
    LayoutConfig *layout = name.trimmed().isEmpty() ? nullptr : core.findLayout(name);
    if (!layout || layout->state == LayoutState::Deleted) {
        QStringList known = layouts();
        reply(kNoSuchLayout, QStringLiteral("no layout named \"%1\" (there are: %2)").arg(name, known.join(QStringLiteral(", "))));
        return;
    }
    if (layout == core.activeLayout)
        return;
    if (core.idleActive || core.illuminationOff) {
        reply(kRefused, QStringLiteral("the keypad is idle: the layout cannot change until input returns"));
        return;
    }
    core.activate(layout);
    if (core.activeLayout != layout)
        reply(kFailed, QStringLiteral("the layout \"%1\" could not be activated").arg(layout->name()));
    sync();
}

void HostBus::SetAutoSwitch(bool enabled)
{
    AppCore &core = m_runtime.core();
    core.settings.setValue(Settings::AutoSwitch, enabled ? 1 : 0);
    if (!core.saveSettings(QStringLiteral("AutoSwitch")))
        reply(kFailed, QStringLiteral("automatic switching is %1, but the choice could not be stored")
                           .arg(enabled ? QStringLiteral("on") : QStringLiteral("off")));
    sync();
}

void HostBus::Press(int key)
{
    if (key < 1 || key > ModifierRow::kKeys) {
        reply(kInvalidKey, QStringLiteral("key %1 does not exist: keys are 1, 2 and 3").arg(key));
        return;
    }
    // The road of a press from the keypad: the device key posted to the main thread, then
    // debounced and routed by the switching.
    const int deviceKey = deviceKeyForSlot(key - 1, m_runtime.core().settings.value(Settings::Orientation));
    m_runtime.post(new MainThreadEvent(PrivateMessage::KeyPressed, deviceKey, 0));
}

void HostBus::Reload()
{
    AppCore &core = m_runtime.core();
    if (core.modified) {
        reply(kRefused, QStringLiteral("the configurator holds changes that are not saved: save or cancel them first"));
        return;
    }
    const QString before = activeLayout();
    // Another program wrote the store: what this copy read of it before is stale.
    m_runtime.store().reread();
    m_runtime.switcher().reload();
    // What was shown stays shown, when it still exists (the reload itself comes back on "Global").
    LayoutConfig *again = before.isEmpty() ? nullptr : core.findLayout(before);
    if (again && again->state != LayoutState::Deleted && again != core.activeLayout)
        core.activate(again);
    sync();
}

void HostBus::ShowConfigurator()
{
    m_runtime.window().showWindow();
}

void HostBus::Screenshot(QByteArray &png)
{
    AppCore &core = m_runtime.core();
    QImage strip(ModifierRow::kKeys * kFace, kFace, QImage::Format_RGB888);
    strip.fill(Qt::black);
    if (core.activeLayout && !core.illuminationOff) {
        for (int slot = 0; slot < ModifierRow::kKeys; ++slot) {
            const InstanceRef holder = core.getSlot(*core.activeLayout, slot, ModifierRow::kCurrent);
            if (!holder || !holder->instance())
                continue;
            const QImage face = holder->instance()->face().convertToFormat(QImage::Format_RGB888);
            if (face.width() != kFace || face.height() != kFace)
                continue;
            for (int y = 0; y < kFace; ++y)
                std::memcpy(strip.scanLine(y) + slot * kFace * 3, face.constScanLine(y), kFace * 3);
        }
    }
    png.clear();
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (!strip.save(&buffer, "PNG"))
        reply(kFailed, QStringLiteral("the picture could not be encoded"));
}

void HostBus::SwitchLayout()
{
    AppCore &core = m_runtime.core();
    if (core.idleActive || core.illuminationOff) {
        reply(kRefused, QStringLiteral("the keypad is idle: the layout cannot change until input returns"));
        return;
    }
    m_runtime.switcher().switchLayout(true);
    sync();
}

void HostBus::SelectRow(int row)
{
    if (row < 0 || row >= ModifierRow::kCount) {
        reply(kInvalidRow, QStringLiteral("row %1 does not exist: rows are 0 to %2").arg(row).arg(ModifierRow::kCount - 1));
        return;
    }
    AppCore &core = m_runtime.core();
    if (!core.activeLayout) {
        reply(kRefused, QStringLiteral("no layout is active"));
        return;
    }
    if (core.idleActive || core.illuminationOff) {
        reply(kRefused, QStringLiteral("the keypad is idle: the row cannot change until input returns"));
        return;
    }
    if (!m_runtime.switcher().chooseRow(row)) {
        reply(kRefused, m_runtime.window().optionsBusy() > 0
                            ? QStringLiteral("a key's options are open in the configurator: close them first")
                            : QStringLiteral("the layout \"%1\" shows only its default row").arg(core.activeLayout->name()));
    }
    sync();
}

void HostBus::DesktopCapabilities(QList<DesktopItem> &items)
{
    items = m_runtime.desktopReport();
}

} // namespace pixkey
