#include "SettingsDialog.h"

#include "SliderTickLabels.h"

#include "AppCore.h"
#include "HotkeyEdit.h"
#include "ImagePicker.h"
#include "KeypadOutput.h"
#include "OledSettingsDialog.h"
#include "UiPictures.h"

#include <pixkey/utility/KeySending.h>

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTabWidget>
#include <QVBoxLayout>

namespace pixkey {

namespace {

std::vector<QPixmap> orientationPictures(qreal ratio)
{
    std::vector<QPixmap> pictures;
    for (int i = 0; i < UiPictures::kOrientationPictures; ++i)
        pictures.push_back(UiPictures::orientationPicture(i, ratio));
    return pictures;
}

std::vector<QPixmap> brightnessPictures(qreal ratio)
{
    std::vector<QPixmap> pictures;
    for (int i = 0; i < UiPictures::kBrightnessPictures; ++i)
        pictures.push_back(UiPictures::brightnessPicture(i, ratio));
    return pictures;
}

} // namespace

SettingsDialog::SettingsDialog(AppCore &core, QWidget *parent) : QDialog(parent), m_core(core)
{
    setWindowTitle(tr("Pixkey mini three Settings"));
    const qreal ratio = devicePixelRatioF();

    auto *keypadBox = new QGroupBox(tr("Keypad"), this);
    auto *keypadGrid = new QGridLayout(keypadBox);
    m_orientation = new ImagePicker(orientationPictures(ratio), QSize(72, 72), keypadBox);
    m_brightness = new ImagePicker(brightnessPictures(ratio), QSize(34, 34), keypadBox);
    keypadGrid->addWidget(new QLabel(tr("Orientation:"), keypadBox), 0, 0, Qt::AlignLeft | Qt::AlignVCenter);
    keypadGrid->addWidget(m_orientation, 0, 1, Qt::AlignLeft);
    keypadGrid->addWidget(new QLabel(tr("Brightness:"), keypadBox), 1, 0, Qt::AlignLeft | Qt::AlignVCenter);
    keypadGrid->addWidget(m_brightness, 1, 1, Qt::AlignLeft);
    m_oledButton = new QPushButton(tr("OLED Settings"), keypadBox);
    keypadGrid->addWidget(m_oledButton, 1, 2, Qt::AlignRight | Qt::AlignVCenter);
    keypadGrid->setColumnStretch(2, 1);

    auto *switchBox = new QGroupBox(tr("Layouts"), this);
    auto *switchGrid = new QVBoxLayout(switchBox);
    m_hotkey = new HotkeyEdit(switchBox);
    auto *hotkeyRow = new QHBoxLayout;
    hotkeyRow->addWidget(new QLabel(tr("Switch layouts with:"), switchBox));
    hotkeyRow->addWidget(m_hotkey, 1);
    switchGrid->addLayout(hotkeyRow);
    switchGrid->addSpacing(6);
    switchGrid->addWidget(new QLabel(tr("Switch to idle layout when computer is not used for:"), switchBox));
    switchGrid->addWidget(makeTimeSlider(m_idle, m_idleText));
    switchGrid->addSpacing(6);
    switchGrid->addWidget(new QLabel(tr("Turn illumination off when computer is not used for:"), switchBox));
    switchGrid->addWidget(makeTimeSlider(m_illumination, m_illuminationText));

    // Kept for its state only: the notification-area icon is switched elsewhere.
    m_trayIcon = new QCheckBox(tr("Display icon in notification area"), this);
    m_trayIcon->setVisible(false);
    m_autostartBox = new QCheckBox(tr("Start with the desktop"), this);
    m_autostartBox->setToolTip(tr("Starts the configurator minimized, with only its tray icon, when you log in"));

    auto *buttons = new QDialogButtonBox(this);
    QPushButton *defaults = buttons->addButton(tr("Default Settings"), QDialogButtonBox::ResetRole);
    m_ok = buttons->addButton(QDialogButtonBox::Ok);
    buttons->addButton(QDialogButtonBox::Cancel);

    m_pages = new QTabWidget(this);
    auto *general = new QWidget(m_pages);
    auto *generalLayout = new QVBoxLayout(general);
    generalLayout->addWidget(keypadBox);
    generalLayout->addWidget(switchBox);
    generalLayout->addWidget(m_autostartBox);
    generalLayout->addStretch(1);
    m_pages->addTab(general, tr("General"));
    m_desktopPage = makeDesktopPage();
    m_pages->addTab(m_desktopPage, tr("Desktop"));
    connect(m_pages, &QTabWidget::currentChanged, this, [this](int index) {
        if (m_pages->widget(index) == m_desktopPage)
            refreshDesktopPage();
    });

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_pages);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(m_orientation, &ImagePicker::positionChanged, this, [this](int p) { setOrientation(orientationOf(p)); });
    connect(m_brightness, &ImagePicker::positionChanged, this, &SettingsDialog::setBrightness);
    connect(m_hotkey, &HotkeyEdit::hotkeyChanged, this, [this] {
        if (m_hotkey->modifiers() == 0)
            m_hotkey->setHotkey(0, 0);
    });
    connect(m_idle, &QSlider::valueChanged, this, &SettingsDialog::setIdle);
    connect(m_illumination, &QSlider::valueChanged, this, &SettingsDialog::setIllumination);
    connect(m_oledButton, &QPushButton::clicked, this, [this] {
        if (m_runOled) {
            m_runOled();
            return;
        }
        OledSettingsDialog dialog(m_core, this);
        dialog.exec();
    });
    connect(m_trayIcon, &QCheckBox::toggled, this, [this](bool on) {
        m_core.settings.setValue(Settings::TrayIcon, on ? 1 : 0);
        Q_EMIT trayIconChanged();
    });
    connect(defaults, &QPushButton::clicked, this, [this] { applyToControls(defaultRecord()); });
    connect(buttons, &QDialogButtonBox::accepted, this, &SettingsDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &SettingsDialog::reject);

