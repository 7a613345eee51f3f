#include "TrayIcon.h"

#include "AppCore.h"
#include "LayoutKind.h"
#include "ModifierRow.h"
#include "UiPictures.h"

#include <QActionGroup>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>

#include <algorithm>

namespace pixkey {

TrayIcon::TrayIcon(AppCore &core, QObject *parent)
    : QObject(parent), m_core(core), m_available(&QSystemTrayIcon::isSystemTrayAvailable), m_menu(std::make_unique<QMenu>())
{
    connect(m_menu.get(), &QMenu::aboutToShow, this, [this] {
        m_menu->clear();
        fillMenu(*m_menu);
    });
    m_retry = new QTimer(this);
    m_retry->setSingleShot(true);
    m_retry->setInterval(kRetryMs);
    m_retry->setTimerType(Qt::CoarseTimer);
    connect(m_retry, &QTimer::timeout, this, &TrayIcon::update);
}

TrayIcon::~TrayIcon()
{
    delete m_icon;
}

QString TrayIcon::menuText(const QString &name)
{
    return name.size() > kNameLimit ? name.left(kNameLimit) + QStringLiteral("...") : name;
}

void TrayIcon::setRetryInterval(int ms)
{
    m_retry->setInterval(ms);
}

void TrayIcon::setTip(const QString &tip)
{
    m_tip = tip;
    if (m_icon)
        m_icon->setToolTip(tip);
}

void TrayIcon::setConnected(bool connected)
{
    m_connected = connected;
    update();
}

bool TrayIcon::isShown() const
{
    return m_icon && m_icon->isVisible();
}

TrayState TrayIcon::state() const
{
    if (isShown())
        return TrayState::Shown;
    return m_gaveUp && m_core.settings.value(Settings::TrayIcon) == 1 ? TrayState::Missing : TrayState::Unknown;
}

void TrayIcon::update()
{
    if (m_core.settings.value(Settings::TrayIcon) != 1) {
        m_retry->stop();
        m_attempts = 0;
        if (m_icon)
            m_icon->hide();
        return;
    }
    if (!m_icon)
        tryCreate();
    if (!m_icon)
        return;
    m_icon->setIcon(UiPictures::trayIcon(m_connected));
    m_icon->setToolTip(m_tip);
    m_icon->show();
}

void TrayIcon::tryCreate()
{
    // A session that is still starting may not have its notification area yet. Only the timed
    // retries count; updates in between wait for the pending one. After giving up, later updates
    // (the window shown or hidden) still look once, uncounted.
    if (m_retry->isActive())
        return;
    if (!m_available()) {
        if (m_gaveUp)
            return;
        if (++m_attempts < kRetries) {
            m_retry->start();
        } else if (!m_gaveUp) {
            m_gaveUp = true;
            Q_EMIT unavailable();
        }
        return;
    }
    m_gaveUp = false;
    m_attempts = 0;
    m_icon = new QSystemTrayIcon(this);
    m_icon->setContextMenu(m_menu.get());
    connect(m_icon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::DoubleClick || reason == QSystemTrayIcon::Trigger)
            Q_EMIT configureRequested();
    });
}

std::unique_ptr<QMenu> TrayIcon::buildMenu()
{
    auto menu = std::make_unique<QMenu>();
    fillMenu(*menu);
    return menu;
}

void TrayIcon::fillMenu(QMenu &menu)
{
    std::vector<LayoutConfig *> manual;
    for (const auto &layout : m_core.layouts)
        if (layout && layout->state != LayoutState::Deleted && layout->path().isEmpty())
            manual.push_back(layout.get());
    std::stable_sort(manual.begin(), manual.end(), layoutListsBefore);
    auto *group = new QActionGroup(&menu);
    group->setExclusive(true);
    int added = 0;
    for (LayoutConfig *layout : manual) {
        const int index = m_core.indexOf(layout);
        if (index < 0 || index >= kMaxLayouts)
            continue;
        QAction *action = menu.addAction(menuText(layout->name()));
        action->setCheckable(true);
        action->setChecked(layout == m_core.activeLayout);
        action->setActionGroup(group);
        connect(action, &QAction::triggered, this, [this, index] {
            // The core refuses while the keypad is idle or dark.
            m_core.select(index);
        });
        ++added;
    }
    if (added > 0)
        menu.addSeparator();
    if (m_core.activeLayout && m_rowsUnavailable && m_rowsUnavailable()) {
        QMenu *rows = menu.addMenu(tr("Row"));
        // The idle layout has only its default row.
        rows->setEnabled(!m_core.idleActive && !m_core.activeLayout->isNamed(QStringLiteral("Idle")));
        auto *rowGroup = new QActionGroup(rows);
        rowGroup->setExclusive(true);
        for (int row = 0; row < ModifierRow::kCount; ++row) {
            QAction *action = rows->addAction(ModifierRow::displayName(row));
            action->setCheckable(true);
            action->setChecked(row == m_core.currentRow);
            action->setActionGroup(rowGroup);
            connect(action, &QAction::triggered, this, [this, row] {
                if (m_rowHandler) {
                    m_rowHandler(row);
                } else {
                    m_core.setCurrentRow(row);
                    m_core.sendAllFaces();
                }
            });
        }
    }
    QAction *autoSwitch = menu.addAction(tr("Auto switch"));
    autoSwitch->setCheckable(true);
    autoSwitch->setChecked(m_core.settings.value(Settings::AutoSwitch) == 1);
    connect(autoSwitch, &QAction::triggered, this, [this] {
        // A stored value other than 0 or 1 counts as off, so the toggle always gives 0 or 1.
        m_core.settings.setValue(Settings::AutoSwitch, m_core.settings.value(Settings::AutoSwitch) == 1 ? 0 : 1);
        m_core.saveSettings(QStringLiteral("AutoSwitch"));
    });
    menu.addSeparator();
    QAction *configure = menu.addAction(tr("Configure..."));
    configure->setEnabled(!m_configuratorVisible);
    menu.setDefaultAction(configure);
    connect(configure, &QAction::triggered, this, &TrayIcon::configureRequested);
    QAction *exit = menu.addAction(tr("Exit"));
    connect(exit, &QAction::triggered, this, &TrayIcon::exitRequested);
}

} // namespace pixkey
