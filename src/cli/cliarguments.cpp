#include "cli/cliarguments.h"
#include "cli/clieurdep.h"
#include "cli/cliexport.h"
#include "store/sitestore.h"

#include "instrument/archivesearch.h"
#include "instrument/spectrumformats.h"

#include "base/cp1251.h"
#include "base/textutils.h"
#include "protocol/frame.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <limits>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace {

struct CommandInfo {
    TCliCommand Command;
    const char *Name;
    // The command's own options (besides the line options and --help).
    QStringList Options;
};

const QList<CommandInfo> &commands()
{
    static const QList<CommandInfo> list = {
        {TCliCommand::Read, "read", {}},
        {TCliCommand::Get, "get", {}},
        {TCliCommand::Set, "set", {}},
        {TCliCommand::SyncClock, "sync-clock", {}},
        {TCliCommand::Spectrum, "spectrum", {"-o", "--csv"}},
        {TCliCommand::Archive,
         "archive",
         {"--vars", "--step", "--from", "--to", "-o", "--csv", "--since", "--until", "--append", "--append-csv",
          "--dry-run"}},
        {TCliCommand::Poll, "poll", {"--interval", "--count"}},
        {TCliCommand::Convert, "convert", {}},
        {TCliCommand::Ports, "ports", {}},
        {TCliCommand::Passwd, "passwd", {}},
        {TCliCommand::Report, "report", {"-o", "--since", "--until", "--db", "--installation"}},
        {TCliCommand::Export, "export", {"--db", "--installation", "--list", "--since", "--until", "-o", "--format", "--period"}},
        {TCliCommand::Status, "status", {"--db", "--installation", "--json"}},
        {TCliCommand::Peaks, "peaks", {"--background", "--threshold", "--csv"}},
        {TCliCommand::CopyDb, "copy-db", {"--from", "--to"}},
        {TCliCommand::Help, "help", {}},
    };
    return list;
}

const QStringList kLineOptions = {"--port", "--baud", "--config", "--device"};
const QStringList kValueOptions = kLineOptions + QStringList{"-o", "--csv", "--vars", "--step", "--from", "--to",
                                                              "--interval", "--count", "--since", "--until",
                                                              "--append", "--append-csv", "--db", "--installation",
                                                              "--background", "--threshold", "--format", "--period"};
// Options of a command that take no value.
const QStringList kFlagOptions = {"--dry-run", "--list", "--json"};

const QList<QPair<TCliGroup, const char *>> kGroups = {
    {TCliGroup::Common, "common"},   {TCliGroup::Alarm, "alarm"},     {TCliGroup::Counter, "counter"},
    {TCliGroup::Service, "service"}, {TCliGroup::Records, "records"}, {TCliGroup::Test, "test"},
};

// The twelve variables an archive record holds, in the installation's order.
const QList<QByteArray> kArchiveVariables = {"DATETIME", "SERIALN",  "DRYCONTACTIN", "DRYCONTACTOUT",
                                             "DRYCONTACTTHR", "KOEFFICIENT", "ALARM1", "ALARM2",
                                             "ALARM1ON", "ALARM2ON", "STATUS", "ACTIVITY"};

struct Option {
    QString Name;
    QString Value;
};

class Parser {
public:
    Parser(TCliRequest &request, QString *error) : r_(request), error_(error) {}

    bool Run(const QStringList &arguments);

private:
    bool fail(const QString &why)
    {
        if (error_)
            *error_ = why;
        return false;
    }

    bool number(const Option &o, qint64 low, qint64 high, qint64 &out);
    bool lineOption(const Option &o);
    bool commandOption(const Option &o);
    bool variable(const QString &argument, bool withValue);
    bool outputs(bool required);
    bool archive();
    bool report(const QStringList &args);
    bool given(const char *name) const;
    bool command();

    TCliRequest &r_;
    QString *error_;
    QList<Option> options_;
    QStringList positional_;
};

