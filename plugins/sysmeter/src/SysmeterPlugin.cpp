#include "SysmeterPlugin.h"

#include "SysmeterResources.h"
#include "TaskManager.h"
#include <pixkey/utility/PkxImages.h>

namespace sysmeter {

namespace {

const char kIdentifier[] = "bsp.sysmon.mfc5";
const char kLibraryName[] = "System Monitor";
const char kMemoryName[] = "Free memory";
const char kProcessorName[] = "CPU usage";
const char kAuthor[] = "Copyright (C) 2026 the Pixkey mini developers";
const char kEmail[] = "support@pixkey.example";
const char kWeb[] = "https://pixkey.example/";

constexpr int kFunctions = 2;
constexpr int kPaintPeriodMs = 2000;

intptr_t text(const char *value)
{
    return reinterpret_cast<intptr_t>(value);
}

} // namespace

SysmeterPlugin::SysmeterPlugin(int kind, std::string procRoot, SamplerOptions options)
    : m_kind(kind), m_procRoot(std::move(procRoot)), m_options(std::move(options))
{
}

int SysmeterPlugin::Paint(PkxSurface &surface)
{
    SystemMonitor::drawStripCell(surface, m_strip, m_kind);
    if (!m_monitor)
        return 1;
    if (m_kind == Memory)
        m_monitor->paintMemory(surface);
    else if (m_kind == Processor)
        m_monitor->paintProcessor(surface);
    return 1;
}

void SysmeterPlugin::OnKeyDown()
{
    openSystemMonitor();
}

intptr_t SysmeterPlugin::GetInfo(int code)
{
    switch (code) {
    case PKX_INFO_IDENTIFIER:
        return text(kIdentifier);
    case PKX_INFO_NAME:
        return text(m_kind == Memory ? kMemoryName : m_kind == Processor ? kProcessorName : kLibraryName);
    case PKX_INFO_AUTHOR:
        return text(kAuthor);
    case PKX_INFO_EMAIL:
        return text(kEmail);
    case PKX_INFO_WEB:
        return text(kWeb);
    case PKX_INFO_FUNCTION_COUNT:
        return kFunctions;
    case PKX_INFO_PAINT_PERIOD:
        return kPaintPeriodMs;
    case PKX_INFO_DEFAULT_FUNCTION:
        return kFunctions;
    case PKX_INFO_SMALL_ICON:
    case PKX_INFO_LARGE_ICON:
        return reinterpret_cast<intptr_t>(
            pixkey::ToPkxImage(iconImage(m_kind == Processor ? 2 : 1, code == PKX_INFO_SMALL_ICON ? 16 : 32)));
    case PKX_INFO_PREVIEW:
        return reinterpret_cast<intptr_t>(pixkey::ToPkxImage(previewImage(m_kind == Processor ? 8012 : 8013)));
    default:
        return 0;
    }
}

int SysmeterPlugin::OnEvent(int code)
{
    if (code == PKX_EVENT_ACTIVATE) {
        m_strip = stripImage();
        m_monitor = std::make_unique<SystemMonitor>(m_procRoot, m_options);
    } else if (code == PKX_EVENT_DEACTIVATE) {
        m_monitor.reset();
        m_strip = QImage();
    }
    return 1;
}

} // namespace sysmeter
