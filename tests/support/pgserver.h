#pragma once
// A PostgreSQL 15 server of a test's own: initdb and pg_ctl from
// /usr/lib/postgresql/15/bin in a temporary folder, listening only on a
// unix socket in that folder. When the test runs as root the server runs as
// the unprivileged user "postgres" (the folder is handed to it), otherwise as
// the current user. Stopped when the object goes.
//
//   PgServer server;
//   QVERIFY2(server.Start(), qPrintable(server.ErrorText()));
//   QVERIFY2(server.CreateDatabase("site"), qPrintable(server.ErrorText()));
//   ... TStoreUrl::Parse(server.Url("site"), &error) ...

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

class PgServer {
public:
    // durable = false: no fsync, for tests; true: the server's defaults.
    explicit PgServer(bool durable = false);
    ~PgServer();
    PgServer(const PgServer &) = delete;
    PgServer &operator=(const PgServer &) = delete;

    // The first start creates the cluster; a later one starts it again
    // after Stop(). True once it accepts connections.
    bool Start();
    // Fast shutdown; true once it is down.
    bool Stop();
    bool IsRunning() const { return running_; }
    bool CreateDatabase(const QString &name);

    // postgresql://postgres@localhost:PORT/NAME?host=SOCKETDIR
    QString Url(const QString &database) const;
    QString SocketDir() const;
    QString ErrorText() const { return error_; }

private:
    bool run(const QString &program, const QStringList &arguments, bool asServerUser, int timeoutMs = 120000);

    bool durable_;
    std::unique_ptr<QTemporaryDir> dir_;
    bool initialised_ = false;
    bool running_ = false;
    QString error_;
};