bool Parser::number(const Option &o, qint64 low, qint64 high, qint64 &out)
{
    const QString &t = o.Value;
    bool digits = !t.isEmpty() && t.size() <= 12;
    for (int i = 0; digits && i < t.size(); ++i) {
        const QChar c = t[i];
        digits = (c >= u'0' && c <= u'9') || (i == 0 && (c == u'-' || c == u'+') && t.size() > 1);
    }
    bool ok = false;
    out = digits ? t.toLongLong(&ok) : 0;
    if (!ok)
        return fail(QStringLiteral("%1 takes a whole number, not \"%2\"").arg(o.Name, t));
    if (out < low || out > high)
        return fail(QStringLiteral("%1 takes a whole number from %2 to %3, not %4").arg(o.Name).arg(low).arg(high).arg(out));
    return true;
}

bool Parser::lineOption(const Option &o)
{
    qint64 n = 0;
    if (o.Name == u"--port") {
        if (o.Value.isEmpty())
            return fail(QStringLiteral("--port needs a port name (COM1, /dev/ttyUSB0, socket://HOST:PORT)"));
        r_.Port = o.Value;
    } else if (o.Name == u"--baud") {
        if (!number(o, 50, 4000000, n))
            return false;
        r_.Baud = quint32(n);
    } else if (o.Name == u"--config") {
        if (o.Value.isEmpty())
            return fail(QStringLiteral("--config needs a file name"));
        r_.ConfigFile = o.Value;
    } else if (o.Name == u"--device") {
        if (!number(o, 1, 255, n))
            return false;
        r_.Device = quint8(n);
        r_.DeviceGiven = true;
    }
    return true;
}

bool Parser::commandOption(const Option &o)
{
    constexpr qint64 intMin = std::numeric_limits<int>::min();
    constexpr qint64 intMax = std::numeric_limits<int>::max();
    qint64 n = 0;
    if (o.Name == u"-o") {
        if (o.Value.isEmpty())
            return fail(QStringLiteral("-o needs a file name"));
        r_.OutputFile = o.Value;
    } else if (o.Name == u"--csv" && r_.Command == TCliCommand::Peaks) {
        if (!o.Value.isEmpty())
            return fail(QStringLiteral("peaks --csv takes no value: the table goes to standard output"));
        r_.PeaksCsv = true;
    } else if (o.Name == u"--background") {
        if (o.Value.isEmpty())
            return fail(QStringLiteral("--background needs a spectrum file"));
        r_.BackgroundFile = o.Value;
    } else if (o.Name == u"--threshold") {
        bool ok = false;
        r_.Threshold = o.Value.toDouble(&ok);
        if (!ok || !(r_.Threshold >= 1 && r_.Threshold <= 100))
            return fail(QStringLiteral("--threshold takes a number of standard deviations from 1 to 100, not \"%1\"")
                            .arg(o.Value));
    } else if (o.Name == u"--csv") {
        if (o.Value.isEmpty())
            return fail(QStringLiteral("--csv needs a file name (- for standard output)"));
        r_.CsvFile = o.Value;
    } else if (o.Name == u"--vars") {
        r_.ArchiveColumns.clear();
        for (const QString &part : o.Value.split(u',')) {
            const QByteArray name = AsciiUpper(part.trimmed().toLatin1());
            if (!kArchiveVariables.contains(name))
                return fail(QStringLiteral("--vars: \"%1\" is not an archive variable (they are %2)")
                                .arg(part.trimmed(), QString::fromLatin1(kArchiveVariables.join(", "))));
            if (r_.ArchiveColumns.contains(name))
                return fail(QStringLiteral("--vars names %1 twice").arg(QString::fromLatin1(name)));
            r_.ArchiveColumns.append(name);
        }
        r_.ArchiveColumnsGiven = true;
    } else if (o.Name == u"--since" || o.Name == u"--until") {
        std::optional<QDateTime> time = ParseCliTime(o.Value);
        if (!time && r_.Command == TCliCommand::Export) {
            time = ParseZonedTime(o.Value);
            r_.ZonedTimes = r_.ZonedTimes || time.has_value();
        }
        if (!time)
            return fail(QStringLiteral("%1 takes a local time as YYYY-MM-DD[ HH:MM[:SS]] or dd/mm/yyyy hh.mm.ss%3, "
                                       "not \"%2\"")
                            .arg(o.Name, o.Value,
                                 r_.Command == TCliCommand::Export ? QStringLiteral(" (with --format eurdep also "
                                                                                    "with a zone: 2026-12-01T00:00+03:00)")
                                                                   : QString()));
        (o.Name == u"--since" ? r_.Since : r_.Until) = time;
    } else if (o.Name == u"--append" || o.Name == u"--append-csv") {
        if (o.Value.isEmpty())
            return fail(QStringLiteral("%1 needs a file name").arg(o.Name));
        if (!r_.AppendFile.isEmpty())
            return fail(QStringLiteral("give one file to append to"));
        r_.AppendFile = o.Value;
        r_.AppendCsv = o.Name == u"--append-csv";
    } else if (o.Name == u"--dry-run") {
        r_.DryRun = true;
    } else if (o.Name == u"--db") {
        r_.Database = o.Value;
    } else if (o.Name == u"--installation") {
        r_.Installation = o.Value;
        r_.Installations << o.Value;
    } else if (o.Name == u"--format") {
        if (o.Value != u"eurdep")
            return fail(QStringLiteral("--format takes eurdep (.daf and CSV go by the name given to -o)"));
        r_.ExportFormat = o.Value;
    } else if (o.Name == u"--period") {
        if (o.Value != u"1h" && o.Value != u"10min")
            return fail(QStringLiteral("--period takes 1h or 10min"));
        r_.PeriodSeconds = o.Value == u"1h" ? 3600 : 600;
    } else if (o.Name == u"--list") {
        r_.ListInstallations = true;
    } else if (o.Name == u"--json") {
        r_.Json = true;
    } else if (r_.Command == TCliCommand::CopyDb && (o.Name == u"--from" || o.Name == u"--to")) {
        (o.Name == u"--from" ? r_.CopyFrom : r_.CopyTo) = o.Value;
    } else if (o.Name == u"--step" || o.Name == u"--from" || o.Name == u"--to") {
        // Out-of-range values are clamped to the archive as the window does.
        if (!number(o, intMin, intMax, n))
            return false;
        if (o.Name == u"--step")
            r_.Step = int(n);
        else if (o.Name == u"--from")
            r_.From = int(n);
        else
            r_.To = int(n);
    } else if (o.Name == u"--interval") {
        if (!number(o, 1, 255, n))
            return false;
        r_.Interval = int(n);
    } else if (o.Name == u"--count") {
        if (!number(o, 1, intMax, n))
            return false;
        r_.Count = int(n);
    }
    return true;
}

