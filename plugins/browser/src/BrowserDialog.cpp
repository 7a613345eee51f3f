#include "BrowserDialog.h"

#include "BrowserResources.h"
#include "CaptureCycle.h"
#include "FaceDrawing.h"
#include "MainThreadPage.h"
#include "PageView.h"
#include "ReloadScale.h"

#include <pixkey/dialogs/CustomSlider.h>

#include <QButtonGroup>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QRadioButton>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

namespace browser {

namespace {

constexpr int kPreviewPeriodMs = 300;

template <class Widget>
Widget *named(Widget *widget, const char *name)
{
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

} // namespace

BrowserDialog::BrowserDialog(const BrowserSettings &settings, QWidget *parent)
    : QDialog(parent), m_settings(settings), m_face(96, 96, QImage::Format_BGR888)
{
    setWindowTitle(QStringLiteral("Browser"));
    setWindowIcon(QIcon(QPixmap::fromImage(bigIcon(16))));
    m_face.fill(Qt::black);

    // Web page.
    auto *web = new QGroupBox(QStringLiteral("Web page"), this);
    m_url = named(new QLineEdit(QString::fromStdString(settings.url), web), "8009");
    m_actions[0] = named(new QRadioButton(QStringLiteral("reload page"), web), "8779");
    m_actions[1] = named(new QRadioButton(QStringLiteral("go to viewing page"), web), "8780");
    m_actions[2] = named(new QRadioButton(QStringLiteral("go to web address"), web), "8781");
    auto *actions = new QButtonGroup(this);
    for (int i = 0; i < 3; ++i)
        actions->addButton(m_actions[i], i);
    m_actions[std::clamp(settings.action, 0, 2)]->setChecked(true);
    m_target = named(new QLineEdit(QString::fromStdString(settings.target), web), "8010");
    auto *webLayout = new QGridLayout(web);
    webLayout->addWidget(new QLabel(QStringLiteral("Show web page"), web), 0, 0);
    webLayout->addWidget(m_url, 0, 1, 1, 2);
    webLayout->addWidget(new QLabel(QStringLiteral("On button press"), web), 1, 0);
    webLayout->addWidget(m_actions[0], 1, 1);
    webLayout->addWidget(m_actions[1], 2, 1);
    webLayout->addWidget(m_actions[2], 3, 1);
    webLayout->addWidget(m_target, 3, 2);
    webLayout->setColumnStretch(2, 1);

    // Preview.
    auto *preview = new QGroupBox(QStringLiteral("Preview"), this);
    m_pageView = named(new PageView(preview), "8020");
    m_pageView->setFixedSize(320, 320);
    m_pageView->setTarget({settings.targetLeft, settings.targetTop, settings.targetSize}, pageSide(settings.width));
    m_keyPreview = named(new QLabel(preview), "8018");
    m_keyPreview->setFixedSize(98, 98);
    m_keyPreview->setStyleSheet(QStringLiteral("border: 1px solid #808080; background: black;"));
    m_pageSize = named(new QSlider(Qt::Horizontal, preview), "8019");
    m_pageSize->setRange(96, 1100);
    m_pageSize->setPageStep(20);
    m_pageSize->setValue(pageSide(settings.width));
    m_pageSize->hide();
    auto *previewLayout = new QGridLayout(preview);
    previewLayout->addWidget(m_pageView, 0, 0, 2, 1);
    previewLayout->addWidget(m_keyPreview, 0, 1, Qt::AlignTop | Qt::AlignHCenter);
    previewLayout->addWidget(m_pageSize, 2, 0, 1, 2);
    previewLayout->setColumnStretch(1, 1);

    // Update.
    auto *updates = new QGroupBox(QStringLiteral("Update"), this);
    m_animation = named(new QCheckBox(QStringLiteral("Allow animation (3 frames per second)"), updates), "8778");
    m_animation->setChecked(settings.animation != 0);
    m_autoscroll = named(new QCheckBox(QStringLiteral("Vertical auto scroll"), updates), "8777");
    m_autoscroll->setChecked(settings.autoscroll != 0);
    m_autoscroll->hide();
    m_reload = named(new pixkey::CustomSlider(updates), "8017");
    m_reload->setOrientation(Qt::Horizontal);
    m_reload->setRange(kReloadSliderMin, kReloadSliderMax);
    m_reload->setTickInterval(17);
    m_reload->setPageStep(20);
    m_reload->setTickLabels({QStringLiteral("1 min"), QStringLiteral("10 min"), QStringLiteral("30 min"),
                             QStringLiteral("1 hr"), QStringLiteral("8 hrs"), QStringLiteral("1 day")});
    m_reload->setValue(reloadPosition(settings.reloadPeriod));
    m_interval = named(new QLineEdit(updates), "8021");
    m_interval->setReadOnly(true);
    m_interval->setFixedWidth(70);
    m_interval->hide();
    auto *info = new QLabel(updates);
    info->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(24, 24));
    auto *updateLayout = new QGridLayout(updates);
    updateLayout->addWidget(m_animation, 0, 0, 1, 3);
    updateLayout->addWidget(m_autoscroll, 1, 0, 1, 3);
    updateLayout->addWidget(new QLabel(QStringLiteral("Reload page every"), updates), 2, 0);
    updateLayout->addWidget(m_reload, 2, 1);
    updateLayout->addWidget(m_interval, 2, 2);
    auto *infoRow = new QHBoxLayout;
    infoRow->addWidget(info);
    infoRow->addWidget(new QLabel(QStringLiteral("Page updates automatically on button press"), updates), 1);
    updateLayout->addLayout(infoRow, 3, 0, 1, 3);
    updateLayout->setColumnStretch(1, 1);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(web);
    layout->addWidget(preview);
    layout->addWidget(updates);
    layout->addWidget(buttons);

    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_url, &QLineEdit::editingFinished, this, &BrowserDialog::applyControls);
    connect(m_animation, &QCheckBox::clicked, this, &BrowserDialog::applyControls);
    connect(m_autoscroll, &QCheckBox::clicked, this, &BrowserDialog::applyControls);
    connect(m_pageSize, &QSlider::valueChanged, this, &BrowserDialog::pageSizeMoved);
    connect(m_pageView, &PageView::targetChanged, this, &BrowserDialog::targetMoved);
    connect(m_reload, &QSlider::valueChanged, this, [this] {
        m_reloadMoved = true;
        showInterval();
    });
    connect(m_reload, &pixkey::CustomSlider::leftButtonPressed, this, [this] {
        showInterval();
        m_interval->show();
    });
    connect(m_reload, &pixkey::CustomSlider::leftButtonReleased, m_interval, &QWidget::hide);

