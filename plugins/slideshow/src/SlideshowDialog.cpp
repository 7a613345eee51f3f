#include "SlideshowDialog.h"

#include "SlideshowResources.h"

#include <QFontMetrics>
#include <QIcon>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>

#include <climits>

namespace slideshow {

SlideshowDialog::SlideshowDialog(QWidget *parent)
    : QDialog(parent),
      m_index(new QLineEdit(this)),
      m_caption(new QLineEdit(this)),
      m_ok(new QPushButton(QStringLiteral("OK"), this)),
      m_cancel(new QPushButton(QStringLiteral("Cancel"), this)),
      m_warn([](QWidget *owner, const QString &text) {
          QMessageBox::warning(owner, QStringLiteral("Slideshow"), text);
      })
{
    setWindowTitle(QStringLiteral("Slideshow"));
    setObjectName(QStringLiteral("dialog%1").arg(kResourceId));
    QIcon icon;
    icon.addPixmap(QPixmap::fromImage(iconPicture(8012, 16)));
    icon.addPixmap(QPixmap::fromImage(iconPicture(8012, 32)));
    setWindowIcon(icon);
    setModal(true);

    auto *indexLabel = new QLabel(QStringLiteral("Index for goto"), this);
    auto *captionLabel = new QLabel(QStringLiteral("Caption for goto"), this);
    indexLabel->setBuddy(m_index);
    captionLabel->setBuddy(m_caption);
    m_index->setObjectName(QStringLiteral("control%1").arg(kIndexFieldId));
    m_caption->setObjectName(QStringLiteral("control%1").arg(kCaptionFieldId));
    m_index->setValidator(new QIntValidator(INT_MIN, INT_MAX, m_index));
    m_caption->setMaxLength(255);
    m_ok->setDefault(true);

    indexLabel->setGeometry(dialogRect(9, 9, 52, 9));
    m_index->setGeometry(dialogRect(65, 7, 123, 12));
    captionLabel->setGeometry(dialogRect(7, 28, 56, 10));
    m_caption->setGeometry(dialogRect(66, 27, 122, 12));
    m_ok->setGeometry(dialogRect(79, 105, 50, 15));
    m_cancel->setGeometry(dialogRect(138, 105, 50, 15));
    setFixedSize(dialogRect(0, 0, 195, 127).size());

    connect(m_ok, &QPushButton::clicked, this, &SlideshowDialog::accept);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    setValues(7, QString());
}

QRect SlideshowDialog::dialogRect(int x, int y, int w, int h) const
{
    const QFontMetrics metrics(font());
    const int baseX = std::max(1, metrics.averageCharWidth());
    const int baseY = std::max(1, metrics.height());
    return QRect(x * baseX / 4, y * baseY / 8, w * baseX / 4, h * baseY / 8);
}

void SlideshowDialog::setValues(int gotoIndex, const QString &caption)
{
    m_index->setText(QString::number(gotoIndex));
    m_caption->setText(caption);
}

int SlideshowDialog::gotoIndex() const
{
    return m_index->text().toInt();
}

QString SlideshowDialog::caption() const
{
    return m_caption->text();
}

void SlideshowDialog::accept()
{
    bool ok = false;
    m_index->text().toInt(&ok);
    if (!ok) {
        m_warn(this, QStringLiteral("Please enter an integer."));
        m_index->setFocus();
        m_index->selectAll();
        return;
    }
    QDialog::accept();
}

} // namespace slideshow