// NAME[:INDEX] or, with a value, NAME[:INDEX]=VALUE.
bool Parser::variable(const QString &argument, bool withValue)
{
    QString reference = argument;
    QString value;
    if (withValue) {
        const qsizetype eq = argument.indexOf(u'=');
        if (eq < 0)
            return fail(QStringLiteral("set takes NAME=VALUE, not \"%1\"").arg(argument));
        reference = argument.left(eq);
        value = argument.mid(eq + 1);
    }
    const qsizetype colon = reference.indexOf(u':');
    const QString name = colon < 0 ? reference : reference.left(colon);
    const QString index = colon < 0 ? QString() : reference.mid(colon + 1);
    const QByteArray name8 = name.toUtf8();
    const QByteArray index8 = index.toUtf8();
    if (!IsCliVariableWord(name8) || (colon >= 0 && !IsCliVariableWord(index8)))
        return fail(QStringLiteral("\"%1\" is not a variable: NAME or NAME:INDEX, made of letters, digits and _")
                        .arg(reference));

    TCliVariable v{name8, index8, {}};
    if (withValue) {
        v.Value = ToCp1251(value);
        if (FromCp1251(v.Value) != value)
            return fail(QStringLiteral("%1: the value \"%2\" has characters that code page 1251 cannot hold")
                            .arg(reference, value));
        const QString problem = CliValueProblem(v.Value);
        if (!problem.isEmpty())
            return fail(QStringLiteral("%1: %2").arg(reference, problem));
    }
    for (const TCliVariable &other : r_.Variables)
        if (SameTextAscii(other.Name, v.Name) && SameTextAscii(other.Index, v.Index))
            return fail(QStringLiteral("%1 is named twice").arg(reference));

    const QByteArray text = withValue ? WriteRequestText(v.Name, v.Index, v.Value) : ReadRequestText(v.Name, v.Index);
    if (text.size() > kMaxRequestText)
        return fail(QStringLiteral("%1: the request would be %2 characters, and a frame carries at most %3")
                        .arg(reference)
                        .arg(text.size())
                        .arg(kMaxRequestText));
    r_.Variables.append(v);
    return true;
}

