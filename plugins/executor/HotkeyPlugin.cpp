#include "HotkeyPlugin.h"

#include "ExecutorResources.h"
#include "HotkeyDialog.h"

#include <QApplication>
#include <QString>
#include <QThread>

#include <cstring>
#include <pixkey/utility/PkxImages.h>

namespace executor {

namespace {

const char kIdentifier[] = "bsp.hotkey.mfc5";
const char kName[] = "Hotkey";
const char kDescription[] = "Sends specified hotkey.";
const char kAuthor[] = "Copyright (C) 2026 the Pixkey mini developers";
const char kEmail[] = "support@pixkey.example";
const char kWeb[] = "https://pixkey.example/";

// The default shortcut, Ctrl+C.
constexpr std::uint16_t kDefaultKey = 0x43;
constexpr std::uint16_t kDefaultModifiers = pixkey::CHotkey::Ctrl;

} // namespace

HotkeyPlugin::HotkeyPlugin() : m_text("Ctrl+C"), m_hotkey(kDefaultModifiers, kDefaultKey) {}

void HotkeyPlugin::updateFace(std::unique_lock<std::mutex> &lock)
{
    m_face.load();
    if (!m_face.holdsPictureFor(m_imagePath)) {
        const std::string path = m_imagePath;
        lock.unlock();
        std::unique_ptr<pixkey::CFileImage> picture = FaceRenderer::loadPicture(path);
        lock.lock();
        // The path may have changed meanwhile; the picture is kept as the one of `path`, and the
        // next update loads the new one.
        m_face.setPicture(path, std::move(picture));
    }
    m_face.layoutText(m_text);
}

int HotkeyPlugin::Paint(PkxSurface &surface)
{
    std::unique_lock lock(m_lock);
    if (!m_dirty)
        return 0;
    // Cleared before the work, so a change that lands while a picture loads marks the face again.
    m_dirty = false;
    updateFace(lock);
    m_face.draw(surface);
    return 1;
}

void HotkeyPlugin::OnKeyDown()
{
    pixkey::CHotkey hotkey;
    {
        std::lock_guard lock(m_lock);
        hotkey = m_hotkey;
    }
    hotkey.Invoke();
}

intptr_t HotkeyPlugin::GetInfo(int code)
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
        return reinterpret_cast<intptr_t>(pixkey::ToPkxImage(defaultImage()));
    case PKX_INFO_HAS_PROPERTIES:
        return 1;
    default:
        return 0;
    }
}

int HotkeyPlugin::GetProperty(int index, char *name, char *value)
{
    if (!name || !value)
        return 0;
    std::lock_guard lock(m_lock);
    switch (index) {
    case PKX_PROPERTY_INSTANCE_BASE:
        pkx::copyProperty(name, "ImagePath");
        pkx::copyProperty(value, m_imagePath);
        return 1;
    case PKX_PROPERTY_INSTANCE_BASE + 1:
        pkx::copyProperty(name, "Text");
        pkx::copyProperty(value, m_text);
        return 1;
    case PKX_PROPERTY_INSTANCE_BASE + 2:
        pkx::copyProperty(name, "Hotkey");
        pkx::copyProperty(value, m_hotkey.ToString());
        return 1;
    default:
        return 0;
    }
}

int HotkeyPlugin::SetProperty(const char *name, const char *value)
{
    if (!name)
        return 0;
    std::unique_lock lock(m_lock);
    const std::string text = value ? value : "";
    if (std::strcmp(name, "ImagePath") == 0) {
        m_imagePath = text;
        return 1;
    }
    if (std::strcmp(name, "Text") == 0) {
        m_text = text;
        return 1;
    }
    if (std::strcmp(name, "Hotkey") == 0) {
        // A stored value that does not parse leaves the shortcut as it was.
        m_hotkey.Parse(text.c_str());
        return 1;
    }
    updateFace(lock);
    return 0;
}

int HotkeyPlugin::ShowProperties(void *parent)
{
    // The dialog needs the host's widget application and its thread.
    auto *app = qobject_cast<QApplication *>(QCoreApplication::instance());
    if (!app || QThread::currentThread() != app->thread())
        return 0;

    HotkeyDialog dialog(static_cast<QWidget *>(parent));
    {
        std::lock_guard lock(m_lock);
        dialog.setValues(QString::fromStdString(m_imagePath), QString::fromStdString(m_text), m_hotkey);
    }
    if (dialog.exec() != QDialog::Accepted)
        return 0;

    std::lock_guard lock(m_lock);
    m_face.reset();
    m_imagePath = dialog.imagePath().toStdString();
    m_text = dialog.text().toStdString();
    m_hotkey = dialog.hotkey();
    m_dirty = true;
    return 1;
}

int HotkeyPlugin::OnEvent(int code)
{
    if (code == PKX_EVENT_ACTIVATE) {
        std::lock_guard lock(m_lock);
        m_dirty = true;
        m_face.load();
    }
    return 1;
}

} // namespace executor
