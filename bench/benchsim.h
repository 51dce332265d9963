#pragma once
// What the line benchmarks share: the --sim option, kvarn-sim on a
// pseudo-terminal, the program's channel and driver on it, a terminal that
// keeps what the driver shows and the wire time of a frame.

#include "benchmeasure.h"

#include "base/sinks.h"
#include "protocol/openprotocoldriver.h"
#include "serial/rs232channel.h"

#include <QByteArray>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QList>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

#ifndef KVARN_SIM_PATH
#define KVARN_SIM_PATH ""
#endif

namespace bench {

// Milliseconds that bytes take on a line of baud at ten bits per byte.
inline double WireMs(qint64 bytes, int baud)
{
    return bytes * 10.0 * 1000.0 / baud;
}

inline double Median(QList<double> v)
{
    std::sort(v.begin(), v.end());
    return v.isEmpty() ? 0 : v[v.size() / 2];
}

// Reads the command line: the help option, --sim (the emulator to run:
// KVARN_SIM, or the one built with the benchmark) and the benchmark's own.
inline void ParseOptions(QCommandLineParser &p, QCoreApplication &app, const QList<QCommandLineOption> &own)
{
    p.addHelpOption();
    p.addOption({"sim", "kvarn-sim executable", "path", qEnvironmentVariable("KVARN_SIM", KVARN_SIM_PATH)});
    p.addOptions(own);
    p.process(app);
}

// The driver's terminal lines, kept whole, or only counted.
class Terminal : public TerminalSink {
public:
    explicit Terminal(bool keep = true) : keep_(keep) {}
    QList<QByteArray> Lines;
    qint64 Requests = 0; // "-> " lines: attempts made
    int LineCount() const override { return int(Lines.size()); }
    void DeleteFirstLine() override { Lines.removeFirst(); }
    void AppendLine(const QByteArray &line) override
    {
        if (line.startsWith("-> "))
            ++Requests;
        if (keep_)
            Lines.append(line);
    }

private:
    bool keep_;
};

// kvarn-sim on a pseudo-terminal in a folder of its own; stopped on destruction.
class Sim {
public:
    // Waits until the emulator says it is up; says so on stderr when it is not.
    bool Start(const QString &program, const QStringList &options)
    {
        link_ = dir_.filePath("tty");
        return launch(program, QStringList{"--link", link_} + options) && QFileInfo::exists(link_);
    }
    // The same on a free TCP port of the loopback: Link() is then "socket://127.0.0.1:PORT".
    bool StartTcp(const QString &program, const QStringList &options)
    {
        if (!launch(program, QStringList{"--tcp", "127.0.0.1:0"} + options))
            return false;
        const qsizetype at = started_.lastIndexOf("127.0.0.1:");
        link_ = "socket://" + QString::fromLatin1(started_.mid(at).trimmed());
        return at >= 0;
    }
    // Ends the emulator, so that its log is complete.
    void Stop()
    {
        process_.terminate();
        process_.waitForFinished(5000);
    }
    ~Sim() { Stop(); }
    QString Link() const { return link_; }

private:
    bool launch(const QString &program, const QStringList &arguments)
    {
        process_.setProgram(program.isEmpty() ? QString::fromLocal8Bit(KVARN_SIM_PATH) : program);
        process_.setArguments(arguments);
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start();
        QElapsedTimer started;
        started.start();
        while (!started_.contains('\n') && started.elapsed() < 15000) {
            if (!process_.waitForReadyRead(500) && process_.state() == QProcess::NotRunning)
                break;
            started_ += process_.readAllStandardOutput();
        }
        if (started_.contains("kvarn-sim: installation") && started_.contains('\n'))
            return true;
        std::fprintf(stderr, "kvarn-sim did not start (%s)\n", qPrintable(process_.program()));
        return false;
    }

    QTemporaryDir dir_;
    QProcess process_;
    QString link_;
    QByteArray started_; // the start-up line
};

// The program's side of a started emulator: the channel opened on its line
// with the given rate and reply delay, and the driver on that channel.
class SimLine {
    // Declared before the driver, so that they outlive it.
    Sim sim_;
    TRS232Channel channel_;

public:
    bool Open(const QString &program, const QStringList &options, int baud,
              const QByteArray &latency = "Approximately 0.25 second")
    {
        if (!sim_.Start(program, options))
            return false;
        TComSettings &s = channel_.Settings();
        s.PortNumber = sim_.Link().toLocal8Bit();
        s.TransferRate = QByteArray::number(baud) + " baud";
        s.LatencyPeriod = latency;
        s.DTRControl = s.RTSControl = "HandShake";
        if (channel_.Open())
            return true;
        std::fprintf(stderr, "cannot open %s: %s\n", qPrintable(sim_.Link()), qPrintable(channel_.ErrorText()));
        return false;
    }
    TOpenProtocolDriver Driver{&channel_};
    TRS232Channel &Channel() { return channel_; }
};

} // namespace bench
