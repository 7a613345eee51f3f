#pragma once

#include <QDBusUnixFileDescriptor>
#include <QObject>
#include <QString>

#include <functional>

namespace pixkey {

// Watches the login manager (logind on the system bus) for what the keypad must follow: this
// session being locked and unlocked, becoming or ceasing to be the active session of its seat, and
// the system going to sleep and waking up. While running it holds a "delay" sleep inhibitor, so
// the keys can be switched off before the machine sleeps; the inhibitor is released once the
// suspend handler returned and taken again on resume.
//
// Without a system bus or logind `start` fails (the caller says so in one line and goes on
// without). Main thread; the handlers run on it.
class SessionWatcher : public QObject {
    Q_OBJECT
public:
    struct Handlers {
        std::function<void(bool locked)> locked;
        std::function<void(bool active)> active;
        std::function<void()> suspend;
        std::function<void()> resume;
    };

    explicit SessionWatcher(Handlers handlers, QObject *parent = nullptr);
    ~SessionWatcher() override;

    // False, with `error()` saying why, when logind cannot be reached.
    bool start();
    const QString &error() const { return m_error; }
    bool holdsInhibitor() const { return m_inhibitor.isValid(); }

private Q_SLOTS:
    void onLock();
    void onUnlock();
    void onPrepareForSleep(bool start);
    void onPropertiesChanged(const QString &interface, const QVariantMap &changed, const QStringList &invalidated);

private:
    void takeInhibitor();

    Handlers m_handlers;
    QString m_sessionPath;
    QDBusUnixFileDescriptor m_inhibitor;
    QString m_error;
    bool m_active = true;
};

} // namespace pixkey
