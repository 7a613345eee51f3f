#include "LayoutInfoPanel.h"

#include "LayoutConfig.h"

#include <QFormLayout>
#include <QLineEdit>

namespace pixkey {

LayoutInfoPanel::LayoutInfoPanel(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(tr("Layout Info"));
    m_name = new QLineEdit(this);
    m_path = new QLineEdit(this);
    m_name->setReadOnly(true);
    m_path->setReadOnly(true);
    m_path->setMinimumWidth(320);
    auto *form = new QFormLayout(this);
    form->addRow(tr("Name:"), m_name);
    form->addRow(tr("Path:"), m_path);
}

void LayoutInfoPanel::showLayout(const LayoutConfig *layout)
{
    m_name->setText(layout ? layout->name() : QString());
    m_path->setText(layout ? layout->path() : QString());
    m_name->setCursorPosition(0);
    m_path->setCursorPosition(0);
    update();
}

QString LayoutInfoPanel::name() const
{
    return m_name->text();
}

QString LayoutInfoPanel::path() const
{
    return m_path->text();
}

} // namespace pixkey
