#include "serial/portfailure.h"

#include "base/cp1251.h"

#include <QFile>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

#ifdef Q_OS_UNIX
QString UserName(uid_t uid)
{
    if (const passwd *pw = ::getpwuid(uid))
        return QString::fromLocal8Bit(pw->pw_name);
    return QString::number(uid);
}

QString GroupName(gid_t gid)
{
    if (const group *gr = ::getgrgid(gid))
        return QString::fromLocal8Bit(gr->gr_name);
    return QString::number(gid);
}

TPortFailure Denied(const QString &path, const struct stat &st)
{
    TPortFailure f = TPortFailure::Of(TPortProblem::PermissionDenied, path);
    f.Owner = UserName(st.st_uid);
    f.Group = GroupName(st.st_gid);
    f.GroupMayUse = (st.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
    f.User = UserName(::geteuid());
    return f;
}
#endif

} // namespace

QString TPortFailure::Reason() const
{
    switch (Problem) {
    case TPortProblem::None: return QString();
    case TPortProblem::NoSuchDevice:
        return QStringLiteral("no such device (is the adapter plugged in? kvarnctl ports lists the serial ports)");
    case TPortProblem::PermissionDenied:
        if (GroupMayUse)
            return QStringLiteral("permission denied; the device belongs to the group \"%1\": add the user to it "
                                  "(sudo usermod -aG %1 %2) and log in again")
                .arg(Group, User);
        if (Owner.isEmpty()) // a folder on the way may not be searched
            return QStringLiteral("permission denied");
        return QStringLiteral("permission denied; only its owner %1 may open it (group %2)").arg(Owner, Group);
    case TPortProblem::InUse: return QStringLiteral("in use by another program");
    case TPortProblem::NotSerialDevice: return QStringLiteral("not a serial device");
    case TPortProblem::Other: break;
    }
    return Detail.isEmpty() ? QStringLiteral("cannot be opened") : Detail;
}

QByteArray TPortFailure::TerminalText() const
{
    QString why;
    switch (Problem) {
    case TPortProblem::None: return QByteArray();
    case TPortProblem::NoSuchDevice: why = QString::fromUtf8("нет такого устройства"); break;
    case TPortProblem::PermissionDenied:
        why = GroupMayUse ? QString::fromUtf8("нет прав доступа. Добавьте пользователя в группу %1 "
                                              "(sudo usermod -aG %1 %2) и войдите в систему заново")
                                .arg(Group, User)
                          : Owner.isEmpty() ? QString::fromUtf8("нет прав доступа")
                          : QString::fromUtf8("нет прав доступа (владелец %1, группа %2)").arg(Owner, Group);
        break;
    case TPortProblem::InUse: why = QString::fromUtf8("занят другой программой"); break;
    case TPortProblem::NotSerialDevice: why = QString::fromUtf8("это не последовательный порт"); break;
    case TPortProblem::Other:
        why = QString::fromUtf8("не открывается");
        if (!Detail.isEmpty())
            why += QStringLiteral(" (") + Detail + u')';
        break;
    }
    return ToCp1251(QString::fromUtf8("Порт %1: %2").arg(Path, why));
}

TPortFailure DiagnosePort(const QString &path)
{
#ifdef Q_OS_UNIX
    const QByteArray name = QFile::encodeName(path);
    struct stat st {};
    if (::stat(name.constData(), &st) != 0) {
        if (errno == EACCES) { // a folder on the way that may not be searched
            TPortFailure f = TPortFailure::Of(TPortProblem::PermissionDenied, path);
            f.User = UserName(::geteuid());
            return f;
        }
        return TPortFailure::Of(TPortProblem::NoSuchDevice, path);
    }
    // Rights come first: a file that may not be opened tells nothing else.
    if (::access(name.constData(), R_OK | W_OK) != 0 && errno == EACCES)
        return Denied(path, st);
    if (!S_ISCHR(st.st_mode))
        return TPortFailure::Of(TPortProblem::NotSerialDevice, path);

    const int fd = ::open(name.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        switch (errno) {
        case EACCES:
        case EPERM: return Denied(path, st);
        case EBUSY: return TPortFailure::Of(TPortProblem::InUse, path);
        // A device node without its hardware: a serial port the computer
        // does not have, an adapter that was pulled out.
        case ENOENT:
        case ENXIO:
        case ENODEV:
        case EIO: return TPortFailure::Of(TPortProblem::NoSuchDevice, path);
        default: break;
        }
        return TPortFailure::Of(TPortProblem::Other, path, QString::fromLocal8Bit(::strerror(errno)));
    }
    TPortFailure found = TPortFailure::Of(TPortProblem::None, path);
    if (!::isatty(fd))
        found.Problem = TPortProblem::NotSerialDevice;
    else if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)
        found.Problem = TPortProblem::InUse;
    ::close(fd);
    return found;
#else
    return TPortFailure::Of(TPortProblem::None, path);
#endif
}
