#include "Platform/LinkBroadcaster.h"

#include "Platform/Clock.h"
#include "Platform/LinkSocketPlace.h"

#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QVBoxLayout>

#include <sys/socket.h>
#include <unistd.h>

namespace {

// A linked application that stops reading is dropped once this much waits for it, so a
// stuck reader cannot make the client's memory grow without end.
constexpr qint64 WriteBacklogLimit = 64 * 1024;
// A greeting longer than this is not a greeting.
constexpr int GreetingLimit = 256;

qint64 PeerProcessId(QLocalSocket* socket)
{
#ifdef Q_OS_LINUX
    struct ucred credentials {};
    socklen_t length = sizeof credentials;
    if (::getsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &credentials, &length) == 0)
        return credentials.pid;
#else
    Q_UNUSED(socket);
#endif
    return 0;
}

QString PrintableName(const QByteArray& bytes)
{
    QString name = QString::fromUtf8(bytes).trimmed();
    QString clean;
    for (QChar c : name)
        if (c.isPrint())
            clean += c;
    return clean.left(64);
}

} // namespace

struct TLinkBroadcaster::TClient {
    QPointer<QLocalSocket> Socket;
    QString Name;
    qint64 ProcessId = 0;
    bool Greeted = false; // the first line has been read (or given up on)
    QByteArray Pending;
};

TLinkBroadcaster::TLinkBroadcaster(QObject* parent) : QObject(parent) {}

TLinkBroadcaster::~TLinkBroadcaster()
{
    // Closing the sockets here tells every linked application that we are gone; their
    // disconnect notifications must not come back into a half-destroyed object.
    for (TClient* client : Clients) {
        if (client->Socket) {
            client->Socket->disconnect(this);
            client->Socket->abort();
            delete client->Socket;
        }
        delete client;
    }
    Clients.clear();
    StopListening();
}

QString TLinkBroadcaster::DefaultName()
{
    return LinkSocketName();
}

void TLinkBroadcaster::StopListening()
{
    if (Server) {
        while (!Clients.isEmpty())
            DropClient(Clients.first()->Socket);
        Server->disconnect(this);
        Server->close(); // removes the socket file
        delete Server;
        Server = nullptr;
    }
    if (!FreshFolder.isEmpty()) {
        QDir().rmdir(FreshFolder);
        FreshFolder.clear();
    }
}

bool TLinkBroadcaster::Listen(const QString& name)
{
    StopListening();
    Name = name;
    Error.clear();
    Refused = 0;

    // Only in a folder no other user can enter: otherwise another user could make the name
    // first and pose as this client to the user's own applications, or keep linking away.
    QString path;
    if (name.contains(QLatin1Char('/'))) {
        QString why;
        if (!IsPrivateFolder(QFileInfo(name).absolutePath(), ::getuid(), &why)) {
            Error = QStringLiteral("Cannot link under \"%1\": the folder is not private to this user (%2).").arg(name, why);
            Q_EMIT Changed();
            return false;
        }
        path = name;
    } else {
        const TLinkFolder folder = FindLinkFolder(CurrentLinkPlaces(), true);
        if (folder.Path.isEmpty()) {
            Error = QStringLiteral("Cannot link under \"%1\": %2").arg(name, folder.Error);
            Q_EMIT Changed();
            return false;
        }
        if (folder.Fresh)
            FreshFolder = folder.Path;
        path = LinkSocketPath(folder.Path, name);
    }

    // Another client of this user may hold the name, or a crashed one may have left its
    // socket file behind. Only the latter may be replaced. Ask first: with restricted
    // access the socket is made elsewhere and moved into place, which would silently take
    // the name from a live client.
    {
        QLocalSocket probe;
        probe.connectToServer(path);
        const bool live = probe.waitForConnected(200);
        probe.abort();
        if (live) {
            Error = QStringLiteral("Cannot link under \"%1\": another client is linking under this name.").arg(path);
            StopListening();
            Q_EMIT Changed();
            return false;
        }
    }
    QLocalServer::removeServer(path);

    auto* server = new QLocalServer(this);
    // The folder already keeps others out; the socket's own mode says the same.
    server->setSocketOptions(QLocalServer::UserAccessOption);
    const bool listening = server->listen(path);
    if (!listening) {
        Error = QStringLiteral("Cannot link under \"%1\": %2").arg(path, server->errorString());
        delete server;
        StopListening();
        Q_EMIT Changed();
        return false;
    }
    Server = server;
    connect(Server, &QLocalServer::newConnection, this, &TLinkBroadcaster::AcceptConnections);
    Q_EMIT Changed();
    return true;
}

