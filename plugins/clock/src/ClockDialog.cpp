#include "ClockDialog.hpp"

#include "CityTable.hpp"
#include "ClockLibrary.hpp"

#include <pixkey_plugin.h>

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QRadioButton>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <chrono>
#include <vector>

namespace pixkey::clock {

namespace {
constexpr int kNoCity = -1;
constexpr int kAllRegions = -1;
} // namespace

ClockDialog::ClockDialog(QWidget *parent, const ClockSettings &settings, const ClockArt &art,
                         const CityTable &cities, WeatherCache *weather, std::function<int64_t()> nowMs)
    : QDialog(parent), m_cities(cities), m_nowMs(std::move(nowMs)), m_settings(settings),
      m_renderer(art, cities, weather), m_previewFace(art.digitalBack.convertToFormat(QImage::Format_BGR888))
{
    setWindowTitle(QStringLiteral("Time and Weather"));
    setWindowModality(Qt::WindowModal);
    const QImage icon = ClockLibrary::iconPicture();
    if (!icon.isNull())
        setWindowIcon(QIcon(QPixmap::fromImage(icon)));
    if (m_previewFace.size() != QSize(PKX_FACE_SIZE, PKX_FACE_SIZE)) {
        m_previewFace = QImage(PKX_FACE_SIZE, PKX_FACE_SIZE, QImage::Format_BGR888);
        m_previewFace.fill(Qt::black);
    }

    // Time zone
    auto *zoneGroup = new QGroupBox(QStringLiteral("Time zone"));
    m_localTime = new QCheckBox(QStringLiteral("Use local computer time"));
    m_regionLabel = new QLabel(QStringLiteral("Region"));
    m_region = new QComboBox;
    m_cityLabel = new QLabel(QStringLiteral("City"));
    m_city = new QComboBox;
    m_city->setMaxVisibleItems(20);
    m_regionLabel->setBuddy(m_region);
    m_cityLabel->setBuddy(m_city);
    auto *zoneLayout = new QGridLayout(zoneGroup);
    zoneLayout->addWidget(m_localTime, 0, 0, 1, 2);
    zoneLayout->addWidget(m_regionLabel, 1, 0);
    zoneLayout->addWidget(m_region, 1, 1);
    zoneLayout->addWidget(m_cityLabel, 2, 0);
    zoneLayout->addWidget(m_city, 2, 1);
    zoneLayout->setColumnStretch(1, 1);

    // Clock
    auto *clockGroup = new QGroupBox(QStringLiteral("Clock"));
    m_analog = new QRadioButton(QStringLiteral("Analog"));
    m_digital = new QRadioButton(QStringLiteral("Digital"));
    m_hour12 = new QRadioButton(QStringLiteral("12 hour AM/PM"));
    m_hour24 = new QRadioButton(QStringLiteral("24 hour"));
    auto *viewGroup = new QButtonGroup(this);
    viewGroup->addButton(m_analog);
    viewGroup->addButton(m_digital);
    auto *hourGroup = new QButtonGroup(this);
    hourGroup->addButton(m_hour12);
    hourGroup->addButton(m_hour24);
    auto *clockLayout = new QGridLayout(clockGroup);
    clockLayout->addWidget(m_analog, 0, 0);
    clockLayout->addWidget(m_digital, 1, 0);
    clockLayout->addWidget(m_hour12, 0, 1);
    clockLayout->addWidget(m_hour24, 1, 1);

    // Weather
    auto *weatherGroup = new QGroupBox(QStringLiteral("Weather"));
    m_celsius = new QRadioButton(QStringLiteral("\u00B0Celsius"));
    m_fahrenheit = new QRadioButton(QStringLiteral("\u00B0Fahrenheit"));
    auto *degreeGroup = new QButtonGroup(this);
    degreeGroup->addButton(m_celsius);
    degreeGroup->addButton(m_fahrenheit);
    // The source is shared by every clock key: the forecast service, or an informer host typed in.
    m_weatherSource = new QComboBox;
    m_weatherSource->setEditable(true);
    m_weatherSource->setInsertPolicy(QComboBox::NoInsert);
    m_weatherSource->addItem(QString::fromLatin1(WeatherCache::kForecastSource));
    m_weatherSource->setCurrentText(QString::fromStdString(
        weather ? weather->source() : std::string(WeatherCache::kForecastSource)));
    m_weatherSource->setEnabled(weather != nullptr);
    m_weatherSource->setToolTip(QStringLiteral(
        "Open-Meteo: the city's coordinates are sent to the forecast service, nothing else.\n"
        "A host name (host or host:port): the city's code is sent to that informer."));
    auto *weatherLayout = new QGridLayout(weatherGroup);
    auto *degreesLayout = new QHBoxLayout;
    degreesLayout->addWidget(m_celsius);
    degreesLayout->addWidget(m_fahrenheit);
    degreesLayout->addStretch();
    weatherLayout->addWidget(new QLabel(QStringLiteral("Temperature")), 0, 0);
    weatherLayout->addLayout(degreesLayout, 0, 1);
    weatherLayout->addWidget(new QLabel(QStringLiteral("Weather source")), 1, 0);
    weatherLayout->addWidget(m_weatherSource, 1, 1);

    // Preview
    auto *previewGroup = new QGroupBox(QStringLiteral("Preview"));
    m_preview = new QLabel;
    m_preview->setAlignment(Qt::AlignCenter);
    m_preview->setMinimumSize(PKX_FACE_SIZE + 8, PKX_FACE_SIZE + 8);
    m_preview->setStyleSheet(QStringLiteral("background: black"));
    auto *previewLayout = new QVBoxLayout(previewGroup);
    previewLayout->addWidget(m_preview);
    previewLayout->addStretch();

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, [this, weather] {
        // A source that is not a host name keeps the dialog open with the text to mend.
        if (weather && !weather->setSource(m_weatherSource->currentText().trimmed().toStdString())) {
            m_weatherSource->setFocus();
            m_weatherSource->lineEdit()->selectAll();
            return;
        }
        accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *left = new QVBoxLayout;
    left->addWidget(zoneGroup);
    left->addWidget(clockGroup);
    left->addWidget(weatherGroup);
    auto *columns = new QHBoxLayout;
    columns->addLayout(left, 1);
    columns->addWidget(previewGroup);
    auto *main = new QVBoxLayout(this);
    main->addLayout(columns);
    main->addWidget(buttons);

    // Start values.
    m_localTime->setChecked(m_settings.cityId == kNoCity || m_settings.useLocalTime != 0);
    (m_settings.clockView == 1 ? m_digital : m_analog)->setChecked(true);
    (m_settings.hour24 != 0 ? m_hour24 : m_hour12)->setChecked(true);
    (m_settings.degrees == 1 ? m_fahrenheit : m_celsius)->setChecked(true);

    m_region->addItem(QStringLiteral("All inhabited"), kAllRegions);
    for (const Region &region : m_cities.regions())
        m_region->addItem(QString::fromStdString(region.name), region.id);
    m_region->setCurrentIndex(0);
    fillCities(kAllRegions);

    connect(m_region, &QComboBox::currentIndexChanged, this, [this](int index) {
        fillCities(m_region->itemData(index).toInt());
        readControls();
    });
    connect(m_city, &QComboBox::currentIndexChanged, this, [this] { readControls(); });
    connect(m_localTime, &QCheckBox::toggled, this, [this] { readControls(); });
    for (QRadioButton *button : {m_analog, m_digital, m_hour12, m_hour24, m_celsius, m_fahrenheit})
        connect(button, &QRadioButton::toggled, this, [this](bool on) {
            if (on)
                readControls();
        });

    m_timer = new QTimer(this);
    m_timer->setInterval(1000);
    connect(m_timer, &QTimer::timeout, this, &ClockDialog::redrawPreview);
    m_timer->start();

    readControls();
}

ClockDialog::~ClockDialog() = default;

void ClockDialog::fillCities(int regionId)
{
    struct Entry {
        QString name;
        int id;
    };
    std::vector<Entry> entries;
    for (const City &city : m_cities.cities()) {
        if (regionId == kAllRegions || city.region == regionId)
            entries.push_back({QString::fromStdString(city.name), city.id});
    }
    std::stable_sort(entries.begin(), entries.end(), [](const Entry &a, const Entry &b) {
        return QString::localeAwareCompare(a.name, b.name) < 0;
    });

    const int wanted = m_settings.cityId == kNoCity ? kDefaultCityId : m_settings.cityId;
    const QSignalBlocker blocker(m_city);
    m_city->clear();
    m_city->addItem(QString()); // the empty entry: no city
    int selected = 0;
    for (const Entry &entry : entries) {
        m_city->addItem(entry.name, entry.id);
        if (entry.id == wanted && selected == 0)
            selected = m_city->count() - 1;
    }
    m_city->setCurrentIndex(selected);
}

void ClockDialog::readControls()
{
    const QVariant data = m_city->currentData();
    m_settings.cityId = data.isValid() ? data.toInt() : kNoCity;
    m_settings.useLocalTime = m_localTime->isChecked() ? 1 : 0;
    m_settings.clockView = m_digital->isChecked() ? 1 : 0;
    m_settings.hour24 = m_hour24->isChecked() ? 1 : 0;
    m_settings.degrees = m_fahrenheit->isChecked() ? 1 : 0;

    const bool digital = m_settings.clockView == 1;
    m_hour12->setEnabled(digital);
    m_hour24->setEnabled(digital);
    const bool chooseCity = !m_localTime->isChecked();
    m_regionLabel->setEnabled(chooseCity);
    m_region->setEnabled(chooseCity);
    m_cityLabel->setEnabled(chooseCity);
    m_city->setEnabled(chooseCity);

    m_renderer.apply(m_settings);
    redrawPreview();
}

void ClockDialog::redrawPreview()
{
    using namespace std::chrono;
    const int64_t now = m_nowMs ? m_nowMs()
                                : duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    PkxSurface surface{m_previewFace.bits(), m_previewFace.width(), m_previewFace.height(),
                       static_cast<int>(m_previewFace.bytesPerLine())};
    m_renderer.draw(surface, now);
    m_preview->setPixmap(QPixmap::fromImage(m_previewFace));
}

} // namespace pixkey::clock