bool Parser::outputs(bool required)
{
    if (required && r_.OutputFile.isEmpty() && r_.CsvFile.isEmpty())
        return fail(QStringLiteral("%1 needs -o FILE and/or --csv FILE").arg(CliCommandName(r_.Command)));
    if (r_.OutputFile == u"-")
        return fail(QStringLiteral("-o writes a file; use --csv - for standard output"));
    for (const QString *file : {&r_.OutputFile, &r_.CsvFile}) {
        if (file->isEmpty())
            continue;
        const QString problem = CliOutputProblem(*file);
        if (!problem.isEmpty())
            return fail(problem);
    }
    if (!r_.OutputFile.isEmpty() && !r_.CsvFile.isEmpty()
        && QFileInfo(r_.OutputFile).absoluteFilePath() == QFileInfo(r_.CsvFile).absoluteFilePath())
        return fail(QStringLiteral("-o and --csv name the same file"));
    return true;
}

bool Parser::given(const char *name) const
{
    for (const Option &o : options_)
        if (o.Name == QLatin1String(name))
            return true;
    return false;
}

// The range is given by record numbers (--from, --to), by time (--since,
// --until) or by the file appended to (its last record, up to --until); the
// records go to new files (-o, --csv) or onto the end of the one appended to.
bool Parser::archive()
{
    const bool byNumber = given("--from") || given("--to");
    if (byNumber && (r_.Since || r_.Until))
        return fail(QStringLiteral("--from and --to count records, --since and --until find them by time: give one "
                                   "or the other"));
    if (r_.Since && r_.Until && *r_.Until < *r_.Since)
        return fail(QStringLiteral("--until is earlier than --since"));
    if (r_.AppendFile.isEmpty())
        return outputs(!r_.DryRun);

    const QString option = r_.AppendCsv ? QStringLiteral("--append-csv") : QStringLiteral("--append");
    if (!r_.OutputFile.isEmpty() || !r_.CsvFile.isEmpty())
        return fail(QStringLiteral("%1 writes its own file: -o and --csv do not go with it").arg(option));
    if (byNumber || r_.Since)
        return fail(QStringLiteral("%1 reads the records after the file's last one: --from, --to and --since do not "
                                   "go with it")
                        .arg(option));
    const QString suffix = QFileInfo(r_.AppendFile).suffix().toLower();
    if (suffix != (r_.AppendCsv ? u"csv" : u"daf"))
        return fail(QStringLiteral("%1 takes a .%2 file").arg(option, r_.AppendCsv ? "csv" : "daf"));
    if (QFileInfo::exists(r_.AppendFile)) {
        if (const QString problem = CliInputProblem(r_.AppendFile); !problem.isEmpty())
            return fail(problem);
    }
    const QString problem = CliOutputProblem(r_.AppendFile);
    return problem.isEmpty() ? true : fail(problem);
}

// An archive period as a PDF report: of an archive file, or of the records
// the site database holds for one installation.
bool Parser::report(const QStringList &args)
{
    if (!r_.Database.isEmpty() || !r_.Installation.isEmpty()) {
        if (!args.isEmpty())
            return fail(QStringLiteral("report takes an archive file or --db and --installation, not both"));
        if (r_.Database.isEmpty() || r_.Installation.isEmpty())
            return fail(QStringLiteral("report --db URL --installation NAME: give both"));
        QString error;
        if (!TStoreUrl::Parse(r_.Database, &error))
            return fail(error);
    } else if (args.size() != 1 || QFileInfo(args[0]).suffix().toLower() != u"daf") {
        return fail(QStringLiteral("report takes one archive file (.daf), or --db URL --installation NAME"));
    } else {
        r_.Input = args[0];
    }
    if (r_.Since && r_.Until && *r_.Until < *r_.Since)
        return fail(QStringLiteral("--until is earlier than --since"));
    if (r_.OutputFile.isEmpty() || QFileInfo(r_.OutputFile).suffix().toLower() != u"pdf")
        return fail(QStringLiteral("report needs -o REPORT.pdf"));
    return outputs(true);
}

