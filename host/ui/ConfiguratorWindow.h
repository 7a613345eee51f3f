// ConfiguratorWindow: the program's main window, where the user builds layouts. It lists the
// layouts, the installed plug-ins and their functions, shows the three keys of the active layout
// in the current modifier row, and lets the user put functions on keys (drag and drop or menu),
// open a key's options, cut, copy and paste assignments, and keep (OK: full save) or discard
// (Cancel, Esc, close box: hide, and reload when something was modified) the changes. Everything
// acts on the live keypad at once. It owns the tray icon, the settings dialog and the two panels.
//
// The window works on the `AppCore` given to it, which must outlive it. At construction it installs
// itself as the core's `layoutActivated` hook (when none is set) and routes the core's messages
// through its message-box seam. The runtime tells it about layout activations, faces, rows, the
// keypad connection and catalogue changes through the public slots, and learns from the signals
// what the user did. [main-thread] like every widget.
#pragma once

#include "AddLayoutDialog.h"
#include "MessageBoxSeam.h"

#include <QDialog>
#include <QImage>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class QLabel;
class QMenu;
class QPushButton;
class QTreeWidgetItem;

namespace pixkey {

class AboutDialog;
class AppCore;
class CConfigComboBox;
class CPxkHoverButton;
class CPxkPluginListView;
class KeyPreview;
class LayoutConfig;
class LayoutInfoPanel;
class PluginAboutPanel;
class PluginEntry;
class PluginFunction;
class PluginInstance;
class RowSelector;
class SettingsDialog;
class TrayIcon;

class ConfiguratorWindow : public QDialog {
    Q_OBJECT
public:
    // What "Add..." returns: the chosen application (both empty for a manual layout) and the name
    // box's text.
    using AddLayoutChoice = AddLayoutDialog::Result;
    // The copied key assignment (Copy, Cut; Paste reads it).
    struct Clipboard {
        PluginFunction *function = nullptr;
        std::vector<std::pair<std::string, std::string>> properties;
    };

    explicit ConfiguratorWindow(AppCore &core, QWidget *parent = nullptr);
    ~ConfiguratorWindow() override;

    // "Pixkey mini Configurator", with the version text and " beta" when `withVersion`, and the
    // keypad's profile in parentheses when there is one.
    static QString title(const AppCore &core, bool withVersion);

    // --- seams (tests replace them) ------------------------------------------------------------
    MessageBoxSeam &messages() { return m_messages; }
    // "Add Plug-in...": the file to add, empty when the user cancelled.
    void setPluginFileChooser(std::function<QString()> chooser) { m_chooseFile = std::move(chooser); }
    // "Add...": the dialog's result, nothing when cancelled.
    void setAddLayoutRunner(std::function<std::optional<AddLayoutChoice>()> runner) { m_runAddLayout = std::move(runner); }
    // How a row is made current when the user asks for one (default: the core's current row and the
    // keys sent again). The runtime replaces it with its forced modifier-row switch.
    void setRowHandler(std::function<void(int)> handler) { m_rowHandler = std::move(handler); }

    // --- state for the runtime and tests --------------------------------------------------------
    // How many plug-in options dialogs are open; the runtime does not switch layouts meanwhile.
    int optionsBusy() const { return m_optionsBusy; }
    const Clipboard &clipboard() const { return m_clipboard; }
    TrayIcon &tray() const { return *m_tray; }
    SettingsDialog &settingsDialog() const { return *m_settings; }
    LayoutInfoPanel &layoutInfo() const { return *m_layoutInfo; }
    PluginAboutPanel &pluginAbout() const { return *m_pluginAbout; }
    CConfigComboBox &layoutsBox() const { return *m_layouts; }
    CPxkPluginListView &pluginList() const { return *m_plugins; }
    RowSelector &rowSelector() const { return *m_rows; }
    KeyPreview &keyPreview() const { return *m_preview; }
    QPushButton &deleteButton() const { return *m_delete; }
    QLabel &pluginName() const { return *m_infoName; }

    // Fresh context menus, as a right click shows them (tests inspect and trigger their actions).
    std::unique_ptr<QMenu> pluginMenu(QTreeWidgetItem *item);
    std::unique_ptr<QMenu> keyMenu(int key);

