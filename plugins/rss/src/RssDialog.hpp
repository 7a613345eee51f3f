// RssDialog: the "RSS" settings dialog: the feed address, which item to show or the slide show,
// how much of the face the picture takes, how often to download, and a live preview of the key.
//
// [main-thread] Made and run by RssPlugin::ShowProperties, modal. It edits a copy of the
// settings; chosenSettings() gives the result after OK ("RssURL" is carried through unchanged;
// a new address clears it when the plug-in applies the result). The preview has its own
// FeedRunner (300 ms cycle) that gets the dialog's values at every change and hands back faces
// through a queued call; closing the dialog stops it, waiting at most 500 ms.
#pragma once

#include "FeedRunner.hpp"
#include "RssSettings.hpp"

#include <QDialog>
#include <QImage>

#include <memory>

class QButtonGroup;
class QLineEdit;
class QRadioButton;
class QTimer;

namespace pixkey {
class CustomSlider;
}

namespace pixkey::rss {

class RssDialog : public QDialog {
public:
    RssDialog(QWidget *parent, const RssSettings &settings, FeedState::Limits limits = {});
    ~RssDialog() override;

    // The settings as the controls show them.
    RssSettings chosenSettings() const;

    // The widgets and the preview, for tests that drive the dialog.
    QLineEdit *urlEdit() const { return m_url; }
    QRadioButton *itemButton(int index) const; // 0 First, 1 Second, 2 Third, 3 SlideShow
    CustomSlider *showSlider() const { return m_show; }
    CustomSlider *updateSlider() const { return m_update; }
    QLineEdit *intervalBox() const { return m_interval; }
    QImage previewFace() const { return m_preview; }
    FeedRunner *previewRunner() const { return m_runner.get(); }

    void done(int result) override;

private:
    void handToPreview();
    bool copyPreview(); // true when the face changed
    void refreshPreview();
    void showInterval();
    void stopPreview();

    RssSettings m_settings;
    bool m_periodMoved = false;

    QLineEdit *m_url = nullptr;
    QButtonGroup *m_items = nullptr;
    CustomSlider *m_show = nullptr;
    CustomSlider *m_update = nullptr;
    QLineEdit *m_interval = nullptr;
    QWidget *m_previewView = nullptr;
    QTimer *m_previewTimer = nullptr;

    QImage m_preview; // the visible canvas as last copied, 96 x 96
    std::unique_ptr<FeedRunner> m_runner;
};

} // namespace pixkey::rss
