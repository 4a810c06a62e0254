#include "Platform/LinkSocketPlace.h"

#include <QDir>
#include <QFile>
#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::optional<TLinkPlaces>& Override()
{
    static std::optional<TLinkPlaces> places;
    return places;
}

QString SystemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

TLinkPlaces TLinkPlaces::FromEnvironment()
{
    return {qEnvironmentVariable("XDG_RUNTIME_DIR"), QDir::tempPath()};
}

void OverrideLinkPlaces(std::optional<TLinkPlaces> places)
{
    Override() = std::move(places);
}

TLinkPlaces CurrentLinkPlaces()
{
    return Override() ? *Override() : TLinkPlaces::FromEnvironment();
}

QString LinkSocketName()
{
    return QStringLiteral("vesk-link");
}

QString LinkFallbackFolderName()
{
    return QStringLiteral("vesk-link-%1").arg(qulonglong(::getuid()));
}

bool IsPrivateFolder(const QString& path, uid_t uid, QString* why)
{
    auto refuse = [&](const QString& reason) {
        if (why)
            *why = QStringLiteral("%1: %2").arg(path, reason);
        return false;
    };
    if (path.isEmpty() || !QDir::isAbsolutePath(path))
        return refuse(QStringLiteral("not an absolute path"));
    struct stat info {};
    // lstat: a symbolic link could point anywhere, including a folder someone else can
    // change later; it is not trusted whatever it points to.
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return refuse(SystemError(errno));
    if (S_ISLNK(info.st_mode))
        return refuse(QStringLiteral("a symbolic link"));
    if (!S_ISDIR(info.st_mode))
        return refuse(QStringLiteral("not a folder"));
    if (info.st_uid != uid)
        return refuse(QStringLiteral("owned by user %1").arg(qulonglong(info.st_uid)));
    if ((info.st_mode & 07777) != 0700)
        return refuse(QStringLiteral("mode %1, not 0700").arg(info.st_mode & 07777, 4, 8, QLatin1Char('0')));
    return true;
}

TLinkFolder FindLinkFolder(const TLinkPlaces& places, bool create)
{
    const uid_t uid = ::getuid();
    if (!places.RuntimeFolder.isEmpty() && IsPrivateFolder(places.RuntimeFolder, uid))
        return {places.RuntimeFolder, {}, false};

    QString temp = places.TempFolder.isEmpty() ? QStringLiteral("/tmp") : places.TempFolder;
    while (temp.size() > 1 && temp.endsWith(QLatin1Char('/')))
        temp.chop(1);
    const QString fixed = temp + QLatin1Char('/') + LinkFallbackFolderName();
    const QByteArray fixedEncoded = QFile::encodeName(fixed);
    // Made with 0700 from the start: there is no moment in which another user could enter.
    if (create && ::mkdir(fixedEncoded.constData(), 0700) != 0 && errno != EEXIST)
        return {{}, QStringLiteral("Cannot make %1: %2").arg(fixed, SystemError(errno)), false};
    QString why;
    if (IsPrivateFolder(fixed, uid, &why))
        return {fixed, {}, false};
    if (!create)
        return {{}, QStringLiteral("No private folder to link in (%1).").arg(why), false};

    // The fixed name is taken by something we must not trust (another user's folder or file,
    // or a folder whose mode lets others in). It is left alone; a fresh folder, made by
    // mkdtemp with 0700 and a name nobody could have taken, serves instead.
    QByteArray pattern = fixedEncoded + "-XXXXXX";
    if (!::mkdtemp(pattern.data()))
        return {{}, QStringLiteral("%1; cannot make a fresh folder either: %2").arg(why, SystemError(errno)), false};
    const QString fresh = QFile::decodeName(pattern);
    if (!IsPrivateFolder(fresh, uid, &why)) {
        ::rmdir(pattern.constData());
        return {{}, why, false};
    }
    return {fresh, {}, true};
}

QString LinkSocketPath(const QString& folder, const QString& name)
{
    if (name.contains(QLatin1Char('/')))
        return name;
    return folder + QLatin1Char('/') + name;
}

std::optional<uid_t> PeerUserId(qintptr socketDescriptor)
{
#ifdef SO_PEERCRED
    struct ucred credentials {};
    socklen_t length = sizeof credentials;
    if (socketDescriptor >= 0
        && ::getsockopt(int(socketDescriptor), SOL_SOCKET, SO_PEERCRED, &credentials, &length) == 0
        && length == sizeof credentials)
        return credentials.uid;
#else
    Q_UNUSED(socketDescriptor);
#endif
    return std::nullopt;
}
