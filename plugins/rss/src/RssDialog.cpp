#include "RssDialog.hpp"

#include "RssPictures.hpp"
#include "UpdateInterval.hpp"

#include <pixkey/dialogs/CustomSlider.h>

#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QRadioButton>
#include <QTimer>
#include <QVBoxLayout>

namespace pixkey::rss {

namespace {

// Draws the preview face, framed, and asks the dialog for the newest face when it paints.
class PreviewView : public QWidget {
public:
    PreviewView(const QImage *face, std::function<void()> refresh, QWidget *parent)
        : QWidget(parent), m_face(face), m_refresh(std::move(refresh))
    {
        setFixedSize(PKX_FACE_SIZE + 2, PKX_FACE_SIZE + 2);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        m_refresh();
        QPainter painter(this);
        painter.fillRect(rect(), QColor(0x80, 0x80, 0x80));
        painter.drawImage(1, 1, *m_face);
    }

private:
    const QImage *m_face;
    std::function<void()> m_refresh;
};

} // namespace

RssDialog::RssDialog(QWidget *parent, const RssSettings &settings, FeedState::Limits limits)
    : QDialog(parent), m_settings(settings), m_preview(PKX_FACE_SIZE, PKX_FACE_SIZE, QImage::Format_BGR888)
{
    setWindowTitle(QStringLiteral("RSS"));
    setWindowIcon(QIcon(QPixmap::fromImage(iconPicture())));
    m_preview.fill(Qt::black);

    // Show RSS feed: the address and the item.
    auto *feedBox = new QGroupBox(QStringLiteral("Show RSS feed"), this);
    auto *feedGrid = new QGridLayout(feedBox);
    m_url = new QLineEdit(QString::fromStdString(settings.url), feedBox);
    m_url->setMinimumWidth(300);
    feedGrid->addWidget(new QLabel(QStringLiteral("URL"), feedBox), 0, 0);
    feedGrid->addWidget(m_url, 0, 1, 1, 4);
    feedGrid->addWidget(new QLabel(QStringLiteral("Feed item"), feedBox), 1, 0);
    m_items = new QButtonGroup(this);
    const QString names[] = {QStringLiteral("First"), QStringLiteral("Second"), QStringLiteral("Third"),
                             QStringLiteral("SlideShow")};
    for (int i = 0; i < 4; ++i) {
        auto *button = new QRadioButton(names[i], feedBox);
        m_items->addButton(button, i);
        feedGrid->addWidget(button, 1, 1 + i);
    }
    const int checked = settings.slideShow != 0 ? 3 : (settings.item >= 0 && settings.item < 3 ? settings.item : -1);
    if (checked >= 0)
        m_items->button(checked)->setChecked(true);

    // When possible, show: text or picture.
    auto *showBox = new QGroupBox(QStringLiteral("When possible, show"), this);
    auto *showLayout = new QVBoxLayout(showBox);
    m_show = new CustomSlider(showBox);
    m_show->setRange(0, 4);
    m_show->setTickInterval(1);
    m_show->setPageStep(1);
    m_show->setTickLabels({QStringLiteral("Text only"), QStringLiteral("50/50"), QStringLiteral("Image only")});
    m_show->setValue(settings.showType);
    showLayout->addWidget(m_show);

    // Update every ...
    auto *updateBox = new QGroupBox(QStringLiteral("Update"), this);
    auto *updateLayout = new QHBoxLayout(updateBox);
    auto *every = new QLabel(QStringLiteral("every"), updateBox);
    every->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_update = new CustomSlider(updateBox);
    m_update->setRange(1, 100);
    m_update->setTickInterval(17);
    m_update->setPageStep(20);
    m_update->setTickLabels({QStringLiteral("1 min"), QStringLiteral("10 min"), QStringLiteral("30 min"),
                             QStringLiteral("1 hr"), QStringLiteral("8 hrs"), QStringLiteral("1 day")});
    m_update->setMinimumWidth(330);
    m_update->setValue(positionForSeconds(settings.refreshPeriod));
    m_interval = new QLineEdit(updateBox);
    m_interval->setReadOnly(true);
    m_interval->setFocusPolicy(Qt::NoFocus);
    m_interval->setAlignment(Qt::AlignCenter);
    m_interval->setFixedWidth(m_interval->fontMetrics().horizontalAdvance(QStringLiteral("00:00 min")) + 12);
    updateLayout->addWidget(every, 0, Qt::AlignTop);
    updateLayout->addWidget(m_update, 1);
    updateLayout->addWidget(m_interval, 0, Qt::AlignTop);
    // Keep the row's height when the box hides.
    QSizePolicy keep = m_interval->sizePolicy();
    keep.setRetainSizeWhenHidden(true);
    m_interval->setSizePolicy(keep);
    m_interval->hide();
    showInterval();

    // Preview.
    auto *previewBox = new QGroupBox(QStringLiteral("Preview"), this);
    auto *previewLayout = new QVBoxLayout(previewBox);
    m_previewView = new PreviewView(&m_preview, [this] { copyPreview(); }, previewBox);
    previewLayout->addWidget(m_previewView, 0, Qt::AlignHCenter | Qt::AlignTop);
    previewLayout->addStretch(1);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, Qt::Vertical, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *left = new QVBoxLayout;
    left->addWidget(feedBox);
    left->addWidget(showBox);
    left->addWidget(updateBox);
    auto *right = new QVBoxLayout;
    right->addWidget(previewBox, 1);
    right->addWidget(buttons);
    auto *layout = new QHBoxLayout(this);
    layout->addLayout(left, 1);
    layout->addLayout(right);

    // Changes reach the preview at once.
    connect(m_show, &QSlider::valueChanged, this, [this] {
        showInterval();
        handToPreview();
    });
    connect(m_update, &QSlider::valueChanged, this, [this] {
        m_periodMoved = true;
        showInterval();
        handToPreview();
    });
    connect(m_update, &CustomSlider::leftButtonPressed, this, [this] {
        showInterval();
        m_interval->show();
    });
    connect(m_update, &CustomSlider::leftButtonReleased, m_interval, &QWidget::hide);
    connect(m_items, &QButtonGroup::idClicked, this, [this] { handToPreview(); });
    connect(m_url, &QLineEdit::editingFinished, this, [this] { handToPreview(); });

    // The preview's own feed, run by its worker; faces come back as queued calls.
    FeedRunner::Options options;
    options.cycle = std::chrono::milliseconds(300);
    options.limits = limits;
    options.onFrame = [this] { QMetaObject::invokeMethod(this, [this] { refreshPreview(); }, Qt::QueuedConnection); };
    m_runner = std::make_unique<FeedRunner>(chosenSettings(), std::move(options));

    m_previewTimer = new QTimer(this);
    m_previewTimer->setInterval(500);
    connect(m_previewTimer, &QTimer::timeout, this, [this] { refreshPreview(); });
    m_previewTimer->start();
}

RssDialog::~RssDialog()
{
    stopPreview();
}

QRadioButton *RssDialog::itemButton(int index) const
{
    return qobject_cast<QRadioButton *>(m_items->button(index));
}

RssSettings RssDialog::chosenSettings() const
{
    RssSettings result = m_settings;
    result.url = m_url->text().toStdString();
    // An untouched slider keeps the stored period exactly (the slider shows it rounded).
    if (m_periodMoved)
        result.refreshPeriod = secondsForPosition(m_update->value());
    result.showType = m_show->value();
    const int checked = m_items->checkedId();
    result.slideShow = checked == 3 ? 1 : 0;
    if (checked >= 0 && checked < 3)
        result.item = checked;
    return result;
}

void RssDialog::handToPreview()
{
    if (m_runner)
        m_runner->apply(chosenSettings());
}

bool RssDialog::copyPreview()
{
    if (!m_runner)
        return false;
    FeedRunner::Canvas canvas;
    m_runner->copyVisible(canvas);
    const QImage face(canvas.data(), PKX_FACE_SIZE, PKX_FACE_SIZE, PKX_FACE_STRIDE, QImage::Format_BGR888);
    if (face == m_preview)
        return false;
    m_preview = face.copy();
    return true;
}

void RssDialog::refreshPreview()
{
    if (copyPreview())
        m_previewView->update();
}

void RssDialog::showInterval()
{
    m_interval->setText(QString::fromStdString(intervalText(secondsForPosition(m_update->value()))));
}

void RssDialog::stopPreview()
{
    if (m_previewTimer)
        m_previewTimer->stop();
    if (m_runner)
        m_runner->stop(); // at most 500 ms; a download still running ends unattended
}

void RssDialog::done(int result)
{
    stopPreview();
    QDialog::done(result);
}

} // namespace pixkey::rss
