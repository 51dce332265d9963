#pragma once
// The socket side of the metrics' HTTP server: Qt HttpServer parses and
// answers, this listener decides who gets to talk to it. At most a few
// connections at once (the ones past that are closed as they come), each
// closed when it has not finished a request head within a few seconds, and
// a request head of more than kMaxHeadBytes answered 431 and closed. When
// accepting fails (no file descriptor left) it pauses and tries again a
// second later instead of spinning.

#include <QHash>
#include <QTcpServer>

class QTcpSocket;
class QTimer;

class TBoundedListener : public QTcpServer {
    Q_OBJECT
public:
    static constexpr int kMaxHeadBytes = 32 * 1024;
    static constexpr int kIdleMs = 5000;
    static constexpr int kRetryAcceptMs = 1000;
    // Answers waiting to be sent past which a client that does not read is dropped.
    static constexpr qint64 kMaxUnsentBytes = 1 << 20;

    // maxConnections 0: a share of the file descriptors this process may open.
    explicit TBoundedListener(int maxConnections = 0, int idleMs = kIdleMs, QObject *parent = nullptr);

    int MaxConnections() const { return maxConnections_; }
    int Open() const { return int(heads_.size()); }
    qint64 Refused() const { return refused_; }

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    struct Head {
        qint64 Bytes = 0; // of the request head under way
        QByteArray Tail;  // the last bytes seen, for an end of head split across reads
        bool Refused = false;
        QTimer *Idle = nullptr;
    };
    void received(QTcpSocket *socket);
    void refuse(QTcpSocket *socket, Head &head);

    int maxConnections_;
    int idleMs_;
    QHash<QTcpSocket *, Head> heads_;
    qint64 refused_ = 0;
    bool acceptFailing_ = false;
};
