// SysmeterPlugin: the System Monitor plug-in object. Kind 1 is the "Free memory" key, kind 2 the
// "CPU usage" key, kind 0 the library's describing object.
//
// Created and deleted by the library's Create and Delete on the host's main thread. Paint,
// OnKeyDown and OnEvent run on the instance's paint thread and own the strip and the monitor;
// GetInfo runs on the main thread and reads only the kind, which never changes, so no lock is
// needed. Two instances share nothing.
#pragma once

#include "ProcessSampler.h"
#include "SystemMonitor.h"

#include <pixkey_plugin.hpp>

#include <QImage>

#include <cstdint>
#include <memory>
#include <string>

namespace sysmeter {

class SysmeterPlugin : public pkx::Plugin<SysmeterPlugin> {
public:
    enum Kind { Describing = 0, Memory = 1, Processor = 2 };

    // `kind` is kept as given. The monitor will read `procRoot` with `options`.
    explicit SysmeterPlugin(int kind, std::string procRoot = "/proc", SamplerOptions options = {});

    // [paint-thread] The kind's face with a fresh sample; always 1.
    int Paint(PkxSurface &surface);
    // [paint-thread] Opens the desktop's system monitor.
    void OnKeyDown();
    // [main-thread]
    intptr_t GetInfo(int code);
    // [paint-thread] 1 loads the strip and makes the monitor, 2 frees both; always 1.
    int OnEvent(int code);

    int kind() const { return m_kind; }
    // [paint-thread] The monitor between activation and deactivation, else null.
    SystemMonitor *monitor() { return m_monitor.get(); }

private:
    const int m_kind;
    const std::string m_procRoot;
    const SamplerOptions m_options;
    QImage m_strip;                           // picture 8010 while active
    std::unique_ptr<SystemMonitor> m_monitor; // while active
};

} // namespace sysmeter
