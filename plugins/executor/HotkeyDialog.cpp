#include "HotkeyDialog.h"

#include "ExecutorResources.h"
#include "FacePreview.h"
#include "HotkeyCaptureEdit.h"

#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace executor {

namespace {

QString openImageFile(QWidget *parent, const QString &current)
{
    return QFileDialog::getOpenFileName(parent, QStringLiteral("Open"), current,
                                        QStringLiteral("Images (*.jpeg *.jpg *.gif *.png *.bmp)"));
}

QString displayString(pixkey::CHotkey hotkey)
{
    return QString::fromUtf8(hotkey.DisplayString());
}

} // namespace

HotkeyDialog::HotkeyDialog(QWidget *parent)
    : QDialog(parent),
      m_hotkeyEdit(new HotkeyCaptureEdit),
      m_imagePathEdit(new QLineEdit),
      m_browseButton(new QPushButton(QStringLiteral("Browse..."))),
      m_textEdit(new QLineEdit),
      m_preview(new FacePreview),
      m_okButton(new QPushButton(QStringLiteral("OK"))),
      m_chooseFile(openImageFile)
{
    setWindowTitle(QStringLiteral("Hotkey"));
    QIcon icon;
    icon.addPixmap(QPixmap::fromImage(bigIcon(16)));
    icon.addPixmap(QPixmap::fromImage(bigIcon(32)));
    setWindowIcon(icon);
    setModal(true);

    m_hotkeyEdit->setObjectName(QStringLiteral("hotkey"));
    m_imagePathEdit->setObjectName(QStringLiteral("imagePath"));
    m_textEdit->setObjectName(QStringLiteral("text"));
    m_preview->setObjectName(QStringLiteral("preview"));
    m_hotkeyEdit->setMinimumWidth(120);
    m_textEdit->setMinimumWidth(120);
    m_imagePathEdit->setMinimumWidth(260);
    m_textEdit->setMaxLength(255);
    m_imagePathEdit->setMaxLength(255);

    auto *shortcutBox = new QGroupBox(QStringLiteral("Send keyboard shortcut"));
    auto *shortcutLayout = new QHBoxLayout(shortcutBox);
    auto *hotkeyLabel = new QLabel(QStringLiteral("Hotkey"));
    hotkeyLabel->setBuddy(m_hotkeyEdit);
    shortcutLayout->addWidget(hotkeyLabel);
    shortcutLayout->addWidget(m_hotkeyEdit);
    shortcutLayout->addStretch();

    auto *showBox = new QGroupBox(QStringLiteral("Show"));
    auto *showLayout = new QGridLayout(showBox);
    showLayout->addWidget(new QLabel(QStringLiteral("Image path or URL")), 0, 0, 1, 3);
    showLayout->addWidget(m_imagePathEdit, 1, 0, 1, 2);
    showLayout->addWidget(m_browseButton, 1, 2);
    auto *textLabel = new QLabel(QStringLiteral("Text"));
    textLabel->setBuddy(m_textEdit);
    showLayout->addWidget(textLabel, 2, 0);
    showLayout->addWidget(m_textEdit, 2, 1, Qt::AlignLeft);
    showLayout->setColumnStretch(1, 1);

    auto *previewBox = new QGroupBox(QStringLiteral("Preview"));
    auto *previewLayout = new QVBoxLayout(previewBox);
    previewLayout->addWidget(m_preview);

    auto *left = new QVBoxLayout;
    left->addWidget(shortcutBox);
    left->addWidget(showBox);
    left->addStretch();

    auto *cancelButton = new QPushButton(QStringLiteral("Cancel"));
    m_okButton->setDefault(true);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_okButton);
    buttons->addWidget(cancelButton);

    auto *top = new QHBoxLayout;
    top->addLayout(left, 1);
    top->addWidget(previewBox, 0, Qt::AlignTop);

    auto *root = new QVBoxLayout(this);
    root->addLayout(top);
    root->addLayout(buttons);

    connect(m_okButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_browseButton, &QPushButton::clicked, this, &HotkeyDialog::browse);
    connect(m_hotkeyEdit, &HotkeyCaptureEdit::hotkeyChanged, this, &HotkeyDialog::refresh);
    connect(m_textEdit, &QLineEdit::textChanged, this, &HotkeyDialog::refresh);
    connect(m_imagePathEdit, &QLineEdit::editingFinished, this, &HotkeyDialog::refresh);

    setValues(QString(), QString(), pixkey::CHotkey());
    m_hotkeyEdit->setFocus();
}

void HotkeyDialog::setValues(const QString &imagePath, const QString &text, const pixkey::CHotkey &hotkey)
{
    {
        const QSignalBlocker blockPath(m_imagePathEdit);
        const QSignalBlocker blockText(m_textEdit);
        m_imagePathEdit->setText(imagePath);
        m_textEdit->setText(text);
    }
    m_hotkeyEdit->setHotkey(hotkey);
    m_previousHotkey = hotkey;
    refresh();
}

QString HotkeyDialog::imagePath() const
{
    return m_imagePathEdit->text();
}

QString HotkeyDialog::text() const
{
    return m_textEdit->text();
}

pixkey::CHotkey HotkeyDialog::hotkey() const
{
    return m_hotkeyEdit->hotkey();
}

void HotkeyDialog::refresh()
{
    const pixkey::CHotkey current = m_hotkeyEdit->hotkey();
    const QString path = m_imagePathEdit->text();
    QString text = m_textEdit->text();
    // The text follows the shortcut for as long as it is the shortcut's own readable form.
    if (text == displayString(m_previousHotkey))
        text = displayString(current);
    m_previousHotkey = current;

    m_preview->setFace(path.toStdString(), text.toStdString());
    m_okButton->setEnabled(!displayString(current).isEmpty());

    if (m_textEdit->text() != text) {
        const QSignalBlocker block(m_textEdit);
        m_textEdit->setText(text);
    }
}

void HotkeyDialog::browse()
{
    const QString chosen = m_chooseFile ? m_chooseFile(this, m_imagePathEdit->text()) : QString();
    if (!chosen.isEmpty())
        m_imagePathEdit->setText(chosen);
    refresh();
}

} // namespace executor
