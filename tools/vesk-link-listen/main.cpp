// vesk-link-listen: links to a running Vesk client and prints every symbol it hands over,
// one a line. Exits when the client goes away; it never reconnects. It links only to a
// client of the same user: a socket held by anyone else is left at once.

#include "Platform/LinkSocketPlace.h"

#include <QCoreApplication>
#include <QLocalSocket>
#include <QStringList>
#include <cstdio>
#include <unistd.h>

namespace {

// A line longer than this is no symbol; it is dropped rather than kept growing.
constexpr qsizetype LineLimit = 64 * 1024;

// This user's private linking folder, found as the client finds it (empty when none).
QString LinkFolder(QString* error)
{
    const TLinkFolder folder = FindLinkFolder(CurrentLinkPlaces(), false);
    if (error)
        *error = folder.Error;
    return folder.Path;
}

void Usage(FILE* to)
{
    std::fprintf(to,
                 "Usage: vesk-link-listen [--name TEXT] [SOCKET]\n"
                 "Links to a running Vesk client and prints each symbol it sends, one a line.\n"
                 "  SOCKET       socket path, or a name in the private linking folder\n"
                 "               (default: %s)\n"
                 "  --name TEXT  how this program introduces itself (default: vesk-link-listen)\n"
                 "  --help       this text\n"
                 "Exits with 0 when the client closes the link, 1 when it cannot link.\n",
                 qPrintable(LinkFolder(nullptr).isEmpty()
                                ? QStringLiteral("none: no private linking folder yet")
                                : LinkSocketPath(LinkFolder(nullptr), LinkSocketName())));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments();
    args.removeFirst();

    QString socketName = LinkSocketName();
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

    if (!socketName.contains(QLatin1Char('/'))) {
        QString error;
        const QString folder = LinkFolder(&error);
        if (folder.isEmpty()) {
            std::fprintf(stderr, "vesk-link-listen: %s\n", qPrintable(error));
            return 1;
        }
        socketName = LinkSocketPath(folder, socketName);
    }

    QLocalSocket socket;
    QByteArray pending;
    bool skipping = false;
    bool trusted = false; // the peer has been seen to be this user's
    QObject::connect(&socket, &QLocalSocket::connected, [&] {
        // Whoever listens must be this user's client: a socket another user made would
        // otherwise learn what this user links, and feed us symbols of its own.
        const std::optional<uid_t> peer = PeerUserId(socket.socketDescriptor());
        if (!peer || *peer != ::getuid()) {
            std::fprintf(stderr, "vesk-link-listen: %s: refused, held by %s\n", qPrintable(socketName),
                         peer ? qPrintable(QStringLiteral("user %1").arg(qulonglong(*peer))) : "an unknown user");
            socket.disconnect();
            socket.abort();
            app.exit(1);
            return;
        }
        trusted = true;
        socket.write("HELLO " + introduction + "\n");
        socket.flush();
    });
    QObject::connect(&socket, &QLocalSocket::readyRead, [&] {
        if (!trusted) {
            socket.readAll();
            return;
        }
        pending += socket.readAll();
        qsizetype start = 0;
        for (qsizetype end; (end = pending.indexOf('\n', start)) >= 0; start = end + 1) {
            if (!skipping)
                std::fwrite(pending.constData() + start, 1, size_t(end - start + 1), stdout);
            skipping = false;
        }
        pending.remove(0, start);
        if (pending.size() > LineLimit) {
            pending.clear();
            skipping = true; // the rest of that line, up to its "\n", is dropped too
        }
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