bool TLinkBroadcaster::IsListening() const
{
    return Server && Server->isListening();
}

QString TLinkBroadcaster::GetFullServerName() const
{
    return IsListening() ? Server->fullServerName() : QString();
}

void TLinkBroadcaster::SetSymbol(const QByteArray& symbol)
{
    Symbol.clear();
    Symbol.reserve(symbol.size());
    for (char c : symbol)
        if (uchar(c) >= 0x20 && uchar(c) != 0x7f)
            Symbol += c;
}

void TLinkBroadcaster::Link()
{
    const QByteArray line = Symbol + '\n';
    int receivers = 0;
    QList<QLocalSocket*> gone;
    // A socket may report its own end while we write to it; iterate over a copy.
    const QList<TClient*> clients = Clients;
    for (TClient* client : clients) {
        QLocalSocket* socket = client->Socket;
        if (!socket || socket->state() != QLocalSocket::ConnectedState
            || socket->bytesToWrite() > WriteBacklogLimit) {
            gone << socket;
            continue;
        }
        if (socket->write(line) != line.size()) {
            gone << socket;
            continue;
        }
        // Pushing the bytes out now also shows at once whether the other end is still there,
        // so Status() is true right after Link().
        socket->flush();
        if (socket->state() != QLocalSocket::ConnectedState) {
            gone << socket;
            continue;
        }
        ++receivers;
    }
    for (QLocalSocket* socket : gone)
        DropClient(socket);

    Recent.prepend({Symbol, Clock().LocalNow(), receivers});
    while (Recent.size() > RecentLimit)
        Recent.removeLast();
    Q_EMIT Changed();
}

int TLinkBroadcaster::Status() const
{
    int count = 0;
    for (const TClient* client : Clients)
        if (client->Socket && client->Socket->state() == QLocalSocket::ConnectedState)
            ++count;
    return count;
}

QList<TLinkBroadcaster::TPeer> TLinkBroadcaster::GetPeers() const
{
    QList<TPeer> peers;
    for (const TClient* client : Clients)
        if (client->Socket && client->Socket->state() == QLocalSocket::ConnectedState)
            peers.append({client->Name, client->ProcessId});
    return peers;
}

void TLinkBroadcaster::AcceptConnections()
{
    while (QLocalSocket* socket = Server->nextPendingConnection()) {
        // Another user (root can reach any folder, and so can whoever root lets in) gets
        // nothing and cannot pose as a linked application of this user.
        const std::optional<uid_t> peer = PeerUserId(socket->socketDescriptor());
        if (!peer || *peer != ::getuid()) {
            ++Refused;
            socket->abort();
            delete socket;
            continue;
        }
        auto* client = new TClient;
        client->Socket = socket;
        client->ProcessId = PeerProcessId(socket);
        Clients.append(client);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { ReadFromClient(socket); });
        connect(socket, &QLocalSocket::disconnected, this, [this, socket] { DropClient(socket); });
        if (socket->bytesAvailable() > 0)
            ReadFromClient(socket);
    }
    Q_EMIT Changed();
}

TLinkBroadcaster::TClient* TLinkBroadcaster::FindClient(QLocalSocket* socket)
{
    for (TClient* client : Clients)
        if (client->Socket == socket)
            return client;
    return nullptr;
}

