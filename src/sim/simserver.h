#pragma once
// The emulator's line and loop: a pseudo-terminal behind a symbolic link, or a
// listening TCP port, served by one poll() loop that feeds received bytes to
// the frame receiver, hands complete requests to the responder and sends the
// replies when they fall due. SIGINT and SIGTERM end the loop; the link is
// removed on the way out.

#include "sim/simoptions.h"
#include "sim/simoutput.h"
#include "sim/simreceiver.h"
#include "sim/simresponder.h"

#include <QString>
#include <cstdio>
#include <memory>
#include <vector>

// One flushed line per event; nothing when no file was given.
class TSimLog {
public:
    ~TSimLog();
    bool Open(const QString &path, QString *error);
    void Write(const QByteArray &line);

private:
    std::FILE *file_ = nullptr;
    bool ownFile_ = false;
};

class TSimServer {
public:
    explicit TSimServer(const TSimOptions &options);
    ~TSimServer();

    // Sets up the installation, the log and the line. False with the reason.
    bool Start(QString *error);
    // Serves until a stop signal. The exit code.
    int Run();
    // "PATH (-> /dev/pts/N)" or "HOST:PORT", for the start-up line.
    QString Where() const;
    int TcpPort() const { return tcpPort_; }

    // SIGINT, SIGTERM and SIGHUP stop Run; SIGPIPE is ignored.
    static bool InstallSignalHandlers(QString *error);

private:
    bool openPty(QString *error);
    bool openTcp(QString *error);
    void closeClient();
    void onBytes(const QByteArray &bytes, qint64 nowNs);
    void drainFrames(qint64 nowNs);
    void flushOutput(qint64 nowNs);
    void removeLink();

    TSimOptions options_;
    TSimLog log_;
    // One installation per station on the link.
    struct Station {
        std::unique_ptr<TSimInstrument> Instrument;
        std::unique_ptr<TSimResponder> Responder;
    };
    std::vector<Station> stations_;
    TFrameReceiver receiver_;
    TSimOutput output_;
    qint64 startNs_ = 0;
    qint64 lastRxNs_ = 0;
    qint64 idleNs_ = 0;
    QByteArray pending_; // due bytes the line has not taken yet

    int master_ = -1;    // pty master
    int slave_ = -1;     // held open so the pty stays raw and never hangs up
    QString slaveName_;
    bool linkMade_ = false;
    int listen_ = -1;
    int client_ = -1;
    int tcpPort_ = -1;
};

// Monotonic time in nanoseconds.
qint64 SimNowNs();