    m_snapshot = m_core.settings.values();
    applyToControls(m_snapshot);
    m_autostartBox->setChecked(m_autostart.isEnabled());
}

QWidget *SettingsDialog::makeTimeSlider(QSlider *&slider, QLineEdit *&text)
{
    auto *box = new QWidget(this);
    auto *grid = new QGridLayout(box);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(0);
    slider = new QSlider(Qt::Horizontal, box);
    slider->setRange(0, 100);
    slider->setTickInterval(10);
    slider->setPageStep(10);
    slider->setSingleStep(1);
    slider->setTickPosition(QSlider::TicksBelow);
    slider->setMinimumWidth(300);
    text = new QLineEdit(box);
    text->setReadOnly(true);
    text->setFixedWidth(text->fontMetrics().horizontalAdvance(QStringLiteral("10:30 min")) + 12);
    text->setAlignment(Qt::AlignCenter);
    // The box keeps its place while hidden, so the dialog does not jump during a drag.
    QSizePolicy keep = text->sizePolicy();
    keep.setRetainSizeWhenHidden(true);
    text->setSizePolicy(keep);
    text->hide();
    grid->addWidget(slider, 0, 0);
    grid->addWidget(text, 0, 1);

    // Labels under the ticks 0, 20, 40, 60, 80 and 100.
    auto *labels = new SliderTickLabels(slider, {{0, QStringLiteral("1 min")}, {20, QStringLiteral("5 min")},
                                                 {40, QStringLiteral("15 min")}, {60, QStringLiteral("30 min")},
                                                 {80, QStringLiteral("1 hr")}, {100, QString(QChar(0x221E))}},
                                        true, box);
    grid->addWidget(labels, 1, 0);

    QSlider *s = slider;
    QLineEdit *t = text;
    connect(s, &QSlider::sliderPressed, t, [s, t] {
        t->setText(Settings::sliderText(s->value()));
        t->show();
    });
    connect(s, &QSlider::valueChanged, t, [t](int value) { t->setText(Settings::sliderText(value)); });
    connect(s, &QSlider::sliderReleased, this, [this, s, t] {
        // The value is taken again when the slider lets the mouse go.
        if (s == m_idle)
            setIdle(s->value());
        else
            setIllumination(s->value());
        t->hide();
    });
    return box;
}

