// OledSettingsDialog: "OLED Settings", the modal dialog for the keypad's white balance (kelvin) and
// gamma (steps of 0.05). Each has a slider and a box; a moved slider applies at once, a box applies
// its text when it loses the focus (white balance as a whole number, gamma as a decimal fraction
// times 20 cut toward zero). OK keeps the values (the settings dialog's OK writes them); Cancel
// puts back the values it opened with, on the keypad too.
//
// Works on the `AppCore` given, which must outlive it. [main-thread] like every widget.
#pragma once

#include <QDialog>

#include <optional>

class QLineEdit;
class QSlider;

namespace pixkey {

class AppCore;

class OledSettingsDialog : public QDialog {
    Q_OBJECT
public:
    explicit OledSettingsDialog(AppCore &core, QWidget *parent = nullptr);

    // Gamma steps from a typed text ("1.23" gives 24); nothing for text that is not a number or is
    // negative.
    static std::optional<int> parseGamma(const QString &text);
    // Kelvin from a typed text; nothing for text that is not a whole number above zero.
    static std::optional<int> parseWhiteBalance(const QString &text);
    static QString gammaText(int steps);

    QSlider &gammaSlider() const { return *m_gamma; }
    QSlider &whiteSlider() const { return *m_white; }
    QLineEdit &gammaBox() const { return *m_gammaText; }
    QLineEdit &whiteBox() const { return *m_whiteText; }

    // "Default Settings": white balance 8500, gamma 13.
    void restoreDefaults();
    // Applies what a box holds (also done when the box loses the focus).
    void commitGammaText();
    void commitWhiteText();

    void reject() override;

private:
    void setGamma(int steps);
    void setWhite(int kelvin);

    AppCore &m_core;
    int m_openedGamma;
    int m_openedWhite;
    QSlider *m_white = nullptr;
    QSlider *m_gamma = nullptr;
    QLineEdit *m_whiteText = nullptr;
    QLineEdit *m_gammaText = nullptr;
};

} // namespace pixkey
