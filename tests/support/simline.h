#pragma once
// The program's serial channel and protocol driver on the emulator's line,
// with the terminal's lines kept for the test to read.

#include "base/sinks.h"
#include "protocol/openprotocoldriver.h"
#include "serial/rs232channel.h"
#include "support/simprocess.h"

#include <QByteArray>
#include <QList>

class RecordingTerminal : public TerminalSink {
public:
    QList<QByteArray> Lines;
    QList<QDateTime> Times; // when each line's event happened
    int LineCount() const override { return int(Lines.size()); }
    void DeleteFirstLine() override
    {
        Lines.removeFirst();
        Times.removeFirst();
    }
    void AppendLine(const QByteArray &line) override { AppendLineAt(line, QDateTime::currentDateTime()); }
    void AppendLineAt(const QByteArray &line, const QDateTime &when) override
    {
        Lines.append(line);
        Times.append(when);
    }
};

struct ProgramOnSim {
    TRS232Channel channel;
    TOpenProtocolDriver driver{&channel};
    RecordingTerminal terminal;

    // Opens the emulator's link with these line settings, handshake on.
    bool open(const SimProcess &sim, const QByteArray &rate, const QByteArray &latency = "Approximately 0.25 second")
    {
        TComSettings &s = channel.Settings();
        s.PortNumber = sim.LinkPath().toLocal8Bit();
        s.TransferRate = rate;
        s.LatencyPeriod = latency;
        s.DTRControl = "HandShake";
        s.RTSControl = "HandShake";
        driver.SetTerminal(&terminal);
        return channel.Open();
    }
};
