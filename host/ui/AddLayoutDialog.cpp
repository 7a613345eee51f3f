#include "AddLayoutDialog.h"

#include "CConfigComboBox.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>

namespace pixkey {

AddLayoutDialog::AddLayoutDialog(const std::vector<DesktopApplications::Row> &applications, QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(tr("Add Layout"));
    m_manual = new QRadioButton(tr("Layout for manual selection"), this);
    m_application = new QRadioButton(tr("Layout for specified application"), this);
    m_nameLabel = new QLabel(tr("Name:"), this);
    m_name = new QLineEdit(tr("Untitled"), this);
    m_nameLabel->setBuddy(m_name);
    m_list = new QTreeWidget(this);
    m_list->setColumnCount(2);
    m_list->setHeaderHidden(true);
    m_list->setRootIsDecorated(false);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setIconSize(QSize(16, 16));
    m_list->setColumnHidden(1, true);
    m_list->setUniformRowHeights(true);
    m_list->setMinimumSize(340, 240);
    m_list->setTextElideMode(Qt::ElideRight);
    QPalette chosen = m_list->palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        chosen.setColor(group, QPalette::Highlight, QColor(252, 215, 151));
        chosen.setColor(group, QPalette::HighlightedText, chosen.color(QPalette::ButtonText));
    }
    m_list->setPalette(chosen);
    m_browseButton = new QPushButton(tr("Browse..."), this);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_ok = buttons->button(QDialogButtonBox::Ok);

    auto *grid = new QGridLayout(this);
    grid->addWidget(m_manual, 0, 0, 1, 3);
    grid->addWidget(m_nameLabel, 1, 0);
    grid->addWidget(m_name, 1, 1, 1, 2);
    grid->setRowMinimumHeight(2, 8);
    grid->addWidget(m_application, 3, 0, 1, 3);
    grid->addWidget(m_list, 4, 0, 1, 3);
    grid->addWidget(m_browseButton, 5, 2, Qt::AlignRight);
    grid->addWidget(buttons, 6, 0, 1, 3);
    grid->setColumnStretch(1, 1);

    for (const DesktopApplications::Row &row : applications)
        addRow(row, false);

    connect(m_manual, &QRadioButton::toggled, this, [this](bool on) { if (on) chooseManual(); });
    connect(m_application, &QRadioButton::toggled, this, [this](bool on) { if (on) chooseApplication(); });
    connect(m_name, &QLineEdit::textChanged, this, &AddLayoutDialog::updateState);
    connect(m_list, &QTreeWidget::itemSelectionChanged, this, &AddLayoutDialog::updateState);
    connect(m_list, &QTreeWidget::itemDoubleClicked, this, [this] { if (m_ok->isEnabled()) accept(); });
    connect(m_browseButton, &QPushButton::clicked, this, &AddLayoutDialog::browse);
    connect(buttons, &QDialogButtonBox::accepted, this, &AddLayoutDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &AddLayoutDialog::reject);

    m_application->setChecked(true);
    chooseApplication();
}

int AddLayoutDialog::rowCount() const
{
    return m_list->topLevelItemCount();
}

int AddLayoutDialog::addRow(const DesktopApplications::Row &row, bool forced)
{
    const QFileInfo file(row.path);
    if (!forced && !(file.isFile() && file.isExecutable()))
        return -1;
    for (int i = 0; i < rowCount(); ++i)
        if (m_list->topLevelItem(i)->text(1) == row.path)
            return i;
    const QString name = row.name.isEmpty() ? file.fileName() : row.name;
    for (int i = 0; i < rowCount(); ++i)
        if (m_list->topLevelItem(i)->text(0).compare(name, Qt::CaseInsensitive) == 0)
            return i;
    int at = rowCount();
    for (int i = 0; i < rowCount(); ++i)
        if (name.compare(m_list->topLevelItem(i)->text(0), Qt::CaseInsensitive) < 0) {
            at = i;
            break;
        }
    auto *item = new QTreeWidgetItem({name, row.path});
    item->setIcon(0, CConfigComboBox::applicationIcon(row.icon));
    item->setToolTip(0, row.path);
    m_list->insertTopLevelItem(at, item);
    return at;
}

void AddLayoutDialog::browse()
{
    const QString file = m_browse ? m_browse()
                                  : QFileDialog::getOpenFileName(this, tr("Browse"), QStringLiteral("/usr/bin"),
                                                                 tr("Programs (*)"));
    if (file.isEmpty())
        return;
    const int index = addRow({QFileInfo(file).fileName(), QFileInfo(file).absoluteFilePath(), QString()}, true);
    if (index < 0)
        return;
    QTreeWidgetItem *item = m_list->topLevelItem(index);
    m_list->setCurrentItem(item);
    item->setSelected(true);
    m_list->scrollToItem(item);
    updateState();
}

void AddLayoutDialog::chooseManual()
{
    if (!m_manual->isChecked())
        m_manual->setChecked(true);
    updateState();
}

void AddLayoutDialog::chooseApplication()
{
    if (!m_application->isChecked())
        m_application->setChecked(true);
    updateState();
}

void AddLayoutDialog::updateState()
{
    const bool manual = m_manual->isChecked();
    m_name->setEnabled(manual);
    m_nameLabel->setEnabled(manual);
    m_list->setEnabled(!manual);
    m_browseButton->setEnabled(!manual);
    m_ok->setEnabled(manual ? !m_name->text().isEmpty() : !m_list->selectedItems().isEmpty());
}

void AddLayoutDialog::accept()
{
    m_result = Result();
    if (m_list->isEnabled()) {
        const QList<QTreeWidgetItem *> selected = m_list->selectedItems();
        if (selected.isEmpty())
            return;
        m_result.applicationName = selected.first()->text(0);
        m_result.applicationPath = selected.first()->text(1);
    }
    m_result.name = m_name->text();
    QDialog::accept();
}

} // namespace pixkey
