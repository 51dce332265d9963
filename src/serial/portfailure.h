#pragma once
// Why a port could not be opened, sorted into what the operator can do about
// it: plug the adapter in, get the right to use it, close the other program,
// or name another device.

#include <QByteArray>
#include <QString>

enum class TPortProblem { None, NoSuchDevice, PermissionDenied, InUse, NotSerialDevice, Other };

struct TPortFailure {
    TPortProblem Problem = TPortProblem::None;
    // The device path as opened (or the port name when it names no device).
    QString Path;
    // PermissionDenied: who owns the device, and whether the members of its
    // group may read and write it (then joining the group is the remedy).
    QString Owner;
    QString Group;
    bool GroupMayUse = false;
    // The current user, for the remedy's command line.
    QString User;
    // Other: what the system said.
    QString Detail;

    static TPortFailure Of(TPortProblem problem, const QString &path, const QString &detail = QString())
    {
        TPortFailure f;
        f.Problem = problem;
        f.Path = path;
        f.Detail = detail;
        return f;
    }

    bool Failed() const { return Problem != TPortProblem::None; }
    // English, without the path: "no such device", "permission denied; ...".
    QString Reason() const;
    // One line for the terminal page, in Russian (code page 1251), path included.
    QByteArray TerminalText() const;
};

// Looks at a device path that could not be opened, and says why. Nothing is
// written: a character device is opened only to probe it (without becoming
// the controlling terminal and without waiting for the modem lines), and
// other kinds of file are never opened, so a pipe cannot hold the caller up.
// Problem None when the path shows nothing wrong.
TPortFailure DiagnosePort(const QString &path);
