// vesk-link-listen: links to a running Vesk client and prints every symbol it hands over,
// one a line. Exits when the client goes away; it never reconnects.

#include <QCoreApplication>
#include <QLocalSocket>
#include <QStringList>
#include <cstdio>

namespace {

QString DefaultName()
{
    QString user = qEnvironmentVariable("USER");
    if (user.isEmpty())
        user = qEnvironmentVariable("USERNAME");
    if (user.isEmpty())
        user = QStringLiteral("user");
    return QStringLiteral("vesk-link-") + user;
}

void Usage(FILE* to)
{
    std::fprintf(to,
                 "Usage: vesk-link-listen [--name TEXT] [SOCKET]\n"
                 "Links to a running Vesk client and prints each symbol it sends, one a line.\n"
                 "  SOCKET       local socket name or path (default: %s)\n"
                 "  --name TEXT  how this program introduces itself (default: vesk-link-listen)\n"
                 "  --help       this text\n"
                 "Exits with 0 when the client closes the link, 1 when it cannot link.\n",
                 qPrintable(DefaultName()));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments();
    args.removeFirst();

    QString socketName = DefaultName();
    QByteArray introduction = "vesk-link-listen";
    bool socketGiven = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            Usage(stdout);
            return 0;
        }
        if (arg == QLatin1String("--name") && i + 1 < args.size()) {
            introduction = args[++i].toUtf8().replace('\n', ' ').replace('\r', ' ');
            continue;
        }
        if (arg.startsWith(QLatin1Char('-')) || socketGiven) {
            Usage(stderr);
            return 2;
        }
        socketName = arg;
        socketGiven = true;
    }

    QLocalSocket socket;
    QByteArray pending;
    QObject::connect(&socket, &QLocalSocket::connected, [&] {
        socket.write("HELLO " + introduction + "\n");
        socket.flush();
    });
    QObject::connect(&socket, &QLocalSocket::readyRead, [&] {
        pending += socket.readAll();
        qsizetype start = 0;
        for (qsizetype end; (end = pending.indexOf('\n', start)) >= 0; start = end + 1) {
            std::fwrite(pending.constData() + start, 1, size_t(end - start + 1), stdout);
        }
        pending.remove(0, start);
        std::fflush(stdout);
    });
    QObject::connect(&socket, &QLocalSocket::disconnected, &app, [&] { app.exit(0); });
    QObject::connect(&socket, &QLocalSocket::errorOccurred, &app, [&](QLocalSocket::LocalSocketError error) {
        if (error == QLocalSocket::PeerClosedError) {
            app.exit(0);
            return;
        }
        std::fprintf(stderr, "vesk-link-listen: %s: %s\n", qPrintable(socketName), qPrintable(socket.errorString()));
        app.exit(1);
    });
    // Connect from inside the event loop: a failure reported at once must be able to end it.
    QMetaObject::invokeMethod(&socket, [&] { socket.connectToServer(socketName); }, Qt::QueuedConnection);
    return app.exec();
}