QWidget *SettingsDialog::makeDesktopPage()
{
    auto *page = new QWidget(this);
    auto *layout = new QVBoxLayout(page);
    m_desktopSession = new QLabel(page);
    m_desktopSession->setWordWrap(true);
    layout->addWidget(m_desktopSession);
    auto *list = new QWidget(page);
    m_desktopGrid = new QGridLayout(list);
    m_desktopGrid->setContentsMargins(0, 6, 0, 0);
    m_desktopGrid->setHorizontalSpacing(12);
    m_desktopGrid->setVerticalSpacing(2);
    m_desktopGrid->setColumnStretch(2, 1);
    layout->addWidget(list);
    layout->addStretch(1);
    m_uinputBox = new QCheckBox(tr("Allow sending keys through /dev/uinput"), page);
    m_uinputBox->setToolTip(tr("Where the desktop offers no other way, keys that send keyboard shortcuts type "
                               "through a keyboard device of the program's own; needs the udev rule shipped "
                               "with the package"));
    m_uinputEnabled = [] { return UinputKeySendingEnabled(); };
    m_setUinputEnabled = [](bool on) { return SetUinputKeySendingEnabled(on); };
    m_chooseKeySendingAgain = [] { ResetKeySending(); };
    connect(m_uinputBox, &QCheckBox::toggled, this, [this](bool on) {
        if (!m_setUinputEnabled(on)) {
            const QSignalBlocker block(m_uinputBox);
            m_uinputBox->setChecked(m_uinputEnabled());
            if (m_core.showMessage)
                m_core.showMessage(QStringLiteral("Sending keys through /dev/uinput could not be switched: the "
                                                  "setting cannot be written."),
                                   QStringLiteral("Pixkey mini Configurator"));
        }
        refreshDesktopPage();
    });
    auto *again = new QPushButton(tr("Check again"), page);
    again->setObjectName(QStringLiteral("desktop-check-again"));
    connect(again, &QPushButton::clicked, this, [this] {
        m_chooseKeySendingAgain();
        refreshDesktopPage();
    });
    auto *row = new QHBoxLayout;
    row->addWidget(m_uinputBox, 1);
    row->addWidget(again);
    layout->addLayout(row);
    return page;
}

void SettingsDialog::setKeySending(std::function<bool()> uinputEnabled, std::function<bool(bool)> setUinputEnabled,
                                   std::function<void()> chooseAgain)
{
    m_uinputEnabled = std::move(uinputEnabled);
    m_setUinputEnabled = std::move(setUinputEnabled);
    m_chooseKeySendingAgain = std::move(chooseAgain);
    const QSignalBlocker block(m_uinputBox);
    m_uinputBox->setChecked(m_uinputEnabled());
}

