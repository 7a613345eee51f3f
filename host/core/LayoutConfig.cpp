#include "LayoutConfig.h"

#include "ApplicationIcon.h"
#include "LayoutKind.h"

namespace pixkey {

LayoutConfig::LayoutConfig(QString name, QString path)
    : m_name(name.isEmpty() ? QStringLiteral("Undefined") : std::move(name)), m_path(std::move(path))
{
    if (!m_path.isEmpty())
        m_icon = ApplicationIcon::find(m_path);
}

const InstanceRef &LayoutConfig::slot(int row, int key) const
{
    static const InstanceRef empty;
    return isSlot(row, key) ? m_slots[std::size_t(row * ModifierRow::kKeys + key)] : empty;
}

InstanceRef &LayoutConfig::slotRef(int row, int key)
{
    return m_slots[std::size_t(row * ModifierRow::kKeys + key)];
}

QString LayoutConfig::applicationFileName() const
{
    const qsizetype cut = std::max(m_path.lastIndexOf(QLatin1Char('\\')), m_path.lastIndexOf(QLatin1Char('/')));
    return m_path.mid(cut + 1);
}

LayoutKind layoutKind(const LayoutConfig *layout)
{
    if (!layout)
        return LayoutKind::Missing;
    if (!layout->path().isEmpty())
        return LayoutKind::Application;
    if (layout->isNamed(QStringLiteral("Global")))
        return LayoutKind::Global;
    if (layout->isNamed(QStringLiteral("Idle")))
        return LayoutKind::Idle;
    return LayoutKind::Manual;
}

bool layoutListsBefore(const LayoutConfig *a, const LayoutConfig *b)
{
    const LayoutKind ka = layoutKind(a), kb = layoutKind(b);
    if (ka != kb)
        return ka < kb;
    if (!a || !b)
        return false;
    return a->name().compare(b->name(), Qt::CaseInsensitive) < 0;
}

} // namespace pixkey
