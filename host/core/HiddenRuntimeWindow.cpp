#include "HiddenRuntimeWindow.h"

#include "AppCore.h"

namespace pixkey {

void HiddenRuntimeWindow::addPluginFile(const QString &path)
{
    m_core.InstallPluginFile(path);
}

} // namespace pixkey