    // --- what the user can do, also reachable for the runtime -------------------------------------
    // Installs a plug-in file (button, command line, another process) and lists it.
    void addPluginFile(const QString &path);
    // The function of the selected tree item onto `key` of the current row.
    void assignToKey(int key);
    void assignFunction(PluginEntry *entry, PluginFunction *function, int key);
    void openOptions(int key);
    void copyKey(int key);
    void cutKey(int key);
    void pasteKey(int key);
    void clearKey(int key);
    void pushKey(int key);
    // The user chose `layout` in the layouts box.
    void chooseLayout(LayoutConfig *layout);
    void deleteChosenLayout();
    void addLayoutFromChoice(const AddLayoutChoice &choice);
    void removePlugin(PluginEntry *entry);
    void requestRow(int row);
    void showConfigurator();
    // Shows the window, if hidden, without raising or activating it (nobody asked for it).
    void showWithoutActivating();
    // Without a notification area the window is the only way in: closing it asks whether to exit.
    // Set by the window itself when the tray gives up waiting for a notification area.
    void setAskExitOnClose(bool ask) { m_askExitOnClose = ask; }
    bool asksExitOnClose() const { return m_askExitOnClose; }

public Q_SLOTS:
    // The core made `layout` active: the box, the tree, the preview and the row strip follow.
    void onLayoutActivated(pixkey::LayoutConfig *layout);
    // Faces changed: the preview repaints (`instance` null: all keys).
    void onFacesChanged(pixkey::PluginInstance *instance = nullptr);
    // The current row changed.
    void onRowChanged();
    void onConnectionChanged(bool connected);
    // Why the keypad cannot be used (its port denied, missing, busy), shown under the title in the
    // tray's tip; empty when there is nothing to tell.
    void setKeypadProblem(const QString &problem);
    // The tray's tip: the title without version, and the keypad problem on a line of its own.
    QString trayTip() const;
    // The catalogue changed outside the window: the tree and information area are rebuilt.
    void onCatalogueChanged();
    // The core was loaded again from the store: everything is rebuilt, the clipboard emptied.
    void onCoreReloaded();
    void accept() override; // OK
    void reject() override; // Cancel, Esc, the close box

Q_SIGNALS:
    // The settings dialog's OK: the switch hotkey must be registered again (and passed on).
    void hotkeyChanged();
    // The user chose Exit.
    void exitRequested();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildControls();
    void applyChosenLayout(LayoutConfig *layout);
    void showInfo(PluginEntry *entry, PluginFunction *function);
    void showKeyInfo(int key);
    void refreshOptionsButtons();
    void refreshRowSelector();
    void rebuildPluginList();
    void hideAll();
    void onOrientationChanged();
    PluginInstance *instanceAt(int key) const;
    PluginEntry *entryOfFunction(const PluginFunction *function) const;
    bool isKnownFunction(const PluginEntry *entry, const PluginFunction *function) const;
    void showMenu(std::unique_ptr<QMenu> menu, const QPoint &globalPos);

    AppCore &m_core;
    MessageBoxSeam m_messages;
    std::function<QString()> m_chooseFile;
    std::function<std::optional<AddLayoutChoice>()> m_runAddLayout;
    std::function<void(int)> m_rowHandler;
    Clipboard m_clipboard;
    int m_optionsBusy = 0;
    bool m_askExitOnClose = false;
    bool m_ownsLayoutHook = false;
    std::function<void(const QString &, const QString &)> m_previousShowMessage;

    CConfigComboBox *m_layouts = nullptr;
    QPushButton *m_addLayout = nullptr;
    QPushButton *m_delete = nullptr;
    CPxkPluginListView *m_plugins = nullptr;
    RowSelector *m_rows = nullptr;
    KeyPreview *m_preview = nullptr;
    QLabel *m_infoIcon = nullptr;
    QLabel *m_infoName = nullptr;
    QLabel *m_infoDescription = nullptr;
    CPxkHoverButton *m_addPlugin = nullptr;
    QPushButton *m_generalSettings = nullptr;
    QPushButton *m_about = nullptr;
    QPushButton *m_ok = nullptr;
    QPushButton *m_cancel = nullptr;

    std::unique_ptr<TrayIcon> m_tray;
    QString m_keypadProblem;
    SettingsDialog *m_settings = nullptr;
    LayoutInfoPanel *m_layoutInfo = nullptr;
    PluginAboutPanel *m_pluginAbout = nullptr;
};

} // namespace pixkey
