#include "OledSettingsDialog.h"

#include "AppCore.h"
#include "KeypadOutput.h"
#include "SliderTickLabels.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

#include <cmath>

namespace pixkey {

namespace {

QSlider *makeSlider(int low, int high, int step, QWidget *parent)
{
    auto *slider = new QSlider(Qt::Horizontal, parent);
    slider->setRange(low, high);
    slider->setTickInterval(step);
    slider->setPageStep(step);
    slider->setTickPosition(QSlider::TicksBelow);
    slider->setMinimumWidth(280);
    return slider;
}

} // namespace

OledSettingsDialog::OledSettingsDialog(AppCore &core, QWidget *parent)
    : QDialog(parent), m_core(core), m_openedGamma(core.settings.value(Settings::Gamma)),
      m_openedWhite(core.settings.value(Settings::WhiteBalance))
{
    setWindowTitle(tr("OLED Settings"));
    auto *box = new QGroupBox(tr("Display"), this);
    auto *grid = new QGridLayout(box);
    m_white = makeSlider(6000, 16000, 1000, box);
    m_gamma = makeSlider(0, 40, 5, box);
    m_whiteText = new QLineEdit(box);
    m_gammaText = new QLineEdit(box);
    for (QLineEdit *edit : {m_whiteText, m_gammaText}) {
        edit->setFixedWidth(edit->fontMetrics().horizontalAdvance(QStringLiteral("160000")) + 14);
        edit->setAlignment(Qt::AlignRight);
    }
    grid->addWidget(new QLabel(tr("White balance:"), box), 0, 0, Qt::AlignLeft | Qt::AlignTop);
    grid->addWidget(m_white, 0, 1);
    grid->addWidget(m_whiteText, 0, 2, Qt::AlignTop);
    grid->addWidget(new SliderTickLabels(m_white, {{6000, QStringLiteral("6000")}, {8000, QStringLiteral("8000")},
                                                   {10000, QStringLiteral("10000")}, {12000, QStringLiteral("12000")},
                                                   {14000, QStringLiteral("14000")}, {16000, QStringLiteral("K")}},
                                         false, box),
                    1, 1);
    grid->setRowMinimumHeight(2, 10);
    grid->addWidget(new QLabel(tr("Gamma:"), box), 3, 0, Qt::AlignLeft | Qt::AlignTop);
    grid->addWidget(m_gamma, 3, 1);
    grid->addWidget(m_gammaText, 3, 2, Qt::AlignTop);
    grid->addWidget(new SliderTickLabels(m_gamma, {{0, QStringLiteral("0")}, {10, QStringLiteral("0.5")},
                                                   {20, QStringLiteral("1")}, {30, QStringLiteral("1.5")},
                                                   {40, QStringLiteral("2")}},
                                         false, box),
                    4, 1);

    auto *buttons = new QDialogButtonBox(this);
    QPushButton *defaults = buttons->addButton(tr("Default Settings"), QDialogButtonBox::ResetRole);
    buttons->addButton(QDialogButtonBox::Ok);
    buttons->addButton(QDialogButtonBox::Cancel);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(box);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    m_white->setValue(m_openedWhite);
    m_gamma->setValue(m_openedGamma);
    m_whiteText->setText(QString::number(m_openedWhite));
    m_gammaText->setText(gammaText(m_openedGamma));

    connect(m_white, &QSlider::valueChanged, this, &OledSettingsDialog::setWhite);
    connect(m_gamma, &QSlider::valueChanged, this, &OledSettingsDialog::setGamma);
    connect(m_white, &QSlider::sliderReleased, this, [this] { setWhite(m_white->value()); });
    connect(m_gamma, &QSlider::sliderReleased, this, [this] { setGamma(m_gamma->value()); });
    connect(m_whiteText, &QLineEdit::editingFinished, this, &OledSettingsDialog::commitWhiteText);
    connect(m_gammaText, &QLineEdit::editingFinished, this, &OledSettingsDialog::commitGammaText);
    connect(defaults, &QPushButton::clicked, this, &OledSettingsDialog::restoreDefaults);
    connect(buttons, &QDialogButtonBox::accepted, this, &OledSettingsDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &OledSettingsDialog::reject);
}

std::optional<int> OledSettingsDialog::parseGamma(const QString &text)
{
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(value) || value < 0 || value > 1e6)
        return std::nullopt;
    // A tiny nudge keeps typed decimals such as 0.35 (0.34999... in binary) on their step.
    return int(std::trunc(value * 20 + 1e-9));
}

std::optional<int> OledSettingsDialog::parseWhiteBalance(const QString &text)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok, 10);
    if (!ok || value <= 0)
        return std::nullopt;
    return value;
}

QString OledSettingsDialog::gammaText(int steps)
{
    return QString::asprintf("%1.2f", steps * 0.05);
}

void OledSettingsDialog::setGamma(int steps)
{
    Settings &s = m_core.settings;
    s.setValue(Settings::Gamma, steps);
    m_core.keypad().setGamma(s.gamma());
    m_core.keypad().requestRefresh();
    m_gammaText->setText(gammaText(steps));
    const QSignalBlocker block(m_gamma);
    m_gamma->setValue(steps);
}

void OledSettingsDialog::setWhite(int kelvin)
{
    Settings &s = m_core.settings;
    s.setValue(Settings::WhiteBalance, kelvin);
    m_core.keypad().setWhiteBalance(kelvin);
    m_core.keypad().requestRefresh();
    m_whiteText->setText(QString::number(kelvin));
    const QSignalBlocker block(m_white);
    m_white->setValue(kelvin);
}

void OledSettingsDialog::commitGammaText()
{
    if (const auto steps = parseGamma(m_gammaText->text()))
        setGamma(*steps);
    else
        m_gammaText->setText(gammaText(m_core.settings.value(Settings::Gamma)));
}

void OledSettingsDialog::commitWhiteText()
{
    if (const auto kelvin = parseWhiteBalance(m_whiteText->text()))
        setWhite(*kelvin);
    else
        m_whiteText->setText(QString::number(m_core.settings.value(Settings::WhiteBalance)));
}

void OledSettingsDialog::restoreDefaults()
{
    setWhite(8500);
    setGamma(13);
}

void OledSettingsDialog::reject()
{
    if (m_core.settings.value(Settings::Gamma) != m_openedGamma)
        setGamma(m_openedGamma);
    if (m_core.settings.value(Settings::WhiteBalance) != m_openedWhite)
        setWhite(m_openedWhite);
    QDialog::reject();
}

} // namespace pixkey
