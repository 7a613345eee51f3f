#include "SlideshowPlugin.h"

#include "SlideshowDialog.h"
#include "SlideshowResources.h"

#include <QApplication>
#include <QThread>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include <unistd.h>
#include <pixkey/utility/PkxImages.h>

namespace slideshow {

namespace {

const char kIdentifier[] = "prt.sld.mfc5";
const char kDescription[] = "Slideshow slide show controls.";
const char kAuthor[] = "Copyright (C) 2026 the Pixkey mini developers";
const char kEmail[] = "support@pixkey.example";
const char kWeb[] = "https://pixkey.example/";
const char *const kNames[kKindCount] = {"Slideshow", "Previous slide", "Next slide", "Next nearest", "Goto"};

// `value` cut to what a property buffer holds, at a character boundary.
void copyText(std::string &text, const char *value)
{
    if (!value)
        return;
    const std::string_view given(value, strnlen(value, PKX_PROPERTY_TEXT_SIZE));
    text.assign(given.substr(0, pkx::utf8PrefixLength(given, PKX_PROPERTY_TEXT_SIZE - 1)));
}

// A decimal value as atoi reads it (leading blanks, a sign, digits; 0 for anything else), kept
// within the range of an int instead of overflowing.
int readIndex(const char *value)
{
    if (!value)
        return 0;
    const long long parsed = std::strtoll(value, nullptr, 10);
    return static_cast<int>(std::clamp<long long>(parsed, INT_MIN, INT_MAX));
}

// A folder of this key's own for its thumbnail: the office writes there as the user, so the file
// must not lie where another user could have put a link first.
std::string makeThumbnailDir()
{
    std::error_code error;
    std::filesystem::path base = std::filesystem::temp_directory_path(error);
    if (error)
        base = "/tmp";
    std::string pattern = (base / "pixkey-slideshow-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        return {};
    return pattern;
}

} // namespace

SlideshowPlugin::SlideshowPlugin(int function, MonitorSource monitors)
    : m_kind(clampKind(function)), m_monitors(std::move(monitors)), m_thumbnailDir(makeThumbnailDir())
{
    char name[64];
    std::snprintf(name, sizeof name, "prt%ld%lx.png", static_cast<long>(getpid()),
                  static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(this)));
    if (!m_thumbnailDir.empty())
        m_thumbnailFile = m_thumbnailDir + "/" + name;
}

SlideshowPlugin::~SlideshowPlugin()
{
    std::shared_ptr<ImpressMonitor> monitor;
    {
        std::lock_guard lock(m_lock);
        if (m_monitor && m_subscription)
            m_monitor->unsubscribe(m_subscription);
        monitor = std::move(m_monitor);
    }
    // The last key stops the monitor here, which joins its thread; the thread never waits for
    // anyone but the helper, which stopping breaks off.
    monitor.reset();
    if (!m_thumbnailDir.empty()) {
        std::remove(m_thumbnailFile.c_str());
        rmdir(m_thumbnailDir.c_str());
    }
}

ShowState SlideshowPlugin::shown()
{
    std::lock_guard lock(m_lock);
    return m_shown;
}

ShowState SlideshowPlugin::query(const Snapshot &snapshot, int gotoIndex) const
{
    ShowState state;
    if (!snapshot.program)
        return state;
    const protocol::State &office = snapshot.state;
    state.stage = office.stage;
    if (state.stage >= StageNoShow) {
        state.name = office.name;
        state.count = office.count;
    }
    if (state.stage != StageCurrentSlide)
        return state;
    state.current = office.current;
    const int number = targetNumber(m_kind, state.current, state.count, gotoIndex);
    if (number == 0)
        return state;
    state.targetSlide = SlideIdentity{snapshot.document, office.changes, number};
    if (!state.sameFace(m_shown)) {
        state.targetNumber = number;
        state.thumbnailOk = m_monitor && m_monitor->thumbnail(state.targetSlide, thumbnailSize(office.width, office.height)) ? 1 : 0;
    } else {
        state.targetNumber = m_shown.targetNumber;
    }
    return state;
}

int SlideshowPlugin::Paint(PkxSurface &surface)
{
    std::lock_guard lock(m_lock);
    if (m_firstPaint || !m_painter.loaded()) {
        m_painter.load(m_kind);
        m_painter.drawFace(surface);
        m_firstPaint = false;
        return 1;
    }
    const Snapshot snapshot = m_monitor ? m_monitor->snapshot() : Snapshot{};
    ShowState state = query(snapshot, m_gotoIndex);
    if (state.sameFace(m_shown))
        return 0;

    switch (state.stage) {
    case StageNoProgram:
    case StageNoPresentation:
        m_painter.drawFace(surface);
        state.thumbnailOk = 1;
        break;
    case StageNoShow:
    case StageNoCurrentSlide:
        m_painter.drawFace(surface);
        m_painter.drawLabels(surface, m_kind, state, m_gotoCaption);
        break;
    default:
        if (state.targetSlide.valid()) {
            const ThumbnailSize size = thumbnailSize(snapshot.state.width, snapshot.state.height);
            std::shared_ptr<const QImage> picture =
                state.thumbnailOk ? m_monitor->thumbnail(state.targetSlide, size) : nullptr;
            if (picture)
                m_painter.drawThumbnail(surface, *picture, size);
            else
                m_painter.drawFace(surface); // the labels never stand on another slide's picture
            m_painter.drawLabels(surface, m_kind, state, m_gotoCaption);
        } else {
            if (m_kind + state.current == state.count + 1)
                m_painter.drawTheEnd(surface);
            else
                m_painter.drawFace(surface);
            state.thumbnailOk = 1;
        }
        break;
    }
    m_shown = state;
    return 1;
}

void SlideshowPlugin::OnKeyDown()
{
    std::lock_guard lock(m_lock);
    if (m_monitor && m_monitor->snapshot().program)
        m_monitor->press(m_kind, m_gotoIndex);
}

intptr_t SlideshowPlugin::GetInfo(int code)
{
    const KindPictures pictures = picturesOf(m_kind);
    switch (code) {
    case PKX_INFO_IDENTIFIER:
        return reinterpret_cast<intptr_t>(kIdentifier);
    case PKX_INFO_NAME:
        return reinterpret_cast<intptr_t>(kNames[m_kind]);
    case PKX_INFO_DESCRIPTION:
        return reinterpret_cast<intptr_t>(kDescription);
    case PKX_INFO_AUTHOR:
        return reinterpret_cast<intptr_t>(kAuthor);
    case PKX_INFO_EMAIL:
        return reinterpret_cast<intptr_t>(kEmail);
    case PKX_INFO_WEB:
        return reinterpret_cast<intptr_t>(kWeb);
    case PKX_INFO_FUNCTION_COUNT:
        return 3;
    case PKX_INFO_PAINT_PERIOD:
        return 500;
    case PKX_INFO_DEFAULT_FUNCTION:
        return 2;
    case PKX_INFO_SMALL_ICON:
        return reinterpret_cast<intptr_t>(pixkey::ToPkxImage(iconPicture(pictures.icon, 16)));
    case PKX_INFO_LARGE_ICON:
        return reinterpret_cast<intptr_t>(pixkey::ToPkxImage(iconPicture(pictures.icon, 32)));
    case PKX_INFO_PREVIEW:
        return reinterpret_cast<intptr_t>(pixkey::ToPkxImage(facePicture(pictures.face)));
    case PKX_INFO_HAS_PROPERTIES:
        return 0; // the layout does not keep "Index" and "Caption"
    default:
        return 0;
    }
}

int SlideshowPlugin::GetProperty(int index, char *name, char *value)
{
    if (!name || !value)
        return 0;
    std::lock_guard lock(m_lock);
    switch (index) {
    case PKX_PROPERTY_INSTANCE_BASE:
        pkx::copyProperty(name, "Caption");
        pkx::copyProperty(value, m_gotoCaption);
        return 1;
    case PKX_PROPERTY_INSTANCE_BASE + 1:
        pkx::copyProperty(name, "Index");
        pkx::copyProperty(value, std::to_string(m_gotoIndex));
        return 1;
    default:
        return 0;
    }
}

int SlideshowPlugin::SetProperty(const char *name, const char *value)
{
    if (!name)
        return 0;
    std::lock_guard lock(m_lock);
    if (std::strncmp(name, "Caption", PKX_PROPERTY_TEXT_SIZE) == 0) {
        std::string caption;
        copyText(caption, value);
        if (caption != m_gotoCaption) {
            m_gotoCaption = std::move(caption);
            m_shown.thumbnailOk = 0; // the next Paint draws the new caption
        }
        return 1;
    }
    if (std::strncmp(name, "Index", PKX_PROPERTY_TEXT_SIZE) == 0) {
        const int index = readIndex(value);
        if (index != m_gotoIndex) {
            m_gotoIndex = index;
            m_shown.thumbnailOk = 0;
            if (m_monitor && m_subscription)
                m_monitor->setGotoIndex(m_subscription, index);
        }
        return 1;
    }
    return 0;
}

int SlideshowPlugin::ShowProperties(void *)
{
    // The dialog needs the host's widget application and its thread; it has no owner.
    auto *app = qobject_cast<QApplication *>(QCoreApplication::instance());
    if (!app || QThread::currentThread() != app->thread())
        return 0;

    SlideshowDialog dialog;
    {
        std::lock_guard lock(m_lock);
        dialog.setValues(m_gotoIndex, QString::fromStdString(m_gotoCaption));
    }
    if (dialog.exec() != QDialog::Accepted)
        return 0;

    std::lock_guard lock(m_lock);
    m_gotoIndex = dialog.gotoIndex();
    m_gotoCaption = dialog.caption().toStdString();
    if (m_monitor && m_subscription)
        m_monitor->setGotoIndex(m_subscription, m_gotoIndex);
    m_shown.thumbnailOk = 0;
    return 1;
}

int SlideshowPlugin::OnEvent(int code)
{
    if (code == PKX_EVENT_ACTIVATE) {
        std::shared_ptr<ImpressMonitor> monitor = m_monitors ? m_monitors() : nullptr;
        std::lock_guard lock(m_lock);
        m_painter.load(m_kind);
        m_shown.thumbnailOk = 0;
        m_firstPaint = true;
        if (monitor && !m_subscription) {
            m_monitor = std::move(monitor);
            m_subscription = m_monitor->subscribe(m_kind, m_gotoIndex, m_thumbnailFile);
        }
    } else if (code == PKX_EVENT_DEACTIVATE) {
        std::lock_guard lock(m_lock);
        if (m_monitor && m_subscription)
            m_monitor->unsubscribe(m_subscription);
        m_subscription = 0;
    }
    return 1;
}

} // namespace slideshow