bool Parser::command()
{
    const QString name = CliCommandName(r_.Command);
    const QStringList args = positional_.mid(1);
    auto noArguments = [&]() {
        return args.isEmpty() ? true : fail(QStringLiteral("%1 takes no arguments (\"%2\")").arg(name, args.first()));
    };

    switch (r_.Command) {
    case TCliCommand::None:
    case TCliCommand::Help:
        return true;
    case TCliCommand::Read:
        if (args.isEmpty())
            return fail(QStringLiteral("read needs one or more groups: common, alarm, counter, service, records, test"));
        for (const QString &arg : args) {
            bool found = false;
            for (const auto &[group, groupName] : kGroups)
                if (arg.compare(QLatin1String(groupName), Qt::CaseInsensitive) == 0) {
                    r_.Groups.append(group);
                    found = true;
                }
            if (!found)
                return fail(QStringLiteral("unknown group \"%1\" (the groups are common, alarm, counter, service, "
                                           "records, test)")
                                .arg(arg));
        }
        return true;
    case TCliCommand::Get:
    case TCliCommand::Set:
        if (args.isEmpty())
            return fail(r_.Command == TCliCommand::Get ? QStringLiteral("get needs one or more NAME[:INDEX]")
                                                       : QStringLiteral("set needs one or more NAME[:INDEX]=VALUE"));
        for (const QString &arg : args)
            if (!variable(arg, r_.Command == TCliCommand::Set))
                return false;
        return true;
    case TCliCommand::SyncClock:
    case TCliCommand::Ports:
        return noArguments();
    case TCliCommand::Spectrum:
        if (args.size() != 1 || (args[0] != u"main" && args[0] != u"background"))
            return fail(QStringLiteral("spectrum takes main or background"));
        r_.Background = args[0] == u"background";
        return outputs(true);
    case TCliCommand::Archive:
        return noArguments() && archive();
    case TCliCommand::Poll:
        return noArguments();
    case TCliCommand::Convert: {
        if (args.size() != 2)
            return fail(QStringLiteral("convert takes IN OUT: an archive (.daf) and a .csv, or a spectrum (.spc, .n42, "
                                       ".spe, .csv) and another"));
        r_.Input = args[0];
        r_.Output = args[1];
        const bool archive = QFileInfo(r_.Input).suffix().toLower() == u"daf";
        if (!archive && !SpectrumFormatOf(r_.Input))
            return fail(QStringLiteral("convert reads .daf and .spc files, and spectra as .n42, .spe or .csv, not \"%1\"")
                            .arg(r_.Input));
        const std::optional<TSpectrumFormat> out = SpectrumFormatOf(r_.Output);
        if (archive && r_.Output != u"-" && out != TSpectrumFormat::Csv)
            return fail(QStringLiteral("convert writes CSV of an archive: OUT ends with .csv (or is - for standard output)"));
        if (!archive && r_.Output != u"-" && !out)
            return fail(QStringLiteral("convert writes a spectrum as .spc, .n42, .spe or .csv (or - for CSV on standard "
                                       "output), not \"%1\"")
                            .arg(r_.Output));
        if (QFileInfo(r_.Input).absoluteFilePath() == QFileInfo(r_.Output).absoluteFilePath())
            return fail(QStringLiteral("IN and OUT are the same file"));
        (r_.Output == u"-" || out == TSpectrumFormat::Csv ? r_.CsvFile : r_.OutputFile) = r_.Output;
        return outputs(false);
    }
    case TCliCommand::Export:
    case TCliCommand::Status: {
        if (!noArguments())
            return false;
        const QString problem = r_.Command == TCliCommand::Export ? CliExportProblem(r_) : CliStatusProblem(r_);
        return problem.isEmpty() || fail(problem);
    }
    case TCliCommand::CopyDb: {
        if (!noArguments())
            return false;
        if (r_.CopyFrom.isEmpty() || r_.CopyTo.isEmpty())
            return fail(QStringLiteral("copy-db needs --from URL and --to URL"));
        QString error;
        for (const QString &url : {r_.CopyFrom, r_.CopyTo})
            if (!TStoreUrl::Parse(url, &error))
                return fail(error);
        if (TStoreUrl::Parse(r_.CopyFrom, nullptr)->Display() == TStoreUrl::Parse(r_.CopyTo, nullptr)->Display())
            return fail(QStringLiteral("--from and --to name the same database"));
        return true;
    }
    case TCliCommand::Peaks:
        if (args.size() != 1)
            return fail(QStringLiteral("peaks takes one spectrum file (.spc, .n42, .spe or .csv)"));
        r_.Input = args[0];
        for (const QString &file : {r_.Input, r_.BackgroundFile})
            if (!file.isEmpty() && !SpectrumFormatOf(file))
                return fail(QStringLiteral("peaks reads spectra as .spc, .n42, .spe or .csv, not \"%1\"").arg(file));
        return true;
    case TCliCommand::Passwd:
        if (args.size() == 3 && args[0] == u"encode") {
            r_.Encode = true;
            r_.Input = args[1];
            r_.Output = args[2];
            const QString problem = CliOutputProblem(r_.Output);
            return problem.isEmpty() ? true : fail(problem);
        }
        if (args.size() == 2 && args[0] == u"decode") {
            r_.Input = args[1];
            return true;
        }
        return fail(QStringLiteral("passwd takes encode PLAIN OUT or decode FILE"));
    case TCliCommand::Report:
        return report(args);
    }
    return true;
}

