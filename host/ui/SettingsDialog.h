// SettingsDialog: "Pixkey mini three Settings", the modeless dialog behind "General Settings". It
// edits the keypad's orientation and brightness, the layout-switch hotkey, when the idle layout
// shows and when the illumination goes off (two ordered time sliders), and opens "OLED Settings"
// for gamma and white balance. Every change acts on the record and the keypad at once; OK writes
// all values and asks for the hotkey to be registered again; Cancel puts back everything as it was
// when the dialog was shown, the keypad too. "Start with the desktop" shows whether the user's
// autostart entry is on; OK writes or removes the entry, Cancel leaves it as it was. The
// "Desktop" page lists what works on this desktop (DesktopReport), read again whenever the dialog
// or the page is shown and on "Check again" (which also lets the key sending choose its way
// again), and switches key sending through /dev/uinput: at once, and back on Cancel.
//
// Works on the `AppCore` given, which must outlive it. [main-thread] like every widget.
#pragma once

#include "Autostart.h"
#include "DesktopReport.h"
#include "Settings.h"

#include <QDialog>

#include <array>
#include <cstdint>
#include <functional>

class QCheckBox;
class QGridLayout;
class QLabel;
class QTabWidget;
class QLineEdit;
class QPushButton;
class QSlider;

namespace pixkey {

class AppCore;
class HotkeyEdit;
class ImagePicker;

class SettingsDialog : public QDialog {
    Q_OBJECT
public:
    using Record = std::array<std::int32_t, Settings::Count>;

    explicit SettingsDialog(AppCore &core, QWidget *parent = nullptr);

    // Takes the snapshot, loads the controls and shows the dialog.
    void showSettings();
    // Loads the controls from `record`, applying what differs to the record and the keypad.
    void applyToControls(const Record &record);
    // The record of "Default Settings" (AutoSwitch, SizeX and SizeY as they are now).
    Record defaultRecord() const;

    // Picker position for an orientation, and back (positions 2 and 3 show orientations 3 and 2).
    static int pickerPosition(int orientation) { return orientation < 2 ? orientation : 5 - orientation; }
    static int orientationOf(int position) { return position < 2 ? position : 5 - position; }

    // Replaces how "OLED Settings" runs (tests); default: the modal dialog.
    void setOledRunner(std::function<void()> runner) { m_runOled = std::move(runner); }

    ImagePicker &orientationPicker() const { return *m_orientation; }
    ImagePicker &brightnessPicker() const { return *m_brightness; }
    HotkeyEdit &hotkeyEdit() const { return *m_hotkey; }
    QSlider &idleSlider() const { return *m_idle; }
    QSlider &illuminationSlider() const { return *m_illumination; }
    QLineEdit &idleText() const { return *m_idleText; }
    QLineEdit &illuminationText() const { return *m_illuminationText; }
    QPushButton &oledButton() const { return *m_oledButton; }
    QCheckBox &autostartBox() const { return *m_autostartBox; }
    QTabWidget &pages() const { return *m_pages; }
    QWidget &desktopPage() const { return *m_desktopPage; }
    // Where the "Desktop" page reads its report (default: nothing known).
    void setDesktopReport(std::function<DesktopItems()> source) { m_desktopSource = std::move(source); }
    // Reads the report again and rebuilds the page.
    void refreshDesktopPage();
    // The page's lines as shown (tests and screenshots).
    const QList<DesktopLine> &desktopLines() const { return m_desktopLines; }
    QCheckBox &uinputBox() const { return *m_uinputBox; }
    // Replaces the stored uinput switch and the key sending's "choose again" (tests); default: the
    // Utility library's.
    void setKeySending(std::function<bool()> uinputEnabled, std::function<bool(bool)> setUinputEnabled,
                       std::function<void()> chooseAgain);
    // Replaces the autostart entry the check box stands for (tests); default: the user's.
    void setAutostart(Autostart autostart) { m_autostart = std::move(autostart); }

    void accept() override; // OK
    void reject() override; // Cancel, Esc

Q_SIGNALS:
    // OK: the switch hotkey must be registered again.
    void hotkeyChanged();
    // The keypad's orientation changed (the preview turns with it).
    void orientationChanged();
    // The TrayIcon setting was set (also to the value it had).
    void trayIconChanged();

private:
    QWidget *makeTimeSlider(QSlider *&slider, QLineEdit *&text);
    void setOrientation(int orientation);
    void setBrightness(int level);
    void setIdle(int position);
    void setIllumination(int position);
    void loadHotkey(int modifiers, int key);
    QWidget *makeDesktopPage();

    AppCore &m_core;
    Record m_snapshot{};
    ImagePicker *m_orientation = nullptr;
    ImagePicker *m_brightness = nullptr;
    HotkeyEdit *m_hotkey = nullptr;
    QSlider *m_idle = nullptr;
    QSlider *m_illumination = nullptr;
    QLineEdit *m_idleText = nullptr;
    QLineEdit *m_illuminationText = nullptr;
    QPushButton *m_oledButton = nullptr;
    QCheckBox *m_trayIcon = nullptr;
    QCheckBox *m_autostartBox = nullptr;
    Autostart m_autostart;
    QPushButton *m_ok = nullptr;
    std::function<void()> m_runOled;
    QTabWidget *m_pages = nullptr;
    QWidget *m_desktopPage = nullptr;
    QGridLayout *m_desktopGrid = nullptr;
    QLabel *m_desktopSession = nullptr;
    std::function<DesktopItems()> m_desktopSource;
    QList<DesktopLine> m_desktopLines;
    QCheckBox *m_uinputBox = nullptr;
    bool m_uinputSnapshot = false;
    std::function<bool()> m_uinputEnabled;
    std::function<bool(bool)> m_setUinputEnabled;
    std::function<void()> m_chooseKeySendingAgain;
};

} // namespace pixkey
