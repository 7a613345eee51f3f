// BrowserDialog: the "Browser" settings dialog. It runs its own page (its own off-screen browser,
// started with the key's settings and navigated at once) through a capture cycle every 300 ms,
// shows the whole page with the shown square on it (drag the square's corners or its inside) and
// the key's face beside it, and edits the address, the press action, animation and the reload
// period. Hidden, as on the keypad's original dialog: the page-size slider and "Vertical auto
// scroll"; both still work when shown.
//
// Controls carry their numbers as object names ("8009" the address, "8017" the reload slider, ...).
// [main-thread]. Modal; the caller owns it.
#pragma once

#include "BrowserSettings.h"

#include <QDialog>
#include <QImage>

#include <memory>

class QCheckBox;
class QLabel;
class QLineEdit;
class QRadioButton;
class QSlider;
class QTimer;

namespace pixkey {
class CustomSlider;
}

namespace browser {

class CaptureCycle;
class MainThreadPage;
class PageView;

class BrowserDialog : public QDialog {
    Q_OBJECT
public:
    explicit BrowserDialog(const BrowserSettings &settings, QWidget *parent = nullptr);
    ~BrowserDialog() override;

    // The settings as the dialog shows them now (what OK hands back).
    BrowserSettings chosenSettings() const;

    // One round of the 300 ms preview timer (also for tests).
    void tick();
    // The key preview's face and the dialog's page state.
    const QImage &keyFace() const { return m_face; }
    const CaptureCycle &cycle() const { return *m_cycle; }
    PageView *pageView() const { return m_pageView; }

private:
    // Controls to the dialog's page state; navigates only when the address changed.
    void applyControls();
    void pageSizeMoved(int side);
    void targetMoved();
    void redrawKeyPreview();
    void showInterval();

    BrowserSettings m_settings;   // what the dialog's page runs with
    bool m_reloadMoved = false;   // the reload slider was moved: the period comes from it
    std::unique_ptr<MainThreadPage> m_page;
    std::unique_ptr<CaptureCycle> m_cycle;
    QImage m_face;

    QLineEdit *m_url = nullptr;
    QRadioButton *m_actions[3] = {};
    QLineEdit *m_target = nullptr;
    PageView *m_pageView = nullptr;
    QLabel *m_keyPreview = nullptr;
    QSlider *m_pageSize = nullptr;
    QCheckBox *m_animation = nullptr;
    QCheckBox *m_autoscroll = nullptr;
    pixkey::CustomSlider *m_reload = nullptr;
    QLineEdit *m_interval = nullptr;
    QTimer *m_timer = nullptr;
};

} // namespace browser
