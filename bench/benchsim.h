#pragma once
// What the line benchmarks share: kvarn-sim on a pseudo-terminal, the
// program's channel on it, a terminal that keeps what the driver shows, the
// wire time of a frame and the process's resident memory.

#include "base/sinks.h"
#include "serial/rs232channel.h"

#include <QByteArray>
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

// Resident memory of this process in KiB, from /proc (0 where there is none).
inline long ResidentKiB()
{
    std::FILE *f = std::fopen("/proc/self/status", "r");
    if (!f)
        return 0;
    char line[256];
    long kib = 0;
    while (std::fgets(line, sizeof line, f))
        if (std::sscanf(line, "VmRSS: %ld kB", &kib) == 1)
            break;
    std::fclose(f);
    return kib;
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
    bool Start(const QString &program, const QStringList &options)
    {
        link_ = dir_.filePath("tty");
        process_.setProgram(program.isEmpty() ? QString::fromLocal8Bit(KVARN_SIM_PATH) : program);
        process_.setArguments(QStringList{"--link", link_} + options);
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start();
        QByteArray out;
        QElapsedTimer started;
        started.start();
        while (!out.contains("kvarn-sim: installation") && started.elapsed() < 15000) {
            if (!process_.waitForReadyRead(500) && process_.state() == QProcess::NotRunning)
                break;
            out += process_.readAllStandardOutput();
        }
        return QFileInfo::exists(link_);
    }
    ~Sim()
    {
        process_.terminate();
        process_.waitForFinished(5000);
    }
    QString Link() const { return link_; }

private:
    QTemporaryDir dir_;
    QProcess process_;
    QString link_;
};

// Opens the channel on the emulator's line with the given rate and reply delay.
inline bool OpenChannel(TRS232Channel &channel, const Sim &sim, int baud,
                        const QByteArray &latency = "Approximately 0.25 second")
{
    TComSettings &s = channel.Settings();
    s.PortNumber = sim.Link().toLocal8Bit();
    s.TransferRate = QByteArray::number(baud) + " baud";
    s.LatencyPeriod = latency;
    s.DTRControl = s.RTSControl = "HandShake";
    if (channel.Open())
        return true;
    std::fprintf(stderr, "cannot open %s: %s\n", qPrintable(sim.Link()), qPrintable(channel.ErrorText()));
    return false;
}

} // namespace bench
