#pragma once
// The command line of kvarnctl, parsed and checked completely before anything
// is sent: a command line that passes here names a known command, known
// groups, well-formed variables, values the protocol can carry, numbers that
// are numbers and output files whose folders exist.
//
//   kvarnctl [--port NAME] [--baud RATE] [--config FILE] [--device N] [--verbose] COMMAND [ARGS]
//
// Options may stand anywhere on the line ("--" ends them); "--name=value"
// and "--name value" are the same.

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <optional>

enum class TCliCommand {
    None, Help, Read, Get, Set, SyncClock, Spectrum, Archive, Poll, Convert, Ports, Passwd, Report, Export, Peaks, Status,
    CopyDb
};

// The variable groups of "read", each one list of the installation's variable set.
enum class TCliGroup { Common, Alarm, Counter, Service, Records, Test };

// One variable of "get" or "set", in code page 1251.
struct TCliVariable {
    QByteArray Name;
    QByteArray Index;
    QByteArray Value;
    bool operator==(const TCliVariable &) const = default;
};

struct TCliRequest {
    // --- the line --------------------------------------------------------------
    std::optional<QString> Port;    // --port: overrides PortNumber
    std::optional<quint32> Baud;    // --baud: overrides TransferRate ("RATE baud")
    QString ConfigFile;             // --config; empty: "commport.cfg" beside the program
    quint8 Device = 1;              // --device, 1..255
    bool DeviceGiven = false;       // else the line settings' DeviceNumber
    bool Verbose = false;           // --verbose: the exchange on standard error

    TCliCommand Command = TCliCommand::None;
    // "help COMMAND", "COMMAND --help": the command whose help is wanted
    // (None: the tool's).
    TCliCommand HelpFor = TCliCommand::None;

    QList<TCliGroup> Groups;        // read
    QList<TCliVariable> Variables;  // get, set

    bool Background = false;        // spectrum background
    QString OutputFile;             // -o: .spc or .daf
    QString CsvFile;                // --csv; "-" is standard output

    QList<QByteArray> ArchiveColumns{"DATETIME", "ACTIVITY"}; // --vars, as the installation names them
    int Step = 1;                   // --step
    int From = 1;                   // --from
    std::optional<int> To;          // --to; none: up to the last record
    bool ArchiveColumnsGiven = false; // --vars was given
    // --since, --until: the range found by time (the installation's wall
    // clock, carried as UTC like its times read back).
    std::optional<QDateTime> Since;
    std::optional<QDateTime> Until;
    // --append FILE.daf / --append-csv FILE.csv: the records after the
    // file's last one, added to it.
    QString AppendFile;
    bool AppendCsv = false;
    bool DryRun = false;            // --dry-run: the range and its line time only

    int Interval = 10;              // poll --interval, seconds 1..255
    std::optional<int> Count;       // poll --count; none: until interrupted

    QString Input;                  // convert IN, passwd encode PLAIN, passwd decode FILE, report FILE.daf
    QString Output;                 // convert OUT, passwd encode OUT
    bool Encode = false;            // passwd encode (else decode)

    QString Database;               // export --db URL
    QString Installation;           // export --installation NAME
    bool ListInstallations = false; // export --list
    QStringList Installations;      // export --installation, every one given
    QString ExportFormat;           // export --format: empty (by -o's suffix) or "eurdep"
    int PeriodSeconds = 3600;       // export --period 10min|1h
    QString CopyFrom, CopyTo;       // copy-db --from URL --to URL
    bool ZonedTimes = false;        // --since/--until carried a zone (UTC then)
    bool Json = false;              // status --json

    // peaks FILE (in Input): --background FILE, --threshold SIGMA, --csv
    QString BackgroundFile;
    double Threshold = 3.0;
    bool PeaksCsv = false;

    // Whether the command talks to the installation (and so needs the line).
    bool UsesLine() const;
};

// False with a message saying what is wrong; request is then unspecified.
bool ParseCliArguments(const QStringList &arguments, TCliRequest &request, QString *error);

// Whether the command line asks for a command that draws pages (report):
// the program then needs a graphical application, on the offscreen platform
// unless QT_QPA_PLATFORM names another.
bool CliCommandDrawsPages(const QStringList &arguments);

// The command's name on the command line ("sync-clock").
QString CliCommandName(TCliCommand command);
QString CliGroupName(TCliGroup group);

// The help text of the tool (None) or of one command.
QString CliHelpText(TCliCommand command);

// --- the rules, shared with the commands ------------------------------------------

// Names and indexes are ASCII letters, digits and "_".
bool IsCliVariableWord(const QByteArray &word);
// Why a value cannot be written, or an empty text when it can. The protocol
// cannot carry ";" or ":" inside a value, a value starting with "??" would be
// a read request, and control characters have no place in a value.
QString CliValueProblem(const QByteArray &value);
// Why a file cannot be written there ("-" is standard output), or empty.
QString CliOutputProblem(const QString &path);
// Why a file cannot be read as one: it does not exist, or it is a folder, a
// pipe, a device or a socket (which would block the read or never end); or
// empty.
QString CliInputProblem(const QString &path);
