#pragma once
// Desktop notifications: a short message that the desktop shows beside the windows.
//
// The system notifier speaks to the freedesktop notification service on the session bus. It
// connects on first use only, never waits for an answer, and does nothing at all when there
// is no session bus or no service: a notification is a convenience, never a reason to fail.
// Tests install a recording notifier.

#include <QString>

class TDesktopNotifier {
public:
    virtual ~TDesktopNotifier() = default;
    // Shows summary (plain text) and body (the service may read a small markup subset, so
    // callers escape what they did not write themselves). Returns at once.
    virtual void Notify(const QString& appName, const QString& summary, const QString& body) = 0;
};

// The notifier in force: the system notifier unless a test installed another.
TDesktopNotifier& DesktopNotifier();

// Installs a notifier (not owned); nullptr restores the system notifier.
void SetDesktopNotifier(TDesktopNotifier* notifier);

class TScopedDesktopNotifier {
public:
    explicit TScopedDesktopNotifier(TDesktopNotifier* notifier) { SetDesktopNotifier(notifier); }
    ~TScopedDesktopNotifier() { SetDesktopNotifier(nullptr); }
    TScopedDesktopNotifier(const TScopedDesktopNotifier&) = delete;
    TScopedDesktopNotifier& operator=(const TScopedDesktopNotifier&) = delete;
};
