#pragma once
// kvarnctl: the installation's exchanges from the command line, on the core
// library alone. One function per command; each prints its results on
// standard output and its messages on standard error and gives the exit
// status:
//   0  everything succeeded
//   1  a transaction failed (standard error names the variable), or the
//      installation kept another value than the one written
//   2  a usage, configuration or file error, or a port that cannot be
//      opened; for usage and configuration errors nothing has been sent

#include "cli/cliarguments.h"

#include <QByteArray>
#include <QDateTime>
#include <QStringList>
#include <memory>
#include <optional>

class TCliConsole;
class TCliTerminal;
class TCliProgress;
class TRS232Channel;
class TOpenProtocolDriver;
class TORMAK;
class TOPVarList;
class TArchiveAppendFile;

constexpr int kCliOk = 0;
constexpr int kCliFailed = 1;
constexpr int kCliUsage = 2;

class TKvarnCtl {
public:
    explicit TKvarnCtl(TCliConsole &console);
    ~TKvarnCtl();
    TKvarnCtl(const TKvarnCtl &) = delete;
    TKvarnCtl &operator=(const TKvarnCtl &) = delete;

    // Parses the arguments (without the program name) and runs the command.
    int Run(const QStringList &arguments);
    int Run(const TCliRequest &request);

    // Whether the installation took a written value, judging by its echo: the
    // same text, the same number ("1000" for "1000.0"), or for DATETIME a time
    // at most a few seconds from the one written (its clock runs on).
    static bool EchoTakes(const QByteArray &name, const QByteArray &written, const QByteArray &echoed);

    // The stable name of a device in byIdDir (/dev/serial/by-id), which
    // names a USB adapter by its make and serial number and so survives
    // replugging; empty when no link there leads to the device.
    static QString StablePortPath(const QString &device, const QString &byIdDir);
    // One line of "ports": the name for --port, what the system knows of the
    // port (description, maker, serial number, USB vendor:product) and the
    // stable path where there is one.
    struct PortDescription {
        QString Location;
        QString Description;
        QString Manufacturer;
        QString SerialNumber;
        std::optional<quint16> Vendor;
        std::optional<quint16> Product;
        QString StablePath;
    };
    static QString PortLine(const PortDescription &port);

private:
    int runCommand();
    int openLine();
    // One read or write transaction on the list. Prints NAME=VALUE for every
    // item the transaction got to; on failure names the variable it failed on.
    bool transfer(TOPVarList &list, bool write);
    // Reports values the installation did not take; kCliFailed if any.
    int checkEchoes(const TOPVarList &list);
    bool readRecordCount();

    int cmdRead();
    int cmdGet();
    int cmdSet();
    int cmdSyncClock();
    int cmdSpectrum();
    int cmdArchive();
    int checkAppendFile(TArchiveAppendFile &target, QList<QByteArray> &names);
    int printDryRun(const QList<QByteArray> &names, int count, int first, int last, int searchReads);
    int cmdPoll();
    int cmdConvert();
    int cmdPorts();
    int cmdPasswd();
    int cmdReport();

    TCliConsole &console_;
    TCliRequest request_;
    std::unique_ptr<TCliTerminal> terminal_;
    std::unique_ptr<TCliProgress> progress_;
    std::unique_ptr<TRS232Channel> channel_;
    std::unique_ptr<TOpenProtocolDriver> driver_;
    std::unique_ptr<TORMAK> ormak_;
};
