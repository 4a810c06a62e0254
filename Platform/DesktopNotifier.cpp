#include "Platform/DesktopNotifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

namespace {

class TFreedesktopNotifier : public TDesktopNotifier {
public:
    void Notify(const QString& appName, const QString& summary, const QString& body) override
    {
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected())
            return; // no session bus: nobody to show it
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
            QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
        // app_name, replaces_id, app_icon, summary, body, actions, hints, expire_timeout
        call << appName << quint32(0) << QString() << summary << body << QStringList() << QVariantMap()
             << qint32(-1);
        // Sent without waiting: when the service is missing the error answer is dropped.
        bus.send(call);
    }
};

TDesktopNotifier*& Installed()
{
    static TDesktopNotifier* notifier = nullptr;
    return notifier;
}

} // namespace

TDesktopNotifier& DesktopNotifier()
{
    static TFreedesktopNotifier system;
    return Installed() ? *Installed() : system;
}

void SetDesktopNotifier(TDesktopNotifier* notifier)
{
    Installed() = notifier;
}
