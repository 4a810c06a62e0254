#pragma once
// Where the linking socket lives, shared by the client and by the programs that link to it,
// so that both sides find the same path. Needs Qt Core only.
//
// The socket is made in a folder that only the current user can enter, so another user of
// the machine can neither take the name first nor reach the socket:
//   1. $XDG_RUNTIME_DIR, when it is a real folder (not a symbolic link) owned by this user
//      with mode 0700;
//   2. otherwise "vesk-link-<uid>" in the temp folder, made with mode 0700 and used only when
//      it is still a real folder of this user with mode 0700;
//   3. when that name is taken by anything else, the client makes a fresh folder
//      "vesk-link-<uid>-XXXXXX" there (the linking window shows the full path).
// Names come from the numeric user id, never from environment variables such as $USER.

#include <QString>
#include <optional>
#include <sys/types.h>

// The two base folders the search starts from.
struct TLinkPlaces {
    QString RuntimeFolder; // $XDG_RUNTIME_DIR; empty when unset
    QString TempFolder;    // the temp folder ($TMPDIR or /tmp)
    static TLinkPlaces FromEnvironment();
};

// Tests put the socket under folders of their own instead of the machine's; nullopt goes
// back to the environment.
void OverrideLinkPlaces(std::optional<TLinkPlaces> places);
TLinkPlaces CurrentLinkPlaces();

// The socket's name inside the folder.
QString LinkSocketName(); // "vesk-link"
// "vesk-link-<uid>": the fixed fallback folder's name in the temp folder.
QString LinkFallbackFolderName();

// True when path is a real folder (lstat: no symbolic link) owned by uid with mode 0700.
// why, when given, receives the reason it is not.
bool IsPrivateFolder(const QString& path, uid_t uid, QString* why = nullptr);

struct TLinkFolder {
    QString Path;  // empty when no folder can be trusted
    QString Error; // why not, when Path is empty
    bool Fresh = false; // a fresh unique folder was made; its owner removes it when done
};

// The folder to listen in or to connect in. With create, the fixed fallback folder is made
// when missing, and a fresh unique one when the fixed one cannot be trusted; without it
// (the side that connects) only existing trusted folders are returned.
TLinkFolder FindLinkFolder(const TLinkPlaces& places, bool create);

// A name without "/" is placed in the folder; one with "/" is a path and is used as it is.
QString LinkSocketPath(const QString& folder, const QString& name);

// The user id of the process at the other end of a connected local socket (SO_PEERCRED),
// or nullopt when the system does not tell.
std::optional<uid_t> PeerUserId(qintptr socketDescriptor);
