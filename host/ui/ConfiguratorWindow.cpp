#include "ConfiguratorWindow.h"

#include "AboutDialog.h"
#include "AppCore.h"
#include "CConfigComboBox.h"
#include "CPxkHoverButton.h"
#include "CPxkPluginListView.h"
#include "DesktopApplications.h"
#include "KeyPreview.h"
#include "KeypadOutput.h"
#include "LayoutInfoPanel.h"
#include "LayoutKind.h"
#include "PluginAboutPanel.h"
#include "PluginInstance.h"
#include "RowSelector.h"
#include "SettingsDialog.h"
#include "TrayIcon.h"
#include "UiPictures.h"
#include "WindowTitle.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QWindow>
#include <QVBoxLayout>

namespace pixkey {

namespace {

constexpr int kMaxProperties = 256;

bool isFixedLayout(const LayoutConfig *layout)
{
    const LayoutKind kind = layoutKind(layout);
    return kind == LayoutKind::Global || kind == LayoutKind::Idle;
}

QIcon rowIcon(const std::array<QImage, 3> &icons)
{
    QPixmap strip(48, 16);
    strip.fill(Qt::transparent);
    QPainter painter(&strip);
    for (int key = 0; key < 3; ++key)
        if (!icons[std::size_t(key)].isNull())
            painter.drawImage(QRect(key * 16, 0, 16, 16), icons[std::size_t(key)]);
    return QIcon(strip);
}

} // namespace

QString ConfiguratorWindow::title(const AppCore &core, bool withVersion)
{
    return WindowTitle::title(core, withVersion);
}

ConfiguratorWindow::ConfiguratorWindow(AppCore &core, QWidget *parent) : QDialog(parent), m_core(core)
{
    setWindowTitle(title(core, true));
    setWindowIcon(UiPictures::windowIcon());
    setWindowFlags(windowFlags() | Qt::WindowMinMaxButtonsHint);
    setSizeGripEnabled(true);

    m_rowHandler = [this](int row) {
        m_core.setCurrentRow(row);
        m_core.sendAllFaces();
        onRowChanged();
    };
    m_runAddLayout = [this]() -> std::optional<AddLayoutChoice> {
        AddLayoutDialog dialog(DesktopApplications::scan(DesktopApplications::standardDataDirs(),
                                                         DesktopApplications::standardSearchPath()), this);
        if (dialog.exec() != QDialog::Accepted)
            return std::nullopt;
        return dialog.result();
    };
    m_chooseFile = [this] {
        QFileDialog dialog(this, tr("Add Plug-in"));
        dialog.setFileMode(QFileDialog::ExistingFile);
        dialog.setNameFilter(tr("Pixkey Plugin Files (*.pkx)"));
        dialog.setDefaultSuffix(QStringLiteral("pkx"));
        return dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty() ? dialog.selectedFiles().first() : QString();
    };
    if (!m_core.layoutActivated) {
        m_core.layoutActivated = [this](LayoutConfig *layout) { onLayoutActivated(layout); };
        m_ownsLayoutHook = true;
    }
    m_previousShowMessage = m_core.showMessage;
    m_core.showMessage = [this](const QString &text, const QString &caption) {
        m_messages(isVisible() ? this : nullptr, QMessageBox::Warning, caption, text, QMessageBox::Ok);
    };

    buildControls();

    m_tray = std::make_unique<TrayIcon>(core);
    m_tray->setTip(trayTip());
    connect(m_tray.get(), &TrayIcon::configureRequested, this, &ConfiguratorWindow::showConfigurator);
    connect(m_tray.get(), &TrayIcon::exitRequested, this, &ConfiguratorWindow::exitRequested);
    // Without a notification area the window is the way in: it shows, and closing it asks to exit.
    // Nobody asked for it at that moment, so it neither takes the focus nor comes to the front:
    // the user may be working in another program by then.
    connect(m_tray.get(), &TrayIcon::unavailable, this, [this] {
        setAskExitOnClose(true);
        showWithoutActivating();
    });

    m_settings = new SettingsDialog(core, this);
    m_settings->setWindowFlag(Qt::Window);
    connect(m_settings, &SettingsDialog::hotkeyChanged, this, &ConfiguratorWindow::hotkeyChanged);
    connect(m_settings, &SettingsDialog::orientationChanged, this, &ConfiguratorWindow::onOrientationChanged);
    connect(m_settings, &SettingsDialog::trayIconChanged, this, [this] { m_tray->update(); });
    m_layoutInfo = new LayoutInfoPanel(this);
    m_pluginAbout = new PluginAboutPanel(this);

    m_layouts->fill(core);
    if (core.activeLayout)
        m_layouts->selectLayout(core.activeLayout);
    applyChosenLayout(m_layouts->currentLayout());

    const int sizeX = core.settings.value(Settings::SizeX);
    const int sizeY = core.settings.value(Settings::SizeY);
    if (sizeX > 0 && sizeY > 0) {
        const QRect available = screen() ? screen()->availableGeometry() : QRect(0, 0, sizeX, sizeY);
        resize(std::min(sizeX, available.width()), std::min(sizeY, available.height()));
    }
    m_tray->update();
}

ConfiguratorWindow::~ConfiguratorWindow()
{
    m_core.showMessage = m_previousShowMessage;
    if (m_core.layoutActivated && m_ownsLayoutHook)
        m_core.layoutActivated = nullptr;
}

void ConfiguratorWindow::buildControls()
{
    // Layouts
    auto *layoutsGroup = new QGroupBox(tr("Layouts"), this);
    m_layouts = new CConfigComboBox(layoutsGroup);
    m_addLayout = new QPushButton(tr("Add..."), layoutsGroup);
    m_delete = new QPushButton(tr("Delete"), layoutsGroup);
    auto *layoutsRow = new QHBoxLayout(layoutsGroup);
    layoutsRow->addWidget(m_layouts, 1);
    layoutsRow->addWidget(m_addLayout);
    layoutsRow->addWidget(m_delete);

    // Plug-ins
    auto *pluginsLabel = new QLabel(tr("Available plug-ins"), this);
    m_plugins = new CPxkPluginListView(this);
    m_plugins->setMinimumWidth(220);
    pluginsLabel->setBuddy(m_plugins);
    auto *left = new QVBoxLayout;
    left->addWidget(layoutsGroup);
    left->addWidget(pluginsLabel);
    left->addWidget(m_plugins, 1);

    // Rows, keys and the information area
    m_rows = new RowSelector(this);
    m_preview = new KeyPreview(this);
    m_preview->setOrientation(m_core.settings.value(Settings::Orientation));
    m_preview->setFaceSource([this](int key) {
        PluginInstance *instance = instanceAt(key);
        return instance ? instance->face() : QImage();
    });
    m_infoIcon = new QLabel(this);
    m_infoIcon->setFixedSize(32, 32);
    m_infoName = new QLabel(this);
    QFont bold = m_infoName->font();
    bold.setPointSizeF(bold.pointSizeF() + 2);
    bold.setWeight(QFont::Bold);
    m_infoName->setFont(bold);
    m_infoName->setTextFormat(Qt::PlainText);
    m_infoDescription = new QLabel(this);
    m_infoDescription->setWordWrap(true);
    m_infoDescription->setTextFormat(Qt::PlainText);
    m_infoDescription->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    auto *infoText = new QVBoxLayout;
    infoText->addWidget(m_infoName);
    infoText->addWidget(m_infoDescription, 1);
    auto *info = new QHBoxLayout;
    info->addWidget(m_infoIcon, 0, Qt::AlignTop);
    info->addLayout(infoText, 1);

    auto *keysFrame = new QVBoxLayout;
    keysFrame->setSpacing(0);
    keysFrame->addWidget(m_rows);
    auto *previewBox = new QHBoxLayout;
    previewBox->addWidget(m_preview, 0, Qt::AlignCenter);
    keysFrame->addSpacing(6);
    keysFrame->addLayout(previewBox);
    auto *right = new QVBoxLayout;
    right->addLayout(keysFrame);
    right->addSpacing(8);
    right->addLayout(info, 1);

    auto *middle = new QHBoxLayout;
    middle->addLayout(left, 0);
    middle->addSpacing(6);
    middle->addLayout(right, 1);

    // Bottom row
    m_addPlugin = new CPxkHoverButton(UiPictures::addPluginIcon(), tr("Add Plug-in..."), this);
    m_addPlugin->setFocusPolicy(Qt::StrongFocus);
    m_generalSettings = new QPushButton(tr("General Settings"), this);
    m_about = new QPushButton(tr("About"), this);
    m_ok = new QPushButton(tr("OK"), this);
    m_cancel = new QPushButton(tr("Cancel"), this);
    m_ok->setDefault(true);
    m_ok->setAutoDefault(true);
    for (QPushButton *button : {m_addLayout, m_delete, m_generalSettings, m_about, m_cancel})
        button->setAutoDefault(false);
    auto *bottom = new QHBoxLayout;
    bottom->addWidget(m_addPlugin);
    bottom->addStretch(1);
    bottom->addWidget(m_generalSettings);
    bottom->addWidget(m_about);
    bottom->addSpacing(12);
    bottom->addWidget(m_ok);
    bottom->addWidget(m_cancel);

    auto *main = new QVBoxLayout(this);
    main->addLayout(middle, 1);
    main->addSpacing(4);
    main->addLayout(bottom);

    // Tab order: layouts box, Add..., Delete, row selector, plug-in list, key preview, General
    // Settings, About, OK, Cancel (Qt skips disabled controls and wraps).
    QWidget *order[] = {m_layouts, m_addLayout, m_delete, m_rows, m_plugins, m_preview,
                        m_generalSettings, m_about, m_ok, m_cancel};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(order[i], order[i + 1]);
    for (QWidget *enterActsAsOk : {static_cast<QWidget *>(m_layouts), static_cast<QWidget *>(m_plugins),
                                   static_cast<QWidget *>(m_rows)})
        enterActsAsOk->installEventFilter(this);

    connect(m_layouts, &CConfigComboBox::layoutChosen, this, &ConfiguratorWindow::chooseLayout);
    connect(m_addLayout, &QPushButton::clicked, this, [this] {
        if (const auto choice = m_runAddLayout ? m_runAddLayout() : std::nullopt)
            addLayoutFromChoice(*choice);
    });
    connect(m_delete, &QPushButton::clicked, this, &ConfiguratorWindow::deleteChosenLayout);
    connect(m_plugins, &CPxkPluginListView::functionSelected, this, &ConfiguratorWindow::showInfo);
    connect(m_plugins, &CPxkPluginListView::menuRequested, this,
            [this](QTreeWidgetItem *item, const QPoint &at) { showMenu(pluginMenu(item), at); });
    connect(m_rows, &RowSelector::rowRequested, this, &ConfiguratorWindow::requestRow);
    connect(m_rows, &RowSelector::functionDropped, this, [this](PluginEntry *entry, PluginFunction *function) {
        assignFunction(entry, function, m_preview->selectedKey());
    });
    connect(m_preview, &KeyPreview::keySelected, this, &ConfiguratorWindow::showKeyInfo);
    connect(m_preview, &KeyPreview::optionsRequested, this, &ConfiguratorWindow::openOptions);
    connect(m_preview, &KeyPreview::clearRequested, this, &ConfiguratorWindow::clearKey);
    connect(m_preview, &KeyPreview::copyRequested, this, &ConfiguratorWindow::copyKey);
    connect(m_preview, &KeyPreview::cutRequested, this, &ConfiguratorWindow::cutKey);
    connect(m_preview, &KeyPreview::pasteRequested, this, &ConfiguratorWindow::pasteKey);
    connect(m_preview, &KeyPreview::menuRequested, this, [this](int key, const QPoint &at) { showMenu(keyMenu(key), at); });
    connect(m_preview, &KeyPreview::functionDropped, this, [this](int key, PluginEntry *entry, PluginFunction *function) {
        m_preview->setSelectedKey(key);
        assignFunction(entry, function, key);
    });
    connect(m_addPlugin, &QAbstractButton::clicked, this, [this] {
        const QString file = m_chooseFile ? m_chooseFile() : QString();
        if (!file.isEmpty())
            addPluginFile(file);
    });
    connect(m_generalSettings, &QPushButton::clicked, this, [this] { m_settings->showSettings(); });
    connect(m_about, &QPushButton::clicked, this, [this] {
        AboutDialog about(WindowTitle::programVersion(), this);
        about.exec();
    });
    connect(m_ok, &QPushButton::clicked, this, &ConfiguratorWindow::accept);
    connect(m_cancel, &QPushButton::clicked, this, &ConfiguratorWindow::reject);
}

// --- state shown ----------------------------------------------------------------------------------

PluginInstance *ConfiguratorWindow::instanceAt(int key) const
{
    if (!m_core.activeLayout)
        return nullptr;
    const InstanceRef holder = m_core.getSlot(*m_core.activeLayout, key, ModifierRow::kCurrent);
    return holder ? holder->instance() : nullptr;
}

PluginEntry *ConfiguratorWindow::entryOfFunction(const PluginFunction *function) const
{
    return function ? m_core.catalogue.entryFor(&function->library()) : nullptr;
}

bool ConfiguratorWindow::isKnownFunction(const PluginEntry *entry, const PluginFunction *function) const
{
    // Dragged data carries addresses; only those of this catalogue are trusted.
    for (const auto &owned : m_core.catalogue.entries()) {
        if (owned.get() != entry || !owned->library || owned->removed)
            continue;
        for (int n = 1; n <= owned->library->functionCount(); ++n)
            if (owned->library->function(n) == function)
                return true;
    }
    return false;
}

void ConfiguratorWindow::showInfo(PluginEntry *entry, PluginFunction *function)
{
    m_infoName->setText(function ? function->name : QString());
    m_infoDescription->setText(function ? function->description : QString());
    m_infoIcon->setPixmap(function && !function->largeIcon.isNull() ? QPixmap::fromImage(function->largeIcon.scaled(32, 32))
                                                                      : QPixmap());
    m_pluginAbout->setEntry(entry ? entry : entryOfFunction(function));
}

void ConfiguratorWindow::showKeyInfo(int key)
{
    PluginInstance *instance = instanceAt(key);
    PluginFunction *function = instance ? instance->function() : nullptr;
    showInfo(entryOfFunction(function), function);
}

void ConfiguratorWindow::refreshOptionsButtons()
{
    for (int key = 0; key < KeyPreview::kKeys; ++key) {
        PluginInstance *instance = instanceAt(key);
        m_preview->optionsButton(key)->setEnabled(instance && instance->hasProperties());
    }
    m_preview->update();
}

void ConfiguratorWindow::refreshRowSelector()
{
    const LayoutConfig *layout = m_core.activeLayout;
    for (int row = 0; row < ModifierRow::kCount; ++row) {
        std::array<QImage, 3> icons;
        bool any = false;
        for (int key = 0; layout && key < ModifierRow::kKeys; ++key) {
            const InstanceRef &holder = layout->slot(row, key);
            PluginInstance *instance = holder ? holder->instance() : nullptr;
            if (!instance)
                continue;
            any = true;
            const QImage icon = instance->function() ? instance->function()->smallIcon : QImage();
            icons[std::size_t(key)] = icon.isNull() ? CConfigComboBox::defaultApplicationIcon().pixmap(16).toImage() : icon;
        }
        m_rows->setTabIcon(row, any ? rowIcon(icons) : QIcon());
    }
    m_rows->setRow(m_core.currentRow);
    m_rows->setFaded(layoutKind(layout) == LayoutKind::Idle);
}

void ConfiguratorWindow::rebuildPluginList()
{
    m_plugins->rebuild(m_core.catalogue);
}

void ConfiguratorWindow::applyChosenLayout(LayoutConfig *layout)
{
    m_plugins->setApplicationFilter(layoutKind(layout) == LayoutKind::Application ? layout->applicationFileName() : QString());
    rebuildPluginList();
    showKeyInfo(m_preview->selectedKey());
    refreshOptionsButtons();
    refreshRowSelector();
    m_delete->setEnabled(layout && !isFixedLayout(layout));
    m_layoutInfo->showLayout(layout);
}

// --- layouts --------------------------------------------------------------------------------------

void ConfiguratorWindow::chooseLayout(LayoutConfig *layout)
{
    if (!layout)
        return;
    m_layouts->selectLayout(layout);
    m_core.activate(layout);
    if (m_core.activeLayout != layout) {
        // Refused (idle or dark keypad): the box goes back to what is active.
        m_layouts->selectLayout(m_core.activeLayout);
        layout = m_core.activeLayout;
    }
    applyChosenLayout(layout);
}

void ConfiguratorWindow::onLayoutActivated(LayoutConfig *layout)
{
    if (!m_layouts->isCurrentFor(m_core)) {
        // The core was loaded again (Cancel, a keypad profile): the old items are gone.
        m_clipboard = Clipboard();
        m_pluginAbout->setEntry(nullptr);
        m_layouts->fill(m_core);
    }
    if (layout && m_layouts->currentLayout() != layout) {
        if (m_layouts->indexOfLayout(layout) < 0)
            m_layouts->insertLayout(layout);
        m_layouts->selectLayout(layout);
    }
    applyChosenLayout(m_layouts->currentLayout());
    m_preview->update();
}

void ConfiguratorWindow::deleteChosenLayout()
{
    LayoutConfig *layout = m_layouts->currentLayout();
    if (!layout || isFixedLayout(layout))
        return;
    const auto answer = m_messages(this, QMessageBox::Question, MessageBoxSeam::caption(),
                                   QStringLiteral("Delete %1?").arg(layout->name()),
                                   QMessageBox::Ok | QMessageBox::Cancel);
    if (answer != QMessageBox::Ok)
        return;
    m_layouts->removeLayout(layout);
    m_core.deleteLayout(*layout);
    m_layouts->selectLayout(m_core.activeLayout);
    applyChosenLayout(m_layouts->currentLayout());
}

void ConfiguratorWindow::addLayoutFromChoice(const AddLayoutChoice &choice)
{
    QString name = QStringLiteral("Unnamed");
    QString path;
    if (choice.applicationName.isEmpty()) {
        if (!choice.name.isEmpty())
            name = choice.name;
    } else {
        name = choice.applicationName;
        path = choice.applicationPath;
    }
    AppCore::AddLayoutResult result = AppCore::AddLayoutFailed;
    LayoutConfig *layout = m_core.addLayout(name, path, LayoutState::New, &result);
    if (result == AppCore::AddLayoutFailed || !layout) {
        m_messages(this, QMessageBox::Warning, QStringLiteral("Warning"), QStringLiteral("Failed to add config."));
        return;
    }
    if (result == AppCore::LayoutAdded) {
        m_layouts->insertLayout(layout);
        m_core.modified = true;
    }
    chooseLayout(layout);
}

// --- plug-ins -------------------------------------------------------------------------------------

void ConfiguratorWindow::addPluginFile(const QString &path)
{
    const PluginCatalogue::AddResult result = m_core.InstallPluginFile(path);
    if (result.code == PluginCatalogue::Failed || !result.entry)
        return; // the core showed "Failed to add:" with the path
    PluginEntry *entry = result.entry;
    const QStringList applications = entry->library ? entry->library->applications : QStringList();
    if (!applications.isEmpty()) {
        LayoutConfig *layout = nullptr;
        for (const auto &candidate : m_core.layouts)
            if (candidate && candidate->state != LayoutState::Deleted && !candidate->path().isEmpty() &&
                m_core.matchesApplication(*candidate, *entry)) {
                layout = candidate.get();
                break;
            }
        if (!layout) {
            QString title = entry->library->applicationTitle;
            if (title.isEmpty())
                title = applications.first();
            addLayoutFromChoice({title, applications.first(), QString()});
        } else {
            chooseLayout(layout);
        }
        m_plugins->setApplicationFilter(applications.first());
    }
    rebuildPluginList();
    if (QTreeWidgetItem *item = m_plugins->itemOfEntry(entry)) {
        m_plugins->setCurrentItem(item);
        m_plugins->scrollToItem(item);
    }
    m_core.modified = true;
}

void ConfiguratorWindow::removePlugin(PluginEntry *entry)
{
    if (!entry)
        return;
    const auto answer = m_messages(this, QMessageBox::Question, MessageBoxSeam::caption(),
                                   QStringLiteral("Delete %1?").arg(entry->displayName()),
                                   QMessageBox::Ok | QMessageBox::Cancel);
    if (answer != QMessageBox::Ok)
        return;
    for (const auto &layout : m_core.layouts)
        if (layout)
            m_core.usesPlugin(*layout, *entry);
    if (m_clipboard.function && entryOfFunction(m_clipboard.function) == entry)
        m_clipboard = Clipboard();
    if (m_pluginAbout->entry() == entry)
        m_pluginAbout->setEntry(nullptr);
    m_core.RemovePlugin(*entry);
    m_plugins->removeEntryItem(entry);
    refreshOptionsButtons();
    refreshRowSelector();
    m_preview->update();
}

std::unique_ptr<QMenu> ConfiguratorWindow::pluginMenu(QTreeWidgetItem *item)
{
    auto menu = std::make_unique<QMenu>(this);
    PluginEntry *entry = CPxkPluginListView::entryOf(item);
    if (!entry)
        return menu;
    QAction *expand = menu->addAction(tr("Expand all"));
    expand->setEnabled(m_plugins->anyCollapsed());
    connect(expand, &QAction::triggered, m_plugins, &QTreeView::expandAll);
    QAction *collapse = menu->addAction(tr("Collapse all"));
    collapse->setEnabled(m_plugins->anyExpanded());
    connect(collapse, &QAction::triggered, m_plugins, &QTreeView::collapseAll);
    menu->addSeparator();

    const int key = m_preview->selectedKey();
    const bool upright = m_core.settings.value(Settings::Orientation) > 1;
    QString assign;
    if (key == 0)
        assign = upright ? tr("Assign to top button") : tr("Assign to left button");
    else if (key == 1)
        assign = tr("Assign to middle button");
    else
        assign = upright ? tr("Assign to bottom button") : tr("Assign to right button");
    QAction *assignAction = menu->addAction(assign);
    assignAction->setEnabled(CPxkPluginListView::functionOf(item) != nullptr && m_core.activeLayout);
    connect(assignAction, &QAction::triggered, this, [this, key] { assignToKey(key); });
    if (CPxkPluginListView::isPluginItem(item)) {
        QAction *remove = menu->addAction(tr("Remove"));
        connect(remove, &QAction::triggered, this, [this, entry] { removePlugin(entry); });
    }
    menu->addSeparator();
    QAction *about = menu->addAction(tr("About %1").arg(entry->displayName()));
    connect(about, &QAction::triggered, this, [this, entry] {
        m_pluginAbout->setEntry(entry);
        m_pluginAbout->show();
        m_pluginAbout->raise();
    });
    return menu;
}

void ConfiguratorWindow::onCatalogueChanged()
{
    rebuildPluginList();
    showKeyInfo(m_preview->selectedKey());
    refreshOptionsButtons();
}

// --- keys -----------------------------------------------------------------------------------------

void ConfiguratorWindow::assignToKey(int key)
{
    QTreeWidgetItem *item = m_plugins->currentItem();
    assignFunction(CPxkPluginListView::entryOf(item), CPxkPluginListView::functionOf(item), key);
}

void ConfiguratorWindow::assignFunction(PluginEntry *entry, PluginFunction *function, int key)
{
    if (!m_core.activeLayout || !function || key < 0 || key >= KeyPreview::kKeys || !isKnownFunction(entry, function))
        return;
    if (!m_core.assignFromCatalogue(*function, *m_core.activeLayout, key)) {
        m_messages(this, QMessageBox::Warning, MessageBoxSeam::caption(),
                   QStringLiteral("Failed to load:\n%1").arg(function->library().fullPath()));
        return;
    }
    m_preview->update();
    showKeyInfo(key);
    refreshRowSelector();
    refreshOptionsButtons();
}

void ConfiguratorWindow::openOptions(int key)
{
    PluginInstance *instance = instanceAt(key);
    LayoutConfig *layout = m_core.activeLayout;
    if (!instance || !layout)
        return;
    PluginFunction *function = instance->function();
    PluginEntry *entry = entryOfFunction(function);
    const bool libraryProperties = function && function->library().hasLibraryProperties();
    if (!instance->hasProperties() && !libraryProperties)
        return;
    // Keep the holder: a layout switch while the dialog runs must not destroy the instance.
    const InstanceRef holder = m_core.getSlot(*layout, key, ModifierRow::kCurrent);
    ++m_optionsBusy;
    const bool changed = instance->ShowProperties(static_cast<QWidget *>(this));
    --m_optionsBusy;
    if (!changed)
        return;
    if (entry && instance->hasProperties()) {
        entry->defaultProperties.clear();
        std::string name, value;
        for (int i = 0; i < kMaxProperties && instance->GetProperty(i, name, value); ++i)
            entry->defaultProperties.emplace_back(QString::fromStdString(name), QString::fromStdString(value));
        entry->markModified();
    }
    m_core.markModified(*layout);
    refreshOptionsButtons();
}

void ConfiguratorWindow::copyKey(int key)
{
    PluginInstance *instance = instanceAt(key);
    if (!instance || !instance->function())
        return;
    Clipboard copy;
    copy.function = instance->function();
    if (instance->hasProperties()) {
        std::string name, value;
        for (int i = 0; i < kMaxProperties && instance->GetProperty(i, name, value); ++i)
            copy.properties.emplace_back(name, value);
    }
    m_clipboard = std::move(copy);
}

void ConfiguratorWindow::cutKey(int key)
{
    if (!instanceAt(key))
        return;
    copyKey(key);
    clearKey(key);
}

void ConfiguratorWindow::pasteKey(int key)
{
    LayoutConfig *layout = m_core.activeLayout;
    if (!layout || !m_clipboard.function)
        return;
    const InstanceRef holder = m_core.assignFromCatalogue(*m_clipboard.function, *layout, key);
    if (!holder) {
        m_messages(this, QMessageBox::Warning, MessageBoxSeam::caption(),
                   QStringLiteral("Failed to load:\n%1").arg(m_clipboard.function->library().fullPath()));
        return;
    }
    for (const auto &[name, value] : m_clipboard.properties)
        holder->instance()->SetProperty(name, value);
    m_core.markModified(*layout);
    m_preview->update();
    showKeyInfo(key);
    refreshRowSelector();
    refreshOptionsButtons();
}

void ConfiguratorWindow::clearKey(int key)
{
    if (!m_core.activeLayout)
        return;
    m_core.clearSlot(*m_core.activeLayout, key, m_core.currentRow);
    m_preview->update();
    showKeyInfo(key);
    refreshRowSelector();
    refreshOptionsButtons();
}

void ConfiguratorWindow::pushKey(int key)
{
    if (PluginInstance *instance = instanceAt(key))
        instance->KeyPressed();
}

std::unique_ptr<QMenu> ConfiguratorWindow::keyMenu(int key)
{
    auto menu = std::make_unique<QMenu>(this);
    PluginInstance *instance = instanceAt(key);
    const bool holds = instance != nullptr;
    QAction *options = menu->addAction(tr("Options"));
    options->setEnabled(holds && instance->hasProperties());
    menu->setDefaultAction(options);
    connect(options, &QAction::triggered, this, [this, key] { openOptions(key); });
    menu->addSeparator();
    QAction *cut = menu->addAction(tr("Cut\tCtrl+X"));
    cut->setEnabled(holds);
    connect(cut, &QAction::triggered, this, [this, key] { cutKey(key); });
    QAction *copy = menu->addAction(tr("Copy\tCtrl+C"));
    copy->setEnabled(holds);
    connect(copy, &QAction::triggered, this, [this, key] { copyKey(key); });
    QAction *paste = menu->addAction(tr("Paste\tCtrl+V"));
    paste->setEnabled(m_clipboard.function != nullptr);
    connect(paste, &QAction::triggered, this, [this, key] { pasteKey(key); });
    QAction *clear = menu->addAction(tr("Clear\tDel"));
    clear->setEnabled(holds);
    connect(clear, &QAction::triggered, this, [this, key] { clearKey(key); });
    menu->addSeparator();
    QAction *push = menu->addAction(tr("Push"));
    push->setEnabled(holds);
    connect(push, &QAction::triggered, this, [this, key] { pushKey(key); });
    return menu;
}

void ConfiguratorWindow::showMenu(std::unique_ptr<QMenu> menu, const QPoint &globalPos)
{
    QMenu *shown = menu.release();
    shown->setAttribute(Qt::WA_DeleteOnClose);
    shown->popup(globalPos);
}

// --- rows, faces, connection ----------------------------------------------------------------------

void ConfiguratorWindow::requestRow(int row)
{
    if (row < 0 || row >= ModifierRow::kCount)
        return;
    if (m_rowHandler)
        m_rowHandler(row);
}

void ConfiguratorWindow::onRowChanged()
{
    refreshRowSelector();
    refreshOptionsButtons();
    showKeyInfo(m_preview->selectedKey());
}

void ConfiguratorWindow::onFacesChanged(PluginInstance *instance)
{
    if (instance) {
        refreshOptionsButtons();
        m_preview->updateFaces();
    } else {
        m_preview->update(); // turned: the body too
    }
}

void ConfiguratorWindow::onConnectionChanged(bool connected)
{
    m_tray->setConnected(connected);
}

void ConfiguratorWindow::setKeypadProblem(const QString &problem)
{
    if (problem == m_keypadProblem)
        return;
    m_keypadProblem = problem;
    m_tray->setTip(trayTip());
}

QString ConfiguratorWindow::trayTip() const
{
    const QString name = title(m_core, false);
    return m_keypadProblem.isEmpty() ? name : name + QLatin1Char('\n') + m_keypadProblem;
}

void ConfiguratorWindow::onOrientationChanged()
{
    m_preview->setOrientation(m_core.settings.value(Settings::Orientation));
    layout()->activate();
}

void ConfiguratorWindow::onCoreReloaded()
{
    m_tray->setTip(trayTip());
    m_clipboard = Clipboard();
    m_pluginAbout->setEntry(nullptr);
    m_preview->setOrientation(m_core.settings.value(Settings::Orientation));
    m_layouts->fill(m_core);
    if (m_core.activeLayout)
        m_layouts->selectLayout(m_core.activeLayout);
    applyChosenLayout(m_layouts->currentLayout());
    m_preview->update();
}

// --- the window -----------------------------------------------------------------------------------

void ConfiguratorWindow::showConfigurator()
{
    show();
    raise();
    activateWindow();
}

void ConfiguratorWindow::showWithoutActivating()
{
    if (isVisible())
        return;
    setAttribute(Qt::WA_ShowWithoutActivating, true);
    show();
    setAttribute(Qt::WA_ShowWithoutActivating, false);
    // The platform window keeps the request; later showings asked for by the user activate.
    if (QWindow *handle = windowHandle())
        handle->setProperty("_q_showWithoutActivating", QVariant());
}

void ConfiguratorWindow::hideAll()
{
    m_settings->hide();
    m_layoutInfo->hide();
    m_pluginAbout->hide();
    hide();
}

void ConfiguratorWindow::accept()
{
    m_core.saveSettings();
    hideAll();
    requestRow(0);
    setResult(QDialog::Accepted);
}

void ConfiguratorWindow::reject()
{
    hideAll();
    requestRow(0);
    if (m_core.modified) {
        m_clipboard = Clipboard();
        m_pluginAbout->setEntry(nullptr);
        m_core.fullReload();
        onCoreReloaded();
    }
    setResult(QDialog::Rejected);
}

void ConfiguratorWindow::closeEvent(QCloseEvent *event)
{
    event->ignore();
    if (m_askExitOnClose) {
        // Without a notification area a hidden window could not be reached again.
        const auto answer = m_messages(this, QMessageBox::Question, MessageBoxSeam::caption(),
                                       tr("Exit Pixkey mini Configurator?"), QMessageBox::Yes | QMessageBox::No);
        if (answer != QMessageBox::Yes)
            return;
        reject();
        Q_EMIT exitRequested();
        return;
    }
    reject();
}

void ConfiguratorWindow::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    m_tray->setConfiguratorVisible(true);
    m_tray->update();
}

void ConfiguratorWindow::hideEvent(QHideEvent *event)
{
    QDialog::hideEvent(event);
    m_tray->setConfiguratorVisible(false);
    m_tray->update();
}

void ConfiguratorWindow::changeEvent(QEvent *event)
{
    QDialog::changeEvent(event);
    // The title names the keypad's profile; the tray's tip follows it.
    if (event->type() == QEvent::WindowTitleChange && m_tray)
        m_tray->setTip(trayTip());
}

void ConfiguratorWindow::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    if (isVisible()) {
        m_core.settings.setValue(Settings::SizeX, width());
        m_core.settings.setValue(Settings::SizeY, height());
    }
}

bool ConfiguratorWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
        const bool comboPopup = watched == m_layouts && m_layouts->view() && m_layouts->view()->isVisible();
        if (enter && key->modifiers() == Qt::NoModifier && !comboPopup) {
            accept();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace pixkey