// Whether the command is "peaks": the first argument that is neither an
// option nor an option's value.
bool peaksCommand(const QStringList &arguments)
{
    for (int i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == u"--")
            return i + 1 < arguments.size() && arguments[i + 1] == u"peaks";
        if (!arguments[i].startsWith(u'-') || arguments[i] == u"-")
            return arguments[i] == u"peaks";
        if (kValueOptions.contains(arguments[i]))
            ++i;
    }
    return false;
}

bool Parser::Run(const QStringList &arguments)
{
    r_ = TCliRequest();
    const bool peaks = peaksCommand(arguments);
    bool help = false;
    bool optionsEnded = false;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString &arg = arguments[i];
        if (optionsEnded || !arg.startsWith(u'-') || arg == u"-") {
            positional_.append(arg);
            continue;
        }
        if (arg == u"--") {
            optionsEnded = true;
            continue;
        }
        Option o{arg, {}};
        const qsizetype eq = arg.indexOf(u'=');
        const bool inlineValue = arg.startsWith(u"--") && eq > 2;
        if (inlineValue) {
            o.Name = arg.left(eq);
            o.Value = arg.mid(eq + 1);
        }
        if (o.Name == u"--help" || o.Name == u"-h") {
            help = true;
        } else if (o.Name == u"--verbose") {
            r_.Verbose = true;
        } else if (kFlagOptions.contains(o.Name) || (o.Name == u"--csv" && peaks && !inlineValue)) {
            options_.append(o); // peaks --csv: the table as CSV on standard output
        } else if (kValueOptions.contains(o.Name)) {
            if (!inlineValue) {
                if (i + 1 >= arguments.size())
                    return fail(QStringLiteral("%1 needs a value").arg(o.Name));
                o.Value = arguments[++i];
            }
            options_.append(o);
        } else {
            return fail(QStringLiteral("unknown option %1").arg(o.Name));
        }
        if ((o.Name == u"--help" || o.Name == u"--verbose" || kFlagOptions.contains(o.Name)) && inlineValue)
            return fail(QStringLiteral("%1 takes no value").arg(o.Name));
    }

    if (!positional_.isEmpty()) {
        r_.Command = TCliCommand::None;
        for (const CommandInfo &info : commands())
            if (positional_[0] == QLatin1String(info.Name))
                r_.Command = info.Command;
        if (r_.Command == TCliCommand::None)
            return fail(QStringLiteral("unknown command \"%1\" (kvarnctl --help lists them)").arg(positional_[0]));
    }

    if (r_.Command == TCliCommand::Help || help) {
        TCliCommand topic = r_.Command;
        if (r_.Command == TCliCommand::Help) {
            topic = TCliCommand::None;
            if (positional_.size() > 2)
                return fail(QStringLiteral("help takes at most one command"));
            if (positional_.size() == 2) {
                for (const CommandInfo &info : commands())
                    if (positional_[1] == QLatin1String(info.Name))
                        topic = info.Command;
                if (topic == TCliCommand::None)
                    return fail(QStringLiteral("unknown command \"%1\" (kvarnctl --help lists them)").arg(positional_[1]));
            }
        }
        r_.HelpFor = topic == TCliCommand::Help ? TCliCommand::None : topic;
        r_.Command = TCliCommand::Help;
        return true;
    }
    if (r_.Command == TCliCommand::None)
        return fail(QStringLiteral("no command given (kvarnctl --help lists them)"));

    QStringList allowed = kLineOptions;
    for (const CommandInfo &info : commands())
        if (info.Command == r_.Command)
            allowed += info.Options;
    for (const Option &o : options_) {
        if (!allowed.contains(o.Name))
            return fail(QStringLiteral("%1 is not an option of %2").arg(o.Name, CliCommandName(r_.Command)));
        if (!(kLineOptions.contains(o.Name) ? lineOption(o) : commandOption(o)))
            return false;
    }
    return command();
}

} // namespace

