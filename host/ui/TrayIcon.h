// TrayIcon: the program's icon in the notification area. It shows whether the keypad is connected,
// carries the title as its tip, opens the configurator on a double click and offers the menu:
// the manual layouts ("Global", "Idle", then the others by name; names over 30 characters cut),
// the active one checked, "Row" (the six modifier rows, the current one checked; only where the
// desktop reports no held modifiers, so the user can latch a row by hand), "Auto switch",
// "Configure..." (greyed while the configurator is shown) and "Exit". It is shown only while the
// TrayIcon setting is 1.
//
// The icon is created lazily; when the desktop has no notification area yet (a session still
// starting) it is tried again a few times before `unavailable` is emitted, and the owner then
// makes the configurator window the way in. Works on the `AppCore` given, which must outlive it.
// [main-thread].
#pragma once

#include "DesktopReport.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QAction;
class QMenu;
class QSystemTrayIcon;
class QTimer;

namespace pixkey {

class AppCore;

class TrayIcon : public QObject {
    Q_OBJECT
public:
    static constexpr int kNameLimit = 30;
    static constexpr int kMaxLayouts = 100;
    static constexpr int kRetries = 5;
    static constexpr int kRetryMs = 2000;

    explicit TrayIcon(AppCore &core, QObject *parent = nullptr);
    ~TrayIcon() override;

    // Whether a notification area exists (default: QSystemTrayIcon::isSystemTrayAvailable).
    void setAvailabilityProbe(std::function<bool()> probe) { m_available = std::move(probe); }
    // Time between tries while there is no notification area (default kRetryMs).
    void setRetryInterval(int ms);
    void setTip(const QString &tip);
    QString tip() const { return m_tip; }

    // Shows the icon for the connection state when TrayIcon = 1, removes it otherwise.
    void update();
    void setConnected(bool connected);
    bool isConnected() const { return m_connected; }
    void setConfiguratorVisible(bool visible) { m_configuratorVisible = visible; }
    bool isShown() const;
    // The icon is wanted but no notification area turned up.
    bool gaveUp() const { return m_gaveUp; }
    // Shown, Missing (gave up), or Unknown (switched off or still looking).
    TrayState state() const;

    // Whether the desktop reports no held modifiers, asked when the menu opens (default: none
    // asked, no "Row" submenu).
    void setRowsUnavailable(std::function<bool()> probe) { m_rowsUnavailable = std::move(probe); }
    // How a row chosen in the "Row" submenu is shown (default: the core's current row, keys sent).
    void setRowHandler(std::function<void(int)> handler) { m_rowHandler = std::move(handler); }

    // A fresh menu as a right click shows it.
    std::unique_ptr<QMenu> buildMenu();
    // A layout name as the menu shows it.
    static QString menuText(const QString &name);

Q_SIGNALS:
    void configureRequested();
    void exitRequested();
    // The notification area did not appear after the retries.
    void unavailable();

private:
    void fillMenu(QMenu &menu);
    void tryCreate();

    AppCore &m_core;
    std::function<bool()> m_available;
    std::function<bool()> m_rowsUnavailable;
    std::function<void(int)> m_rowHandler;
    QSystemTrayIcon *m_icon = nullptr;
    std::unique_ptr<QMenu> m_menu;
    QTimer *m_retry = nullptr;
    int m_attempts = 0;
    bool m_connected = false;
    bool m_configuratorVisible = false;
    bool m_gaveUp = false;
    QString m_tip;
};

} // namespace pixkey
