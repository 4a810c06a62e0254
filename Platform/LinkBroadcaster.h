#pragma once
// The external-linking component: hands a clicked symbol to every outside application that
// has linked itself to this client.
//
// Outside applications connect to a local socket in a folder only the current user can enter
// (see LinkSocketPlace.h; default name "vesk-link"); a connection from a process of another
// user is closed at once. Each symbol goes to each of them as one line of bytes followed by
// "\n". A client may introduce itself with a first line "HELLO <name>"; the name is only
// shown to the user. Nothing else a client sends means anything. docs/LINKING.md describes
// the protocol for outside applications.
//
// The host uses four operations: create the component (and its widget) inside its window,
// write the symbol (SetSymbol), pass it on (Link), read the status (Status: the number of
// linked applications, 0 meaning none).

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QWidget>

class QLocalServer;
class QLocalSocket;
class QLabel;
class QListWidget;

class TLinkBroadcaster : public QObject {
    Q_OBJECT
public:
    explicit TLinkBroadcaster(QObject* parent = nullptr);
    ~TLinkBroadcaster() override;

    // "vesk-link", the socket's name inside the user's private folder.
    static QString DefaultName();

    // Starts listening under the name: a name without "/" in the user's private linking
    // folder (FindLinkFolder with CurrentLinkPlaces()), a path as it stands when its folder
    // is private to this user. A stale socket file left by a crashed client is replaced; a
    // live one (another client of the same user) is left alone and Listen fails. On failure
    // GetError() says why and Status() stays 0.
    bool Listen(const QString& name = DefaultName());
    bool IsListening() const;
    const QString& GetName() const { return Name; }
    // The socket's path in the file system (empty when not listening).
    QString GetFullServerName() const;
    const QString& GetError() const { return Error; }

    // Line breaks and other control characters are removed: a symbol is exactly one line
    // for every receiver, whatever text the server put in it.
    void SetSymbol(const QByteArray& symbol);
    const QByteArray& GetSymbol() const { return Symbol; }

    // Sends the symbol to every linked application. One that cannot take it (gone, or not
    // reading and far behind) is dropped; the others still get it. Never throws.
    void Link();

    // The number of linked applications.
    int Status() const;
    // Connections refused since Listen because they came from another user.
    int GetRefused() const { return Refused; }

    struct TPeer {
        QString Name; // from "HELLO", or empty
        qint64 ProcessId = 0; // 0 when the platform does not tell
    };
    QList<TPeer> GetPeers() const;

    struct TRecentSymbol {
        QByteArray Symbol;
        QDateTime Time; // local time, for display
        int Receivers = 0;
    };
    static constexpr int RecentLimit = 20;
    // Newest first, at most RecentLimit.
    const QList<TRecentSymbol>& GetRecent() const { return Recent; }

Q_SIGNALS:
    // Listening state, the linked applications or the recent symbols changed.
    void Changed();

private:
    struct TClient;
    void AcceptConnections();
    void ReadFromClient(QLocalSocket* socket);
    void DropClient(QLocalSocket* socket);
    TClient* FindClient(QLocalSocket* socket);
    void StopListening();

    QLocalServer* Server = nullptr;
    QString Name;
    QString Error;
    QString FreshFolder; // a folder made for this socket alone, removed with it
    int Refused = 0;
    QByteArray Symbol;
    QList<TClient*> Clients;
    QList<TRecentSymbol> Recent;
};

// The component's own user interface: the socket name, the linked applications and the
// recent symbols. It follows the broadcaster's Changed signal.
class TLinkBroadcasterView : public QWidget {
    Q_OBJECT
public:
    TLinkBroadcasterView(TLinkBroadcaster& broadcaster, QWidget* parent = nullptr);

    void Refresh();

    // For tests.
    QLabel* GetSocketLabel() const { return SocketLabel; }
    QListWidget* GetPeerList() const { return PeerList; }
    QListWidget* GetRecentList() const { return RecentList; }

private:
    TLinkBroadcaster& Broadcaster;
    QLabel* SocketLabel = nullptr;
    QLabel* PeerCaption = nullptr;
    QListWidget* PeerList = nullptr;
    QListWidget* RecentList = nullptr;
};