bool TCliRequest::UsesLine() const
{
    switch (Command) {
    case TCliCommand::Read:
    case TCliCommand::Get:
    case TCliCommand::Set:
    case TCliCommand::SyncClock:
    case TCliCommand::Spectrum:
    case TCliCommand::Archive:
    case TCliCommand::Poll:
        return true;
    default:
        return false;
    }
}

bool ParseCliArguments(const QStringList &arguments, TCliRequest &request, QString *error)
{
    return Parser(request, error).Run(arguments);
}

bool CliCommandDrawsPages(const QStringList &arguments)
{
    TCliRequest request;
    return ParseCliArguments(arguments, request, nullptr) && request.Command == TCliCommand::Report;
}

QString CliCommandName(TCliCommand command)
{
    for (const CommandInfo &info : commands())
        if (info.Command == command)
            return QString::fromLatin1(info.Name);
    return QString();
}

QString CliGroupName(TCliGroup group)
{
    for (const auto &[g, name] : kGroups)
        if (g == group)
            return QString::fromLatin1(name);
    return QString();
}

bool IsCliVariableWord(const QByteArray &word)
{
    if (word.isEmpty())
        return false;
    for (char c : word)
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_'))
            return false;
    return true;
}

QString CliValueProblem(const QByteArray &value)
{
    if (value.contains(';') || value.contains(':'))
        return QStringLiteral("a value cannot hold \";\" or \":\" (the protocol separates with them)");
    if (value.startsWith("??"))
        return QStringLiteral("a value starting with \"??\" would ask for the value instead of writing it");
    for (char c : value)
        if (quint8(c) < 32 || c == 127)
            return QStringLiteral("a value cannot hold control characters");
    return QString();
}

QString CliOutputProblem(const QString &path)
{
    if (path == u"-")
        return QString();
    const QFileInfo file(path);
    if (file.isDir())
        return QStringLiteral("%1 is a folder, not a file").arg(path);
    const QFileInfo folder(file.absolutePath());
    if (!folder.isDir())
        return QStringLiteral("the folder of %1 does not exist").arg(path);
    // A writable file in a read-only folder is written in place.
    if (!folder.isWritable() && !(file.exists() && file.isWritable()))
        return QStringLiteral("the folder of %1 is not writable").arg(path);
    if (file.exists() && !file.isWritable())
        return QStringLiteral("%1 is write-protected").arg(path);
    return QString();
}

QString CliInputProblem(const QString &path)
{
    const QFileInfo file(path);
    if (!file.exists())
        return QStringLiteral("%1 does not exist").arg(path);
    if (file.isDir())
        return QStringLiteral("%1 is a folder, not a file").arg(path);
    if (file.isFile())
        return QString();
#ifdef Q_OS_UNIX
    struct stat info;
    if (::stat(QFile::encodeName(path).constData(), &info) == 0) {
        if (S_ISFIFO(info.st_mode))
            return QStringLiteral("%1 is a pipe, not a file").arg(path);
        if (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode))
            return QStringLiteral("%1 is a device, not a file").arg(path);
        if (S_ISSOCK(info.st_mode))
            return QStringLiteral("%1 is a socket, not a file").arg(path);
    }
#endif
    return QStringLiteral("%1 is not a plain file").arg(path);
}
