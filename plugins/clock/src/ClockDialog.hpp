// ClockDialog: the "Time and Weather" settings dialog with its live preview.
//
// [main-thread] Made and run by ClockPlugin::ShowProperties, modal to the host's window. It edits
// a copy of the settings; chosenSettings() gives the result after the user pressed OK. The preview
// has its own ClockRenderer, redrawn every second and at every change. The weather source is the
// library's, shared by every clock: OK sets it on the weather cache at once.
#pragma once

#include "ClockRenderer.hpp"
#include "ClockSettings.hpp"

#include <QDialog>

#include <cstdint>
#include <functional>

class QCheckBox;
class QComboBox;
class QLabel;
class QRadioButton;
class QTimer;

namespace pixkey::clock {

class ClockDialog : public QDialog {
public:
    // The city chosen when the settings have none and the user has not picked one.
    static constexpr int kDefaultCityId = 27612;

    ClockDialog(QWidget *parent, const ClockSettings &settings, const ClockArt &art,
                const CityTable &cities, WeatherCache *weather, std::function<int64_t()> nowMs = {});
    ~ClockDialog() override;

    // The settings as the controls show them.
    ClockSettings chosenSettings() const { return m_settings; }

    // The widgets, for tests that drive the dialog.
    QCheckBox *localTimeBox() const { return m_localTime; }
    QComboBox *regionBox() const { return m_region; }
    QComboBox *cityBox() const { return m_city; }
    QLabel *regionLabel() const { return m_regionLabel; }
    QLabel *cityLabel() const { return m_cityLabel; }
    QRadioButton *analogButton() const { return m_analog; }
    QRadioButton *digitalButton() const { return m_digital; }
    QRadioButton *hour12Button() const { return m_hour12; }
    QRadioButton *hour24Button() const { return m_hour24; }
    QRadioButton *celsiusButton() const { return m_celsius; }
    QRadioButton *fahrenheitButton() const { return m_fahrenheit; }
    QLabel *previewLabel() const { return m_preview; }
    QComboBox *weatherSourceBox() const { return m_weatherSource; }

    // Redraws the preview for the current moment.
    void redrawPreview();

private:
    void fillCities(int regionId);
    void readControls();

    const CityTable &m_cities;
    std::function<int64_t()> m_nowMs;
    ClockSettings m_settings;
    ClockRenderer m_renderer;
    QImage m_previewFace;

    QCheckBox *m_localTime = nullptr;
    QLabel *m_regionLabel = nullptr;
    QComboBox *m_region = nullptr;
    QLabel *m_cityLabel = nullptr;
    QComboBox *m_city = nullptr;
    QRadioButton *m_analog = nullptr;
    QRadioButton *m_digital = nullptr;
    QRadioButton *m_hour12 = nullptr;
    QRadioButton *m_hour24 = nullptr;
    QRadioButton *m_celsius = nullptr;
    QRadioButton *m_fahrenheit = nullptr;
    QLabel *m_preview = nullptr;
    QComboBox *m_weatherSource = nullptr;
    QTimer *m_timer = nullptr;
};

} // namespace pixkey::clock
