#include "support/pgserver.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include <pwd.h>
#include <unistd.h>

namespace {

const QString kBin = QStringLiteral("/usr/lib/postgresql/15/bin/");
constexpr int kPort = 5432; // only a socket in the server's own folder: no clash

// The account the server runs as when the test runs as root.
const char *const kServerUser = "postgres";

} // namespace

PgServer::PgServer(bool durable) : durable_(durable) {}

PgServer::~PgServer()
{
    Stop();
}

QString PgServer::SocketDir() const
{
    return dir_ ? dir_->path() : QString();
}

QString PgServer::Url(const QString &database) const
{
    return QStringLiteral("postgresql://postgres@localhost:%1/%2?host=%3").arg(kPort).arg(database, SocketDir());
}

bool PgServer::run(const QString &program, const QStringList &arguments, bool asServerUser, int timeoutMs)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    if (asServerUser && ::geteuid() == 0)
        process.start(QStringLiteral("runuser"), QStringList{"-u", kServerUser, "--", kBin + program} + arguments);
    else
        process.start(kBin + program, arguments);
    if (!process.waitForStarted(10000)) {
        error_ = QStringLiteral("%1 does not start: %2").arg(program, process.errorString());
        return false;
    }
    // stdin closed: nothing waits for a password.
    process.closeWriteChannel();
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(5000);
        error_ = QStringLiteral("%1 did not finish in time").arg(program);
        return false;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        error_ = QStringLiteral("%1 failed: %2").arg(program, QString::fromLocal8Bit(process.readAll()).trimmed());
        return false;
    }
    return true;
}

bool PgServer::Start()
{
    if (running_)
        return true;
    if (!dir_) {
        dir_ = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/kvarn-pg-XXXXXX"));
        if (!dir_->isValid()) {
            error_ = QStringLiteral("no temporary folder: %1").arg(dir_->errorString());
            dir_.reset();
            return false;
        }
        if (::geteuid() == 0) {
            const passwd *user = ::getpwnam(kServerUser);
            if (!user || ::chown(QFile::encodeName(dir_->path()).constData(), user->pw_uid, user->pw_gid) != 0) {
                error_ = QStringLiteral("the folder cannot be handed to the user %1").arg(kServerUser);
                return false;
            }
        }
    }
    const QString data = dir_->path() + QStringLiteral("/data");
    if (!initialised_) {
        if (!run(QStringLiteral("initdb"),
                 {"-D", data, "-U", "postgres", "-A", "trust", "-E", "UTF8", "--locale=C", "--no-sync"}, true))
            return false;
        initialised_ = true;
    }
    QString options = QStringLiteral("-k %1 -p %2 -c listen_addresses=''").arg(dir_->path()).arg(kPort);
    if (!durable_)
        options += QStringLiteral(" -c fsync=off -c synchronous_commit=off -c full_page_writes=off");
    if (!run(QStringLiteral("pg_ctl"),
             {"-D", data, "-l", dir_->path() + QStringLiteral("/server.log"), "-w", "-t", "60", "-o", options, "start"},
             true)) {
        QFile log(dir_->path() + QStringLiteral("/server.log"));
        if (log.open(QIODevice::ReadOnly))
            error_ += QStringLiteral("\n") + QString::fromLocal8Bit(log.readAll().right(2000));
        return false;
    }
    running_ = true;
    return true;
}

bool PgServer::Stop()
{
    if (!running_)
        return true;
    if (!run(QStringLiteral("pg_ctl"), {"-D", dir_->path() + QStringLiteral("/data"), "-m", "fast", "-w", "stop"}, true))
        return false;
    running_ = false;
    return true;
}

bool PgServer::CreateDatabase(const QString &name)
{
    return run(QStringLiteral("createdb"),
               {"-h", SocketDir(), "-p", QString::number(kPort), "-U", "postgres", name}, false);
}
