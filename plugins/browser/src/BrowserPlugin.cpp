#include "BrowserPlugin.h"

#include "BrowserDialog.h"
#include "BrowserResources.h"
#include "CaptureCycle.h"
#include "EngineLoader.h"
#include "MainThreadPage.h"

#include <QApplication>
#include <QThread>
#include <pixkey/utility/PkxImages.h>

namespace browser {

namespace {

const char kIdentifier[] = "prt.browser.mfc5";
const char kName[] = "Browser";
const char kDescription[] = "MSIE on button.";
const char kAuthor[] = "Copyright (C) 2026 the Pixkey mini developers";
const char kEmail[] = "support@pixkey.example";
const char kWeb[] = "https://pixkey.example/";

} // namespace

BrowserPlugin::BrowserPlugin(const PkxModule *module, int function) : m_keyInstance(function > 0)
{
    if (module && module->path)
        EngineLoader::setPluginFile(module->path);
}

BrowserPlugin::~BrowserPlugin()
{
    // The cycle goes first: it refers to the page, whose renderer is handed to the main thread.
    m_cycle.reset();
    m_page.reset();
}

BrowserSettings BrowserPlugin::settings() const
{
    std::lock_guard lock(m_lock);
    return m_settings;
}

void BrowserPlugin::syncSettings()
{
    BrowserSettings settings;
    bool apply = false;
    {
        std::lock_guard lock(m_lock);
        settings = m_settings;
        apply = m_applyPending;
        m_applyPending = false;
    }
    if (apply)
        m_cycle->apply(settings, true);
    else if (!(settings == m_cycle->settings()))
        m_cycle->update(settings);
}

int BrowserPlugin::Paint(PkxSurface &surface)
{
    if (!m_cycle || !surface.bits)
        return 0;
    syncSettings();
    QImage face(surface.bits, surface.width, surface.height, surface.stride, QImage::Format_BGR888);
    return m_cycle->paint(face);
}

void BrowserPlugin::OnKeyDown()
{
    if (!m_cycle)
        return;
    syncSettings();
    m_cycle->keyDown();
}

int BrowserPlugin::OnEvent(int code)
{
    if (code == PKX_EVENT_ACTIVATE && m_keyInstance) {
        if (!m_cycle) {
            m_page = std::make_unique<MainThreadPage>();
            m_cycle = std::make_unique<CaptureCycle>(*m_page);
        }
        BrowserSettings settings;
        {
            std::lock_guard lock(m_lock);
            settings = m_settings;
            m_applyPending = false;
        }
        m_cycle->activate(settings);
    } else if (code == PKX_EVENT_DEACTIVATE && m_cycle) {
        m_cycle->deactivate();
    }
    return 1;
}

intptr_t BrowserPlugin::GetInfo(int code)
{
    switch (code) {
    case PKX_INFO_IDENTIFIER:
        return reinterpret_cast<intptr_t>(kIdentifier);
    case PKX_INFO_NAME:
        return reinterpret_cast<intptr_t>(kName);
    case PKX_INFO_DESCRIPTION:
        return reinterpret_cast<intptr_t>(kDescription);
    case PKX_INFO_AUTHOR:
        return reinterpret_cast<intptr_t>(kAuthor);
    case PKX_INFO_EMAIL:
        return reinterpret_cast<intptr_t>(kEmail);
    case PKX_INFO_WEB:
        return reinterpret_cast<intptr_t>(kWeb);
    case PKX_INFO_SMALL_ICON:
        return reinterpret_cast<intptr_t>(pixkey::ToPkxImage(bigIcon(16)));
    case PKX_INFO_LARGE_ICON:
        return reinterpret_cast<intptr_t>(pixkey::ToPkxImage(bigIcon(32)));
    case PKX_INFO_PREVIEW:
        return reinterpret_cast<intptr_t>(pixkey::ToPkxImage(previewPicture()));
    case PKX_INFO_HAS_PROPERTIES:
        return 1;
    default:
        return 0;
    }
}

int BrowserPlugin::GetProperty(int index, char *name, char *value)
{
    std::lock_guard lock(m_lock);
    return browser::getProperty(m_settings, index, name, value);
}

int BrowserPlugin::SetProperty(const char *name, const char *value)
{
    std::lock_guard lock(m_lock);
    return browser::setProperty(m_settings, name, value);
}

int BrowserPlugin::ShowProperties(void *parent)
{
    // The dialog needs the host's widget application and its thread.
    auto *application = qobject_cast<QApplication *>(QCoreApplication::instance());
    if (!application || QThread::currentThread() != application->thread())
        return 0;
    BrowserDialog dialog(settings(), static_cast<QWidget *>(parent));
    if (dialog.exec() != QDialog::Accepted)
        return 0;
    std::lock_guard lock(m_lock);
    m_settings = dialog.chosenSettings();
    m_applyPending = true;
    return 1;
}

} // namespace browser
