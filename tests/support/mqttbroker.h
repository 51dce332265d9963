#pragma once
// Debian's MQTT broker (mosquitto) for a test or benchmark: its config and
// log in a temporary folder, listening on loopback at a free port (the same
// port again after Stop and Start), and subscribers (mosquitto_sub) whose
// messages the test reads back.
//
//   MqttBroker broker;
//   QVERIFY2(broker.Start(), qPrintable(broker.ErrorText()));
//   MqttSubscriber sub(broker.Port(), {"kvarn/#"});
//   QTRY_VERIFY(sub.Messages("kvarn/site/status").size() > 0);

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>
#include <unistd.h>
#include <memory>

class MqttBroker {
public:
    ~MqttBroker() { Stop(); }

    // users: NAME -> PASSWORD; with any, anonymous clients are refused.
    bool Start(const QMap<QString, QString> &users = {})
    {
        if (!port_) {
            QTcpServer probe;
            probe.listen(QHostAddress::LocalHost, 0);
            port_ = probe.serverPort();
        }
        QByteArray config = "listener " + QByteArray::number(port_) + " 127.0.0.1\npersistence false\nlog_dest file " +
                            dir_.filePath("broker.log").toUtf8() + "\nlog_type all\n";
        if (::geteuid() == 0)
            config += "user root\n"; // keeps the test's folder in reach
        if (users.isEmpty()) {
            config += "allow_anonymous true\n";
        } else {
            const QString passwords = dir_.filePath("passwords");
            QFile::remove(passwords);
            QFile(passwords).open(QIODevice::WriteOnly);
            for (auto it = users.cbegin(); it != users.cend(); ++it)
                if (QProcess::execute("mosquitto_passwd", {"-b", passwords, it.key(), it.value()}) != 0)
                    return fail("mosquitto_passwd failed");
            config += "allow_anonymous false\npassword_file " + passwords.toUtf8() + "\n";
        }
        QFile file(dir_.filePath("mosquitto.conf"));
        if (!file.open(QIODevice::WriteOnly) || file.write(config) != config.size())
            return fail("cannot write the broker's config");
        file.close();
        process_ = std::make_unique<QProcess>();
        process_->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_->start(QStringLiteral("/usr/sbin/mosquitto"), {"-c", file.fileName()});
        if (!process_->waitForStarted())
            return fail("mosquitto does not start: " + process_->errorString());
        const QDeadlineTimer deadline(10000);
        while (!deadline.hasExpired()) {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, quint16(port_));
            if (socket.waitForConnected(200))
                return true;
            if (process_->state() != QProcess::Running)
                return fail("mosquitto ended: " + Log());
            QThread::msleep(50);
        }
        return fail("mosquitto does not listen: " + Log());
    }
    void Stop()
    {
        if (!process_ || process_->state() == QProcess::NotRunning)
            return;
        ::kill(pid_t(process_->processId()), SIGTERM);
        if (!process_->waitForFinished(10000)) {
            process_->kill();
            process_->waitForFinished();
        }
    }
    int Port() const { return port_; }
    QString Url() const { return QStringLiteral("mqtt://127.0.0.1:%1").arg(port_); }
    QString Log() const
    {
        QFile f(dir_.filePath("broker.log"));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }
    QString ErrorText() const { return error_; }

private:
    bool fail(const QString &why)
    {
        error_ = why;
        return false;
    }
    QTemporaryDir dir_;
    std::unique_ptr<QProcess> process_;
    int port_ = 0;
    QString error_;
};

// mosquitto_sub on the broker: every message with the broker's time of it.
class MqttSubscriber {
public:
    struct Message {
        QDateTime At; // when the subscriber got it
        QString Topic;
        bool Retained = false;
        QByteArray Payload;
        QJsonObject Json() const { return QJsonDocument::fromJson(Payload).object(); }
    };

    MqttSubscriber(int port, const QStringList &topics, const QString &id = QString())
    {
        QStringList arguments{"-h", "127.0.0.1", "-p", QString::number(port), "-q", "1", "-F", "%j"};
        if (!id.isEmpty())
            arguments << "-i" << id;
        for (const QString &topic : topics)
            arguments << "-t" << topic;
        process_.start(QStringLiteral("mosquitto_sub"), arguments);
        process_.waitForStarted();
    }
    ~MqttSubscriber()
    {
        process_.kill();
        process_.waitForFinished();
    }
    // Every message so far, or those of one topic.
    QList<Message> Messages(const QString &topic = QString())
    {
        buffer_ += process_.readAllStandardOutput();
        qsizetype end;
        while ((end = buffer_.indexOf('\n')) >= 0) {
            const QJsonObject line = QJsonDocument::fromJson(buffer_.left(end)).object();
            buffer_.remove(0, end + 1);
            // "2026-12-07T10:00:00.123456+0000": to milliseconds and +00:00.
            const QString tst = line.value("tst").toString();
            const QString zone = tst.right(5);
            Message m;
            m.At = QDateTime::fromString(tst.left(23) + zone.left(3) + u':' + zone.right(2), Qt::ISODateWithMs);
            m.Topic = line.value("topic").toString();
            m.Retained = line.value("retain").toInt() != 0;
            m.Payload = line.value("payload").toString().toUtf8();
            messages_ << m;
        }
        if (topic.isEmpty())
            return messages_;
        QList<Message> some;
        for (const Message &m : messages_)
            if (m.Topic == topic)
                some << m;
        return some;
    }

private:
    QProcess process_;
    QByteArray buffer_;
    QList<Message> messages_;
};
