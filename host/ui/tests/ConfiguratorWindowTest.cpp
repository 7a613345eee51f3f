// The configurator window on a real application core with test plug-ins: layouts box, plug-in
// tree, row strip, key preview, drag and drop, clipboard, options, OK and Cancel.

#include "ConfiguratorFixture.h"

#include "CConfigComboBox.h"
#include "CPxkHoverButton.h"
#include "CPxkPluginListView.h"
#include "KeyPreview.h"
#include "PluginAboutPanel.h"
#include "PluginInstance.h"
#include "RowSelector.h"

#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QTest>

namespace pixkey::test {
namespace {

class ConfiguratorWindowTest : public ConfiguratorFixture {
protected:
    // Drags the function of `item` like the tree does: over `over` (a widget and a point), then
    // dropped on `target` at `at`.
    std::unique_ptr<QMimeData> dragData(QTreeWidgetItem *item)
    {
        auto data = std::make_unique<QMimeData>();
        data->setData(CPxkPluginListView::mimeType(),
                      QStringLiteral("%1 %2")
                          .arg(reinterpret_cast<quintptr>(CPxkPluginListView::entryOf(item)))
                          .arg(reinterpret_cast<quintptr>(CPxkPluginListView::functionOf(item)))
                          .toLatin1());
        return data;
    }
    void dragOver(QWidget *widget, QPoint at, const QMimeData *data)
    {
        QDragEnterEvent enter(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(widget, &enter);
        QDragMoveEvent move(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(widget, &move);
    }
    bool drop(QWidget *widget, QPoint at, const QMimeData *data)
    {
        QDropEvent event(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(widget, &event);
        return event.isAccepted();
    }
    void assign(const QString &function, int key)
    {
        QTreeWidgetItem *item = treeItem(function);
        ASSERT_NE(item, nullptr) << function.toStdString();
        window->pluginList().setCurrentItem(item);
        window->assignToKey(key);
    }
    std::vector<QString> boxTexts() const
    {
        std::vector<QString> texts;
        for (int i = 0; i < window->layoutsBox().count(); ++i)
            texts.push_back(window->layoutsBox().itemText(i));
        return texts;
    }
};

TEST_F(ConfiguratorWindowTest, DeleteIsRefusedForGlobalAndIdleAndAsksForOthers)
{
    window->addLayoutFromChoice({QString(), QString(), QStringLiteral("Work")});
    EXPECT_EQ(core->activeLayout, &layout(QStringLiteral("Work")));
    EXPECT_TRUE(window->deleteButton().isEnabled());

    core->select(-1);
    EXPECT_EQ(window->layoutsBox().currentText(), QStringLiteral("Global"));
    EXPECT_FALSE(window->deleteButton().isEnabled());
    window->deleteChosenLayout();
    EXPECT_TRUE(messages.empty());

    core->select(-2);
    EXPECT_EQ(window->layoutsBox().currentText(), QStringLiteral("Idle"));
    EXPECT_FALSE(window->deleteButton().isEnabled());

    window->chooseLayout(&layout(QStringLiteral("Work")));
    answer = QMessageBox::Cancel;
    window->deleteChosenLayout();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, QStringLiteral("Delete Work?"));
    EXPECT_EQ(messages[0].caption, QStringLiteral("Pixkey mini Configurator"));
    EXPECT_EQ(messages[0].icon, QMessageBox::Question);
    EXPECT_EQ(layout(QStringLiteral("Work")).state, LayoutState::New);

    answer = QMessageBox::Ok;
    window->deleteChosenLayout();
    EXPECT_EQ(layout(QStringLiteral("Work")).state, LayoutState::Deleted);
    EXPECT_EQ(window->layoutsBox().currentText(), QStringLiteral("Global"));
    EXPECT_EQ(window->layoutsBox().indexOfLayout(&layout(QStringLiteral("Work"))), -1);
}

TEST_F(ConfiguratorWindowTest, LayoutsBoxOrdersByKindAndDropsTheSeparatorWithTheLastApplicationLayout)
{
    window->addLayoutFromChoice({QStringLiteral("Zeta App"), QStringLiteral("/usr/bin/zeta"), QString()});
    window->addLayoutFromChoice({QString(), QString(), QStringLiteral("beta")});
    window->addLayoutFromChoice({QStringLiteral("Alpha App"), QStringLiteral("/usr/bin/alpha"), QString()});
    window->addLayoutFromChoice({QString(), QString(), QStringLiteral("Alpha")});
    EXPECT_EQ(boxTexts(), (std::vector<QString>{QStringLiteral("Global"), QStringLiteral("Idle"), QStringLiteral("Alpha"),
                                                QStringLiteral("beta"), QStringLiteral("Separator"),
                                                QStringLiteral("Alpha App"), QStringLiteral("Zeta App")}));
    CConfigComboBox &box = window->layoutsBox();
    EXPECT_TRUE(box.isSeparator(4));

    // Down from the item above the line lands after it and activates that layout.
    box.selectLayout(&layout(QStringLiteral("beta")));
    QTest::keyClick(&box, Qt::Key_Down);
    EXPECT_EQ(box.currentText(), QStringLiteral("Alpha App"));
    EXPECT_EQ(core->activeLayout, &layout(QStringLiteral("Alpha App")));
    QTest::keyClick(&box, Qt::Key_Up);
    EXPECT_EQ(box.currentText(), QStringLiteral("beta"));
    // Choosing the line itself rests one item up.
    box.setCurrentIndex(4);
    EXPECT_EQ(box.currentIndex(), 3);

    for (const QString &name : {QStringLiteral("Alpha App"), QStringLiteral("Zeta App")}) {
        window->chooseLayout(&layout(name));
        window->deleteChosenLayout();
    }
    EXPECT_EQ(box.separatorIndex(), -1);
    EXPECT_EQ(boxTexts(), (std::vector<QString>{QStringLiteral("Global"), QStringLiteral("Idle"), QStringLiteral("Alpha"),
                                                QStringLiteral("beta")}));
}

TEST_F(ConfiguratorWindowTest, AddLayoutResultsSelectExistingNamesAndKeepLongNames)
{
    const std::size_t before = core->layouts.size();
    window->addLayoutFromChoice({QString(), QString(), QStringLiteral("global")});
    EXPECT_EQ(core->layouts.size(), before);
    EXPECT_EQ(window->layoutsBox().currentText(), QStringLiteral("Global"));
    EXPECT_TRUE(messages.empty());

    const QString longName(1000, QLatin1Char('n'));
    window->addLayoutFromChoice({QString(), QString(), longName});
    EXPECT_EQ(core->activeLayout->name(), longName);
    EXPECT_EQ(window->layoutsBox().currentText(), longName);
    EXPECT_TRUE(core->modified);
    // The box elides instead of growing with the name.
    EXPECT_LT(window->layoutsBox().sizeHint().width(), 600);

    window->addLayoutFromChoice({QString(), QString(), QString()});
    EXPECT_EQ(core->activeLayout->name(), QStringLiteral("Unnamed"));
}

TEST_F(ConfiguratorWindowTest, AddingTheNameOfADeletedLayoutBringsItBackWithItsKeys)
{
    install("ui_test_plain");
    window->addLayoutFromChoice({QString(), QString(), QStringLiteral("Work")});
    assign(QStringLiteral("Plain"), 1);
    window->deleteChosenLayout();
    EXPECT_EQ(window->layoutsBox().indexOfLayout(&layout(QStringLiteral("Work"))), -1);
    window->addLayoutFromChoice({QString(), QString(), QStringLiteral("WORK")});
    EXPECT_EQ(window->layoutsBox().currentText(), QStringLiteral("Work"));
    EXPECT_EQ(core->activeLayout, &layout(QStringLiteral("Work")));
    EXPECT_NE(instanceAt(1), nullptr);
}

TEST_F(ConfiguratorWindowTest, ApplicationPluginIsListedOnlyUnderItsLayoutAboveTheSeparator)
{
    install("ui_test_plain");
    install("ui_test_multi");
    install("ui_test_app");
    CPxkPluginListView &tree = window->pluginList();
    EXPECT_EQ(treeItem(QStringLiteral("App Plug")), nullptr);
    EXPECT_EQ(tree.separatorItem(), nullptr);
    ASSERT_EQ(tree.topLevelItemCount(), 2);
    EXPECT_EQ(tree.topLevelItem(0)->text(0), QStringLiteral("Multi"));
    EXPECT_EQ(tree.topLevelItem(1)->text(0), QStringLiteral("Plain"));
    EXPECT_EQ(tree.topLevelItem(0)->childCount(), 3);

    window->addLayoutFromChoice({QStringLiteral("UI App"), QStringLiteral("/opt/ui/uiapp.bin"), QString()});
    EXPECT_EQ(tree.applicationFilter(), QStringLiteral("uiapp.bin"));
    ASSERT_EQ(tree.topLevelItemCount(), 4);
    EXPECT_EQ(tree.topLevelItem(0)->text(0), QStringLiteral("App Plug"));
    EXPECT_TRUE(CPxkPluginListView::isSeparator(tree.topLevelItem(1)));
    EXPECT_FALSE(tree.topLevelItem(1)->flags() & Qt::ItemIsSelectable);

    window->chooseLayout(&layout(QStringLiteral("Global")));
    EXPECT_EQ(treeItem(QStringLiteral("App Plug")), nullptr);
    EXPECT_EQ(tree.separatorItem(), nullptr);
}

TEST_F(ConfiguratorWindowTest, CollapsedStateIsKeptInTheCatalogueAcrossRebuilds)
{
    PluginEntry &multi = install("ui_test_multi");
    QTreeWidgetItem *item = window->pluginList().itemOfEntry(&multi);
    ASSERT_NE(item, nullptr);
    item->setExpanded(true);
    EXPECT_FALSE(multi.collapsed);
    window->onCatalogueChanged();
    EXPECT_TRUE(window->pluginList().itemOfEntry(&multi)->isExpanded());
    window->pluginList().itemOfEntry(&multi)->setExpanded(false);
    EXPECT_TRUE(multi.collapsed);
    window->onCatalogueChanged();
    EXPECT_FALSE(window->pluginList().itemOfEntry(&multi)->isExpanded());
}

TEST_F(ConfiguratorWindowTest, PluginMenuNamesTheKeyByOrientation)
{
    install("ui_test_plain");
    QTreeWidgetItem *item = treeItem(QStringLiteral("Plain"));
    ASSERT_NE(item, nullptr);
    const char *expected[2][3] = {{"Assign to left button", "Assign to middle button", "Assign to right button"},
                                  {"Assign to top button", "Assign to middle button", "Assign to bottom button"}};
    for (int orientation = 0; orientation < 4; ++orientation) {
        core->settings.setValue(Settings::Orientation, orientation);
        for (int key = 0; key < 3; ++key) {
            window->keyPreview().setSelectedKey(key);
            auto menu = window->pluginMenu(item);
            QStringList texts;
            for (QAction *a : menu->actions())
                texts << (a->isSeparator() ? QStringLiteral("-") : a->text());
            EXPECT_EQ(texts, (QStringList{QStringLiteral("Expand all"), QStringLiteral("Collapse all"), QStringLiteral("-"),
                                          QString::fromLatin1(expected[orientation > 1][key]), QStringLiteral("Remove"),
                                          QStringLiteral("-"), QStringLiteral("About Plain")}))
                << "orientation " << orientation << " key " << key;
        }
    }
    // Function children have no "Remove".
    install("ui_test_multi");
    auto childMenu = window->pluginMenu(treeItem(QStringLiteral("Multi 2")));
    EXPECT_EQ(action(*childMenu, QStringLiteral("Remove")), nullptr);
    action(*childMenu, QStringLiteral("About Multi"))->trigger();
    EXPECT_EQ(window->pluginAbout().windowTitle(), QStringLiteral("About Multi"));
    EXPECT_EQ(window->pluginAbout().iconsShown(), 0);
}

TEST_F(ConfiguratorWindowTest, RemovingAPluginAsksThenEmptiesItsKeysEverywhere)
{
    install("ui_test_plain");
    assign(QStringLiteral("Plain"), 1);
    ASSERT_NE(instanceAt(1), nullptr);
    window->addLayoutFromChoice({QString(), QString(), QStringLiteral("Other")});
    assign(QStringLiteral("Plain"), 0);
    window->chooseLayout(&layout(QStringLiteral("Global")));

    PluginEntry *entry = CPxkPluginListView::entryOf(treeItem(QStringLiteral("Plain")));
    answer = QMessageBox::Cancel;
    action(*window->pluginMenu(treeItem(QStringLiteral("Plain"))), QStringLiteral("Remove"))->trigger();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, QStringLiteral("Delete Plain?"));
    EXPECT_FALSE(entry->removed);

    answer = QMessageBox::Ok;
    action(*window->pluginMenu(treeItem(QStringLiteral("Plain"))), QStringLiteral("Remove"))->trigger();
    EXPECT_TRUE(entry->removed);
    EXPECT_EQ(treeItem(QStringLiteral("Plain")), nullptr);
    EXPECT_EQ(instanceAt(1), nullptr);
    EXPECT_FALSE(layout(QStringLiteral("Other")).slot(0, 0));
    EXPECT_TRUE(keypad.faces[1].isNull());
}

TEST_F(ConfiguratorWindowTest, DraggingOverShiftSwitchesTheRowBeforeTheDrop)
{
    install("ui_test_plain");
    const auto data = dragData(treeItem(QStringLiteral("Plain")));
    RowSelector &rows = window->rowSelector();
    dragOver(&rows, rows.tabRect(2).center(), data.get());
    EXPECT_EQ(core->currentRow, 2);
    EXPECT_EQ(rows.currentIndex(), 2);

    KeyPreview &preview = window->keyPreview();
    dragOver(&preview, preview.keyRect(2).center(), data.get());
    EXPECT_EQ(preview.highlightedKey(), 2);
    EXPECT_TRUE(drop(&preview, preview.keyRect(2).center(), data.get()));
    EXPECT_NE(instanceAt(2, 2), nullptr);
    EXPECT_EQ(instanceAt(2, 0), nullptr);
    EXPECT_EQ(preview.selectedKey(), 2);
    EXPECT_FALSE(rows.tabIcon(2).isNull());

    // A drop outside the keys does nothing; a drop on the strip goes to the selected key.
    EXPECT_FALSE(drop(&preview, QPoint(2, 2), data.get()));
    preview.setSelectedKey(0);
    dragOver(&rows, rows.tabRect(1).center(), data.get());
    EXPECT_TRUE(drop(&rows, rows.tabRect(1).center(), data.get()));
    EXPECT_NE(instanceAt(0, 1), nullptr);

    // Addresses that are not this catalogue's are refused.
    QMimeData forged;
    forged.setData(CPxkPluginListView::mimeType(), "12345 67890");
    drop(&preview, preview.keyRect(1).center(), &forged);
    EXPECT_EQ(instanceAt(1, 1), nullptr);
}

TEST_F(ConfiguratorWindowTest, RowStripIsFadedAndInertOnIdle)
{
    core->select(-2);
    EXPECT_TRUE(window->rowSelector().isFaded());
    QTest::mouseClick(&window->rowSelector(), Qt::LeftButton, {}, window->rowSelector().tabRect(3).center());
    EXPECT_EQ(core->currentRow, 0);
    core->select(-1);
    EXPECT_FALSE(window->rowSelector().isFaded());
    QTest::mouseClick(&window->rowSelector(), Qt::LeftButton, {}, window->rowSelector().tabRect(3).center());
    EXPECT_EQ(core->currentRow, 3);
    window->rowSelector().setFocus();
    QTest::keyClick(&window->rowSelector(), Qt::Key_Right);
    QTest::keyClick(&window->rowSelector(), Qt::Key_Right);
    QTest::keyClick(&window->rowSelector(), Qt::Key_Right);
    EXPECT_EQ(core->currentRow, 0);
    QTest::keyClick(&window->rowSelector(), Qt::Key_Left);
    EXPECT_EQ(core->currentRow, 5);
}

TEST_F(ConfiguratorWindowTest, PasteIsDisabledUntilCopyAndCutPasteMovesTheAssignmentWithItsProperties)
{
    install("ui_test_plain");
    assign(QStringLiteral("Plain"), 0);
    auto emptyMenu = window->keyMenu(1);
    EXPECT_FALSE(action(*emptyMenu, QStringLiteral("Paste\tCtrl+V"))->isEnabled());
    EXPECT_FALSE(action(*emptyMenu, QStringLiteral("Cut\tCtrl+X"))->isEnabled());
    EXPECT_FALSE(action(*emptyMenu, QStringLiteral("Push"))->isEnabled());
    auto fullMenu = window->keyMenu(0);
    EXPECT_TRUE(action(*fullMenu, QStringLiteral("Options"))->isEnabled());
    EXPECT_EQ(fullMenu->defaultAction(), action(*fullMenu, QStringLiteral("Options")));
    EXPECT_FALSE(action(*fullMenu, QStringLiteral("Paste\tCtrl+V"))->isEnabled());

    instanceAt(0)->SetProperty("Colour", "violet");
    action(*window->keyMenu(0), QStringLiteral("Cut\tCtrl+X"))->trigger();
    EXPECT_EQ(instanceAt(0), nullptr);
    EXPECT_TRUE(keypad.saw("blank 0"));
    EXPECT_TRUE(action(*window->keyMenu(2), QStringLiteral("Paste\tCtrl+V"))->isEnabled());

    action(*window->keyMenu(2), QStringLiteral("Paste\tCtrl+V"))->trigger();
    PluginInstance *moved = instanceAt(2);
    ASSERT_NE(moved, nullptr);
    std::string name, value;
    ASSERT_TRUE(moved->GetProperty(0, name, value));
    EXPECT_EQ(name + "=" + value, "Colour=violet");
    EXPECT_TRUE(window->keyPreview().optionsButton(2)->isEnabled());
    EXPECT_FALSE(window->keyPreview().optionsButton(0)->isEnabled());
    // The face on the keypad is the moved instance's, painted with its properties (green = 6 x 10).
    // (The first paint may still show the default properties; the copied ones follow at once.)
    EXPECT_TRUE(pumpUntil([&] { return !keypad.faces[2].isNull() && qGreen(keypad.faces[2].pixel(10, 10)) == 60; }));

    // The keyboard does the same on the focused preview.
    KeyPreview &preview = window->keyPreview();
    preview.setSelectedKey(2);
    QTest::keyClick(&preview, Qt::Key_C, Qt::ControlModifier);
    QTest::keyClick(&preview, Qt::Key_Right);
    EXPECT_EQ(preview.selectedKey(), 0);
    QTest::keyClick(&preview, Qt::Key_V, Qt::ControlModifier);
    EXPECT_NE(instanceAt(0), nullptr);
    QTest::keyClick(&preview, Qt::Key_Delete);
    EXPECT_EQ(instanceAt(0), nullptr);
    QTest::keyClick(&preview, Qt::Key_Left);
    EXPECT_EQ(preview.selectedKey(), 2);
}

TEST_F(ConfiguratorWindowTest, CancelRestoresTheStoredLayoutsAndOkWritesThem)
{
    install("ui_test_plain");
    install("ui_test_multi");
    assign(QStringLiteral("Plain"), 0);
    window->show();
    window->accept();
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(core->modified);

    window->show();
    assign(QStringLiteral("Multi 2"), 1);
    ASSERT_NE(instanceAt(1), nullptr);
    ASSERT_TRUE(pumpUntil([&] { return !keypad.faces[1].isNull(); }));
    window->reject();
    EXPECT_FALSE(window->isVisible());
    // The reloaded "Global" is on the keys: Plain on key 0, nothing on key 1.
    ASSERT_NE(instanceAt(0), nullptr);
    EXPECT_EQ(instanceAt(1), nullptr);
    EXPECT_TRUE(keypad.faces[1].isNull());
    // The reloaded instance may hand over a face before its first paint; wait for the painted one.
    ASSERT_TRUE(pumpUntil([&] { return !keypad.faces[0].isNull() && qBlue(keypad.faces[0].pixel(5, 5)) == 40; }));
    EXPECT_EQ(qBlue(keypad.faces[0].pixel(5, 5)), 40);
    EXPECT_NE(treeItem(QStringLiteral("Plain")), nullptr);

    // OK after the same change writes it: a restart finds it.
    assign(QStringLiteral("Multi 2"), 1);
    window->accept();
    restart();
    ASSERT_NE(instanceAt(1), nullptr);
    EXPECT_EQ(instanceAt(1)->functionNumber(), 2);
}

TEST_F(ConfiguratorWindowTest, AReloadByTheCoreRefillsTheBoxAndForgetsTheClipboard)
{
    install("ui_test_plain");
    assign(QStringLiteral("Plain"), 0);
    window->copyKey(0);
    window->addLayoutFromChoice({QString(), QString(), QStringLiteral("Unsaved")});
    // As a keypad profile's adoption does: the core reloads and activates "Global".
    core->fullReload();
    EXPECT_EQ(boxTexts(), (std::vector<QString>{QStringLiteral("Global"), QStringLiteral("Idle")}));
    EXPECT_EQ(window->clipboard().function, nullptr);
    window->onCoreReloaded();
    EXPECT_EQ(window->layoutsBox().currentText(), QStringLiteral("Global"));
    // The installed file is found again in the user's folder; the item names the new entry.
    ASSERT_EQ(window->pluginList().topLevelItemCount(), 1);
    const PluginEntry *listed = CPxkPluginListView::entryOf(window->pluginList().topLevelItem(0));
    EXPECT_TRUE(std::any_of(core->catalogue.entries().begin(), core->catalogue.entries().end(),
                            [listed](const auto &entry) { return entry.get() == listed; }));
}

TEST_F(ConfiguratorWindowTest, OptionsCopyAcceptedPropertiesIntoTheDefaults)
{
    PluginEntry &entry = install("ui_test_plain");
    assign(QStringLiteral("Plain"), 0);
    window->accept();
    window->openOptions(0);
    EXPECT_EQ(window->optionsBusy(), 0);
    EXPECT_TRUE(core->modified);
    EXPECT_EQ(layout(QStringLiteral("Global")).state, LayoutState::Modified);
    const std::vector<PluginEntry::Property> expected = {{QStringLiteral("Colour"), QStringLiteral("changed")},
                                                         {QStringLiteral("Mode"), QStringLiteral("accept")}};
    EXPECT_EQ(entry.defaultProperties, expected);
    // The next instance starts with them.
    assign(QStringLiteral("Plain"), 1);
    std::string name, value;
    ASSERT_TRUE(instanceAt(1)->GetProperty(0, name, value));
    EXPECT_EQ(value, "changed");
}

TEST_F(ConfiguratorWindowTest, AFailingOptionsDialogLeavesTheWindowWhole)
{
    install("ui_test_plain");
    for (const char *mode : {"throw", "crash", "cancel"}) {
        assign(QStringLiteral("Plain"), 0);
        window->accept();
        instanceAt(0)->SetProperty("Mode", mode);
        window->openOptions(0);
        EXPECT_EQ(window->optionsBusy(), 0) << mode;
        EXPECT_FALSE(core->modified) << mode;
        // A plug-in that failed is dead; the key keeps it, and the window carries on.
        EXPECT_EQ(instanceAt(0)->isAlive(), std::string(mode) == "cancel") << mode;
        window->openOptions(0);
        auto menu = window->keyMenu(0);
        EXPECT_TRUE(action(*menu, QStringLiteral("Clear\tDel"))->isEnabled());
    }
    // Options on an empty key does nothing.
    window->openOptions(2);
    EXPECT_EQ(window->optionsBusy(), 0);
}

TEST_F(ConfiguratorWindowTest, AddingAFileThatIsNotAPluginSaysSo)
{
    const QString bogus = userDir.path() + QStringLiteral("/notes.pkx");
    QFile file(bogus);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("this is not a plug-in");
    file.close();
    window->setPluginFileChooser([&] { return bogus; });
    window->findChild<CPxkHoverButton *>()->click();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, QStringLiteral("Failed to add:\n") + bogus);
    EXPECT_EQ(messages[0].caption, QStringLiteral("Pixkey mini Configurator"));
    EXPECT_EQ(window->pluginList().topLevelItemCount(), 0);
}

TEST_F(ConfiguratorWindowTest, AddingAnApplicationPluginMakesItsLayout)
{
    window->setPluginFileChooser([] { return plugin("ui_test_app"); });
    window->findChild<CPxkHoverButton *>()->click();
    EXPECT_TRUE(messages.empty());
    ASSERT_NE(core->activeLayout, nullptr);
    EXPECT_EQ(core->activeLayout->name(), QStringLiteral("UI App"));
    EXPECT_EQ(core->activeLayout->path(), QStringLiteral("uiapp.bin"));
    EXPECT_EQ(window->layoutsBox().currentText(), QStringLiteral("UI App"));
    EXPECT_EQ(window->pluginList().currentItem()->text(0), QStringLiteral("App Plug"));
    EXPECT_TRUE(core->modified);
}

TEST_F(ConfiguratorWindowTest, EnterOnTheListsActsAsOkAndEscAsCancel)
{
    window->show();
    window->layoutsBox().setFocus();
    QTest::keyClick(&window->layoutsBox(), Qt::Key_Return);
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(window->result(), QDialog::Accepted);
    window->show();
    QTest::keyClick(window.get(), Qt::Key_Escape);
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(window->result(), QDialog::Rejected);
}

TEST_F(ConfiguratorWindowTest, ClosingWithoutANotificationAreaAsksWhetherToExit)
{
    int exits = 0;
    QObject::connect(window.get(), &ConfiguratorWindow::exitRequested, [&] { ++exits; });
    window->setAskExitOnClose(true);
    window->show();
    answer = QMessageBox::No;
    window->close();
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(exits, 0);
    answer = QMessageBox::Yes;
    window->close();
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(exits, 1);
}

} // namespace
} // namespace pixkey::test