void SettingsDialog::refreshDesktopPage()
{
    const DesktopItems items = m_desktopSource ? m_desktopSource() : DesktopItems();
    m_desktopLines.clear();
    for (const DesktopItem &item : items)
        m_desktopLines << DesktopReport::line(item);

    QStringList session;
    for (const char *variable : {"XDG_CURRENT_DESKTOP", "XDG_SESSION_TYPE"})
        if (const QString value = qEnvironmentVariable(variable); !value.isEmpty())
            session << value;
    QString about = tr("What the program can do on this desktop");
    if (!session.isEmpty())
        about += QStringLiteral(" (%1)").arg(session.join(QStringLiteral(", ")));
    m_desktopSession->setText(items.isEmpty() ? tr("The desktop could not be asked what it offers.") : about + QLatin1Char(':'));

    while (QLayoutItem *old = m_desktopGrid->takeAt(0)) {
        delete old->widget();
        delete old;
    }
    // Texts wrap within the width of the General page, so the dialog keeps its size when the
    // page fills.
    const int textWidth = 300;
    QWidget *parent = m_desktopGrid->parentWidget();
    int gridRow = 0;
    for (int i = 0; i < m_desktopLines.size(); ++i) {
        const DesktopLine &line = m_desktopLines.at(i);
        auto *name = new QLabel(QStringLiteral("<b>%1</b>").arg(line.name.toHtmlEscaped()), parent);
        name->setObjectName(QStringLiteral("desktop-name-%1").arg(i));
        QString colour = QStringLiteral("#1a7f37");
        if (line.value == CapabilityState::NeedsStep)
            colour = QStringLiteral("#9a6700");
        else if (line.value == CapabilityState::Unavailable)
            colour = QStringLiteral("#b42318");
        auto *state = new QLabel(QStringLiteral("<span style=\"color:%1\">%2</span>").arg(colour, line.state.toHtmlEscaped()), parent);
        state->setObjectName(QStringLiteral("desktop-state-%1").arg(i));
        auto *how = new QLabel(line.how, parent);
        how->setObjectName(QStringLiteral("desktop-how-%1").arg(i));
        how->setWordWrap(true);
        how->setFixedWidth(textWidth);
        how->setTextInteractionFlags(Qt::TextSelectableByMouse);
        m_desktopGrid->addWidget(name, gridRow, 0, Qt::AlignLeft | Qt::AlignTop);
        m_desktopGrid->addWidget(state, gridRow, 1, Qt::AlignLeft | Qt::AlignTop);
        m_desktopGrid->addWidget(how, gridRow, 2, Qt::AlignLeft | Qt::AlignTop);
        ++gridRow;
        if (!line.step.isEmpty()) {
            auto *step = new QLabel(line.step, parent);
            step->setObjectName(QStringLiteral("desktop-step-%1").arg(i));
            step->setWordWrap(true);
            step->setFixedWidth(textWidth);
            // The commands in it are meant to be copied into the desktop's settings.
            step->setTextInteractionFlags(Qt::TextSelectableByMouse);
            QFont italic = step->font();
            italic.setItalic(true);
            step->setFont(italic);
            m_desktopGrid->addWidget(step, gridRow, 2, Qt::AlignLeft | Qt::AlignTop);
            ++gridRow;
        }
        m_desktopGrid->setRowMinimumHeight(gridRow, 6);
        ++gridRow;
    }
}

void SettingsDialog::setOrientation(int orientation)
{
    if (m_core.settings.value(Settings::Orientation) == orientation)
        return;
    m_core.settings.setValue(Settings::Orientation, orientation);
    m_core.keypad().holdDisplayUntilAllSent();
    m_core.sendAllFaces();
    Q_EMIT orientationChanged();
}

void SettingsDialog::setBrightness(int level)
{
    m_core.settings.setValue(Settings::Brightness, level);
    m_core.applyBrightness();
}

void SettingsDialog::setIdle(int position)
{
    m_core.settings.setValue(Settings::ScreensaverOn, position);
    if (position > m_core.settings.value(Settings::IlluminationOff)) {
        m_core.settings.setValue(Settings::IlluminationOff, position);
        const QSignalBlocker block(m_illumination);
        m_illumination->setValue(position);
        m_illuminationText->setText(Settings::sliderText(position));
    }
}

void SettingsDialog::setIllumination(int position)
{
    m_core.settings.setValue(Settings::IlluminationOff, position);
    if (position < m_core.settings.value(Settings::ScreensaverOn)) {
        m_core.settings.setValue(Settings::ScreensaverOn, position);
        const QSignalBlocker block(m_idle);
        m_idle->setValue(position);
        m_idleText->setText(Settings::sliderText(position));
    }
}

void SettingsDialog::loadHotkey(int modifiers, int key)
{
    m_hotkey->setHotkey(std::uint16_t(modifiers), std::uint16_t(key));
    if (m_hotkey->modifiers() == 0)
        m_hotkey->setHotkey(0, 0);
}

SettingsDialog::Record SettingsDialog::defaultRecord() const
{
    Record record = Settings::kDefaults;
    for (Settings::Index kept : {Settings::AutoSwitch, Settings::SizeX, Settings::SizeY})
        record[kept] = m_core.settings.value(kept);
    return record;
}

