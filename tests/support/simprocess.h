#pragma once
// Runs the installation emulator kvarn-sim for a test: on a pseudo-terminal
// link (or a local TCP port) in a temporary folder of its own, with a log the
// test can read. The executable comes from the KVARN_SIM environment variable
// (ctest sets it). The emulator is stopped with SIGTERM when the object goes,
// and dies with the test process if that one is killed.
//
//   SimProcess sim;
//   QVERIFY2(sim.Start({"--fault", "2:silent"}), qPrintable(sim.ErrorText()));
//   ... PortNumber = sim.LinkPath() ...
//   QCOMPARE(sim.RequestLines(), (QList<QByteArray>{"DATETIME=??;", ...}));

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

class SimProcess {
public:
    SimProcess();
    ~SimProcess();
    SimProcess(const SimProcess &) = delete;
    SimProcess &operator=(const SimProcess &) = delete;

    // Starts on a pseudo-terminal; true once the link is there.
    bool Start(const QStringList &options = {}, int timeoutMs = 15000);
    // Starts listening on 127.0.0.1 at a free port (or at port, to come back
    // where an earlier emulator was); true once it listens.
    bool StartTcp(const QStringList &options = {}, int timeoutMs = 15000, int port = 0);
    // SIGTERM and wait; true when it ended cleanly (exit code 0).
    bool Stop(int timeoutMs = 10000);
    bool IsRunning() const;
    qint64 ProcessId() const;
    // Waits for the emulator to end by itself: its exit code, or -1 when it
    // did not end in time or crashed.
    int WaitForExit(int timeoutMs = 10000);

    QString LinkPath() const { return link_; }
    int TcpPort() const { return port_; }
    QString TcpAddress() const; // socket://127.0.0.1:PORT
    QString Folder() const;
    QString LogPath() const;
    QString ErrorText() const { return error_; }

    // The log so far: every line; the request texts ("<- " lines); the reply
    // lines ("-> "), each without its prefix.
    QList<QByteArray> LogLines() const;
    QList<QByteArray> RequestLines() const;
    QList<QByteArray> ReplyLines() const;
    // Waits until the log holds at least count lines starting with prefix.
    bool WaitForLog(const QByteArray &prefix, int count, int timeoutMs = 5000) const;

    static QString Executable();

private:
    bool launch(const QStringList &arguments, int timeoutMs);

    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<QProcess> process_;
    QString link_;
    int port_ = -1;
    QString error_;
};

// The test's end of a pseudo-terminal: raw, non-blocking reads with time-outs.
class SimTerminal {
public:
    ~SimTerminal() { Close(); }
    bool Open(const QString &path);
    void Close();
    bool Write(const QByteArray &bytes);
    // Reads until maxBytes have come, or quietMs pass without a byte after
    // some came, or totalMs pass in all. arrivalsNs (when given) gets the
    // monotonic time at which each byte was read.
    QByteArray Read(int totalMs, int quietMs = 100, int maxBytes = 1 << 20, QList<qint64> *arrivalsNs = nullptr);
    // Sends a request frame (from station 0) and reads the reply bytes.
    QByteArray Ask(quint8 device, const QByteArray &text, int totalMs = 3000, int quietMs = 100);
    int Fd() const { return fd_; }

private:
    int fd_ = -1;
};
