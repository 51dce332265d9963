#pragma once
// The command line of kvarn-sim.

#include "sim/simfaults.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

struct TSimOptions {
    int Device = 1;
    QList<int> Stations; // --stations: several installations on the link; empty: Device alone
    QString Link;       // --link PATH: pseudo-terminal behind a symbolic link
    QString TcpHost;    // --tcp HOST:PORT
    int TcpPort = -1;
    int Baud = 0;       // 0: replies go out unpaced
    int ReplyDelay = 0; // ms of quiet before every reply
    quint64 Seed = 1;
    int Records = 300;
    int BlockSize = 128;
    int BlockCount = -1;
    QList<QPair<QByteArray, QByteArray>> Sets; // code page 1251
    QList<QByteArray> Activity;
    TSimFaultSchedule Faults;
    QString LogFile;    // "-": standard output
    bool Help = false;
    QString Probe;      // --probe PATH: ask an installation instead of being one
};

// Parses the arguments (without the program name). False with the reason.
// The device numbers answered: Stations, or Device alone.
QList<int> SimStations(const TSimOptions &options);

bool ParseSimOptions(const QStringList &arguments, TSimOptions &options, QString *error);
QString SimHelpText();