    // The dialog's own page, navigated at once.
    m_page = std::make_unique<MainThreadPage>();
    m_cycle = std::make_unique<CaptureCycle>(*m_page);
    m_cycle->activate(m_settings);
    m_timer = new QTimer(this);
    m_timer->setInterval(kPreviewPeriodMs);
    connect(m_timer, &QTimer::timeout, this, &BrowserDialog::tick);
    m_timer->start();
    tick();
}

BrowserDialog::~BrowserDialog()
{
    m_timer->stop();
    m_cycle.reset();
    m_page.reset();
}

void BrowserDialog::showInterval()
{
    m_interval->setText(intervalText(reloadSeconds(m_reload->value())));
}

BrowserSettings BrowserDialog::chosenSettings() const
{
    BrowserSettings result = m_settings;
    result.url = m_url->text().toStdString();
    result.target = m_target->text().toStdString();
    for (int i = 0; i < 3; ++i)
        if (m_actions[i]->isChecked())
            result.action = i;
    result.animation = m_animation->isChecked() ? 1 : 0;
    result.autoscroll = m_autoscroll->isChecked() ? 1 : 0;
    // A period the slider cannot show exactly (the default 420 s among them) is kept unless the
    // user moved the slider.
    if (m_reloadMoved)
        result.reloadPeriod = reloadSeconds(m_reload->value());
    const PageTarget target = m_pageView->target();
    result.targetLeft = target.left;
    result.targetTop = target.top;
    result.targetSize = target.size;
    return result;
}

void BrowserDialog::applyControls()
{
    const BrowserSettings chosen = chosenSettings();
    const bool navigate = chosen.url != m_settings.url;
    m_settings = chosen;
    m_cycle->apply(m_settings, navigate);
}

void BrowserDialog::pageSizeMoved(int side)
{
    m_settings.width = side;
    m_settings.height = side;
    m_pageView->setPageWidth(side); // emits targetChanged, which applies the new square
    m_cycle->apply(chosenSettings(), false);
}

void BrowserDialog::targetMoved()
{
    const PageTarget target = m_pageView->target();
    m_settings.targetLeft = target.left;
    m_settings.targetTop = target.top;
    m_settings.targetSize = target.size;
    m_cycle->update(m_settings);
    redrawKeyPreview();
}

void BrowserDialog::redrawKeyPreview()
{
    if (m_cycle->lastFace() == CaptureCycle::Face::Page)
        drawPageSquare(m_face, m_cycle->lastPage(), m_settings.targetLeft, m_settings.targetTop, m_settings.targetSize);
    m_keyPreview->setPixmap(QPixmap::fromImage(m_face));
}

void BrowserDialog::tick()
{
    m_cycle->paint(m_face);
    redrawKeyPreview();
    m_pageView->setPage(m_cycle->lastPage());
}

} // namespace browser
