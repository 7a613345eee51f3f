#include "CallsPlugin.h"

#include <pixkey/utility/DesktopOpener.h>

namespace calls {

namespace {
constexpr const char *kPhoneProgram = "baresip";
} // namespace

CallsPlugin::Environment CallsPlugin::systemEnvironment()
{
    Environment env;
    env.findPhone = [] { return pixkey::FindProgram(kPhoneProgram); };
    env.endpoint = [] { return userControlEndpoint(); };
    env.startPhone = [] { return pixkey::StartDetached(kPhoneProgram, {"-d"}); };
    env.link = [](const ControlEndpoint &endpoint) { return PhoneLink::shared(endpoint); };
    env.now = [] { return std::chrono::steady_clock::now(); };
    return env;
}

CallsPlugin::CallsPlugin(Environment environment) : m_env(std::move(environment)) {}

int CallsPlugin::OnEvent(int code)
{
    if (code == PKX_EVENT_ACTIVATE) {
        m_installed = !m_env.findPhone().empty();
        m_link = m_installed ? m_env.link(m_env.endpoint()) : nullptr;
        m_face.loadFont();
        m_drawn = false;
    } else if (code == PKX_EVENT_DEACTIVATE) {
        m_currentCall.reset();
        m_link.reset();
        m_face.release();
    }
    return 1;
}

int CallsPlugin::Paint(PkxSurface &surface)
{
    const PhoneSnapshot phone = m_link ? m_link->snapshot() : PhoneSnapshot{};
    QueryResult result = queryState(m_installed, phone, m_env.now());
    m_currentCall = std::move(result.currentCall);
    // Every field counts, pictures and prompt included: two states with the same texts can still
    // differ in their pictures (one missed call against one voicemail).
    if (m_drawn && result.state == m_shown)
        return 0;
    m_face.draw(result.state, surface);
    m_shown = std::move(result.state);
    m_drawn = true;
    return 1;
}

void CallsPlugin::OnKeyDown()
{
    if (m_currentCall) {
        if (!m_link)
            return;
        const PhoneCall &call = *m_currentCall;
        // A call in progress and an outgoing call not yet answered are ended (the face says
        // "Press to end" for both); an incoming one is answered.
        if (call.status == CallStatus::InProgress || !call.incoming)
            m_link->hangUp(call);
        else
            m_link->answer(call);
        return;
    }
    if (!m_installed || !m_link)
        return;
    m_link->clearMissedCalls();
    if (!m_link->snapshot().attached) {
        // The phone has no window to bring up; when it is not running it is started.
        if (m_env.startPhone())
            m_link->retrySoon();
    }
}

intptr_t CallsPlugin::GetInfo(int code)
{
    switch (code) {
    case PKX_INFO_IDENTIFIER:
        return reinterpret_cast<intptr_t>("prt.calls4com.mfc5");
    case PKX_INFO_NAME:
        return reinterpret_cast<intptr_t>("Calls");
    case PKX_INFO_AUTHOR:
        return reinterpret_cast<intptr_t>("Copyright (C) Vostrel and the Pixkey mini contributors");
    case PKX_INFO_EMAIL:
        return reinterpret_cast<intptr_t>("support@pixkey.invalid");
    case PKX_INFO_WEB:
        return reinterpret_cast<intptr_t>("https://pixkey.invalid/plugins/calls");
    case PKX_INFO_SMALL_ICON:
        return reinterpret_cast<intptr_t>(iconImage(16));
    case PKX_INFO_LARGE_ICON:
        return reinterpret_cast<intptr_t>(iconImage(32));
    case PKX_INFO_PREVIEW:
        return reinterpret_cast<intptr_t>(previewImage());
    default:
        return 0;
    }
}

} // namespace calls
