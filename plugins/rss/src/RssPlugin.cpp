#include "RssPlugin.hpp"

#include "RssDialog.hpp"
#include "RssPictures.hpp"

#include <pixkey/utility/DesktopOpener.h>

#include <QApplication>
#include <QWidget>

namespace pixkey::rss {

RssSettings settingsAfter(const RssSettings &current, const RssSettings &chosen)
{
    RssSettings result = chosen;
    if (chosen.url != current.url)
        result.rssUrl.clear();
    return result;
}

RssPlugin::RssPlugin(const PkxModule *, int) {}

RssPlugin::RssPlugin(Environment environment) : m_env(std::move(environment)) {}

RssPlugin::~RssPlugin()
{
    std::unique_ptr<FeedRunner> runner;
    {
        std::lock_guard guard(m_runnerLock);
        runner = std::move(m_runner);
    }
    // Destroying the runner stops its worker (a bounded wait).
}

RssSettings RssPlugin::settings() const
{
    std::lock_guard guard(m_box->lock);
    return m_box->settings;
}

FeedRunner *RssPlugin::runner() const
{
    std::lock_guard guard(m_runnerLock);
    return m_runner.get();
}

int RssPlugin::Paint(PkxSurface &surface)
{
    if (!surface.bits || surface.width != PKX_FACE_SIZE || surface.height != PKX_FACE_SIZE ||
        surface.stride < PKX_FACE_STRIDE)
        return 0;
    // Only this thread creates and destroys the runner, so reading the pointer needs no lock here.
    FeedRunner *runner = m_runner.get();
    return runner && runner->takeFrame(surface) ? 1 : 0;
}

void RssPlugin::OnKeyDown()
{
    FeedRunner *runner = m_runner.get();
    if (!runner)
        return;
    // A feed is written by strangers: only web links are handed to the desktop.
    const std::string link = runner->shownLink();
    if (!IsWebAddress(link))
        return;
    if (m_env.openLink)
        m_env.openLink(link);
    else
        OpenWithDesktop(link);
}

intptr_t RssPlugin::GetInfo(int code)
{
    switch (code) {
    case PKX_INFO_IDENTIFIER:
        return reinterpret_cast<intptr_t>("prt.rss.mfc5");
    case PKX_INFO_NAME:
        return reinterpret_cast<intptr_t>("RSS");
    case PKX_INFO_AUTHOR:
        return reinterpret_cast<intptr_t>("Copyright (C) Vostrel and the Pixkey mini contributors");
    case PKX_INFO_EMAIL:
        return reinterpret_cast<intptr_t>("support@pixkey.invalid");
    case PKX_INFO_WEB:
        return reinterpret_cast<intptr_t>("https://pixkey.invalid/plugins/rss");
    case PKX_INFO_PAINT_PERIOD:
        return 500;
    case PKX_INFO_SMALL_ICON:
        return reinterpret_cast<intptr_t>(iconImage(16));
    case PKX_INFO_LARGE_ICON:
        return reinterpret_cast<intptr_t>(iconImage(32));
    case PKX_INFO_PREVIEW:
        return reinterpret_cast<intptr_t>(previewImage());
    case PKX_INFO_HAS_PROPERTIES:
        return 1;
    default:
        return 0;
    }
}

int RssPlugin::GetProperty(int index, char *name, char *value)
{
    const int i = index - PKX_PROPERTY_INSTANCE_BASE;
    if (i < 0 || i >= kPropertyCount)
        return 0;
    const RssSettings current = settings();
    if (name)
        pkx::copyProperty(name, kPropertyNames[i]);
    if (value)
        pkx::copyProperty(value, propertyValue(current, i).c_str());
    return 1;
}

int RssPlugin::SetProperty(const char *name, const char *value)
{
    RssSettings changed;
    {
        std::lock_guard guard(m_box->lock);
        if (!rss::setProperty(m_box->settings, name, value))
            return 0;
        changed = m_box->settings;
    }
    // A value set while the key runs shows at once.
    std::lock_guard guard(m_runnerLock);
    if (m_runner)
        m_runner->apply(changed);
    return 1;
}

void RssPlugin::applySettings(const RssSettings &chosen)
{
    RssSettings applied;
    {
        std::lock_guard guard(m_box->lock);
        applied = settingsAfter(m_box->settings, chosen);
        m_box->settings = applied;
    }
    std::lock_guard guard(m_runnerLock);
    if (m_runner)
        m_runner->apply(applied);
}

int RssPlugin::ShowProperties(void *parent)
{
    // A dialog needs the host's application object; without one there is nothing to show.
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
        return 0;
    RssDialog dialog(static_cast<QWidget *>(parent), settings(), m_env.limits);
    if (dialog.exec() != QDialog::Accepted)
        return 0;
    applySettings(dialog.chosenSettings());
    return 1;
}

int RssPlugin::OnEvent(int code)
{
    if (code == PKX_EVENT_ACTIVATE) {
        std::lock_guard guard(m_runnerLock);
        if (m_runner)
            return 1;
        FeedRunner::Options options;
        options.cycle = m_env.cycle;
        options.limits = m_env.limits;
        options.now = m_env.now;
        // The worker writes back the feed it found for the address it was given, unless the
        // user chose another address meanwhile.
        options.onSettings = [box = m_box](const RssSettings &found) {
            std::lock_guard boxGuard(box->lock);
            if (box->settings.url == found.url)
                box->settings.rssUrl = found.rssUrl;
        };
        m_runner = std::make_unique<FeedRunner>(settings(), std::move(options));
    } else if (code == PKX_EVENT_DEACTIVATE) {
        std::unique_ptr<FeedRunner> old;
        {
            std::lock_guard guard(m_runnerLock);
            old = std::move(m_runner);
        }
        // Items and pictures go with the runner's state.
    }
    return 1;
}

} // namespace pixkey::rss