void SettingsDialog::applyToControls(const Record &record)
{
    Settings &s = m_core.settings;
    setOrientation(record[Settings::Orientation]);
    m_orientation->setPosition(pickerPosition(s.value(Settings::Orientation)));
    if (s.value(Settings::Brightness) != record[Settings::Brightness])
        setBrightness(record[Settings::Brightness]);
    m_brightness->setPosition(s.value(Settings::Brightness));

    s.setValue(Settings::IlluminationOff, record[Settings::IlluminationOff]);
    s.setValue(Settings::ScreensaverOn, record[Settings::ScreensaverOn]);
    {
        const QSignalBlocker blockIdle(m_idle);
        const QSignalBlocker blockIllumination(m_illumination);
        m_idle->setValue(record[Settings::ScreensaverOn]);
        m_idleText->setText(Settings::sliderText(record[Settings::ScreensaverOn]));
        m_illumination->setValue(record[Settings::IlluminationOff]);
        m_illuminationText->setText(Settings::sliderText(record[Settings::IlluminationOff]));
    }

    s.setValue(Settings::SwitchLayoutModifier, record[Settings::SwitchLayoutModifier]);
    s.setValue(Settings::SwitchLayoutHotkey, record[Settings::SwitchLayoutHotkey]);
    loadHotkey(record[Settings::SwitchLayoutModifier], record[Settings::SwitchLayoutHotkey]);

    const bool gammaDiffers = s.value(Settings::Gamma) != record[Settings::Gamma];
    const bool whiteDiffers = s.value(Settings::WhiteBalance) != record[Settings::WhiteBalance];
    if (gammaDiffers) {
        s.setValue(Settings::Gamma, record[Settings::Gamma]);
        m_core.keypad().setGamma(s.gamma());
        m_core.keypad().requestRefresh();
    }
    if (whiteDiffers) {
        s.setValue(Settings::WhiteBalance, record[Settings::WhiteBalance]);
        m_core.keypad().setWhiteBalance(s.value(Settings::WhiteBalance));
        m_core.keypad().requestRefresh();
    }

    {
        const QSignalBlocker block(m_trayIcon);
        m_trayIcon->setChecked(record[Settings::TrayIcon] == 1);
    }
    s.setValue(Settings::TrayIcon, m_trayIcon->isChecked() ? 1 : 0);
    Q_EMIT trayIconChanged();
}

void SettingsDialog::showSettings()
{
    m_snapshot = m_core.settings.values();
    applyToControls(m_snapshot);
    m_autostartBox->setChecked(m_autostart.isEnabled());
    m_uinputSnapshot = m_uinputEnabled();
    {
        const QSignalBlocker block(m_uinputBox);
        m_uinputBox->setChecked(m_uinputSnapshot);
    }
    if (m_pages->currentWidget() == m_desktopPage)
        refreshDesktopPage();
    show();
    raise();
    activateWindow();
}

void SettingsDialog::accept()
{
    m_core.settings.setValue(Settings::SwitchLayoutHotkey, m_hotkey->key());
    m_core.settings.setValue(Settings::SwitchLayoutModifier, m_hotkey->modifiers());
    Q_EMIT hotkeyChanged();
    hide();
    m_core.saveSettings(QString());
    if (m_autostartBox->isChecked() != m_autostart.isEnabled()) {
        QString error;
        const bool done = m_autostartBox->isChecked() ? m_autostart.enable(&error) : m_autostart.disable(&error);
        if (!done) {
            m_autostartBox->setChecked(m_autostart.isEnabled());
            if (m_core.showMessage)
                m_core.showMessage(QStringLiteral("Starting with the desktop could not be changed: ") + error,
                                   QStringLiteral("Pixkey mini Configurator"));
        }
    }
}

void SettingsDialog::reject()
{
    hide();
    applyToControls(m_snapshot);
    m_autostartBox->setChecked(m_autostart.isEnabled());
    if (m_uinputBox->isChecked() != m_uinputSnapshot)
        m_uinputBox->setChecked(m_uinputSnapshot); // stores it back
    m_ok->setFocus();
}

} // namespace pixkey
