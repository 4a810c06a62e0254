// vesk-receive-probe ADDRESS SECONDS [CATEGORY [nowindow]]
//
// Logs in to ADDRESS with the real main connection, feeds one alert window subscribed to
// CATEGORY (default "quickstrike", a QuickStrike list) and runs the event loop for SECONDS.
// Prints on exit: peak resident memory, the largest lateness of a 500 ms timer (what a user
// would see as a frozen window), alerts received, the largest alert, the status texts seen,
// and the most room the conversation's receive buffers held.

#include "Olvarra/AlertWindowUnit.h"
#include "Olvarra/ConfigFile.h"
#include "Olvarra/MainConnectionUnit.h"
#include "Shared/TalkWithServer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <cstdio>
#include <memory>
#include <sys/resource.h>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: vesk-receive-probe ADDRESS SECONDS [CATEGORY]\n");
        return 2;
    }
    const QByteArray address = argv[1];
    const int seconds = atoi(argv[2]);
    const QByteArray category = argc > 3 ? QByteArray(argv[3]) : QByteArray("quickstrike");

    TMainConnection connection(address, nullptr);
    // "nowindow": the receive path alone, without an alert window.
    std::unique_ptr<TAlertForm> window;
    if (!(argc > 4 && QByteArray(argv[4]) == "nowindow")) {
        window = std::make_unique<TAlertForm>(connection);
        window->LoadSettings(TConfigFile::FromText("[Alert Window 0]\nsubscription=" + category + "\n"), "Alert Window 0");
        window->show();
    }
    connection.AddCategory(category);

    qint64 alerts = 0, largest = 0;
    connection.AddAlertListener([&](const QByteArray& body) {
        ++alerts;
        largest = qMax<qint64>(largest, body.size());
    });
    QStringList statuses;
    connection.OnStatusChange = [&] { statuses.append(connection.GetStatus()); };
    qsizetype peakRoom = 0;

    QElapsedTimer since;
    since.start();
    qint64 last = 0, worstLate = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = since.elapsed();
        worstLate = qMax(worstLate, now - last - 500);
        last = now;
        if (TTalkWithServer* talk = connection.GetServer())
            peakRoom = qMax(peakRoom, talk->GetPeakHeldCapacity());
    });
    tick.start(500);
    QTimer::singleShot(seconds * 1000, &app, &QApplication::quit);

    connection.SetUserName("probe");
    connection.SetPassword("probe");
    app.exec();

    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("peak_rss_mb %.1f\nworst_tick_late_ms %lld\nalerts %lld\nlargest_alert %lld\npeak_receive_room %lld\n",
                usage.ru_maxrss / 1024.0, qint64(worstLate), alerts, largest, qint64(peakRoom));
    std::printf("statuses %s\n", qPrintable(statuses.join(QStringLiteral(" | "))));
    return 0;
}