void TLinkBroadcaster::ReadFromClient(QLocalSocket* socket)
{
    TClient* client = FindClient(socket);
    if (!client) {
        socket->readAll();
        return;
    }
    if (client->Greeted) {
        socket->readAll(); // nothing after the greeting means anything
        return;
    }
    client->Pending += socket->readAll();
    const qsizetype end = client->Pending.indexOf('\n');
    if (end < 0 && client->Pending.size() <= GreetingLimit)
        return;
    QByteArray first = client->Pending.left(end < 0 ? GreetingLimit : end);
    client->Pending.clear();
    client->Greeted = true;
    if (first.endsWith('\r'))
        first.chop(1);
    if (first.startsWith("HELLO ")) {
        client->Name = PrintableName(first.mid(6));
        Q_EMIT Changed();
    }
}

void TLinkBroadcaster::DropClient(QLocalSocket* socket)
{
    for (qsizetype i = 0; i < Clients.size(); ++i) {
        TClient* client = Clients[i];
        if (client->Socket != socket)
            continue;
        Clients.removeAt(i);
        if (socket) {
            socket->disconnect(this);
            socket->abort();
            // Possibly inside one of the socket's own notifications: delete it later.
            socket->deleteLater();
        }
        delete client;
        Q_EMIT Changed();
        return;
    }
}

TLinkBroadcasterView::TLinkBroadcasterView(TLinkBroadcaster& broadcaster, QWidget* parent)
    : QWidget(parent), Broadcaster(broadcaster)
{
    auto* layout = new QVBoxLayout(this);
    SocketLabel = new QLabel(this);
    SocketLabel->setWordWrap(true);
    SocketLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    PeerCaption = new QLabel(this);
    PeerList = new QListWidget(this);
    auto* recentCaption = new QLabel(QStringLiteral("Recent symbols (newest first):"), this);
    RecentList = new QListWidget(this);
    layout->addWidget(SocketLabel);
    layout->addWidget(PeerCaption);
    layout->addWidget(PeerList, 1);
    layout->addWidget(recentCaption);
    layout->addWidget(RecentList, 2);
    connect(&Broadcaster, &TLinkBroadcaster::Changed, this, &TLinkBroadcasterView::Refresh);
    Refresh();
}

void TLinkBroadcasterView::Refresh()
{
    if (Broadcaster.IsListening())
        SocketLabel->setText(QStringLiteral("Outside applications link by connecting to the local socket \"%1\" (%2). "
                                            "Each symbol you click is sent to them as one line.")
                                 .arg(Broadcaster.GetName(), Broadcaster.GetFullServerName()));
    else if (!Broadcaster.GetError().isEmpty())
        SocketLabel->setText(Broadcaster.GetError());
    else
        SocketLabel->setText(QStringLiteral("Not listening."));

    const QList<TLinkBroadcaster::TPeer> peers = Broadcaster.GetPeers();
    QString caption = QStringLiteral("Linked applications: %1").arg(peers.size());
    if (Broadcaster.GetRefused() > 0)
        caption += QStringLiteral(" (refused from other users: %1)").arg(Broadcaster.GetRefused());
    PeerCaption->setText(caption);
    PeerList->clear();
    for (const TLinkBroadcaster::TPeer& peer : peers) {
        QString text = peer.Name.isEmpty() ? QStringLiteral("(unnamed application)") : peer.Name;
        if (peer.ProcessId > 0)
            text += QStringLiteral(", process %1").arg(peer.ProcessId);
        PeerList->addItem(text);
    }

    RecentList->clear();
    for (const TLinkBroadcaster::TRecentSymbol& recent : Broadcaster.GetRecent())
        RecentList->addItem(QStringLiteral("%1  %2  (sent to %3)")
                                .arg(recent.Time.toString(QStringLiteral("HH:mm:ss")),
                                     QString::fromLatin1(recent.Symbol))
                                .arg(recent.Receivers));
}
