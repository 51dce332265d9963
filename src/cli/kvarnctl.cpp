#include "cli/kvarnctl.h"

#include "access/passwords.h"
#include "base/cp1251.h"
#include "base/installationtime.h"
#include "base/textutils.h"
#include "cli/archiveappend.h"
#include "cli/cliconsole.h"
#include "cli/clicsv.h"
#include "cli/clicopydb.h"
#include "cli/cliexport.h"
#include "cli/clispectrum.h"
#include "instrument/archivesearch.h"
#include "instrument/archivetable.h"
#include "instrument/devicearchive.h"
#include "instrument/ormak.h"
#include "instrument/radiationspectr.h"
#include "protocol/frame.h"
#include "protocol/openprotocoldriver.h"
#include "protocol/opvarlist.h"
#include "report/archivereport.h"
#include "store/sitestore.h"
#include "serial/comproperties.h"
#include "serial/comsettings.h"
#include "serial/rs232channel.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QSerialPortInfo>
#include <QThread>
#include <QTimeZone>

#include <algorithm>
#include <csignal>
#include <cstdlib>

namespace {

// How far the installation's clock may run on between the write of DATETIME
// and its echo.
constexpr qint64 kClockEchoSeconds = 5;

volatile std::sig_atomic_t g_stopPolling = 0;

extern "C" void stopPolling(int)
{
    g_stopPolling = 1;
}

// SIGINT and SIGTERM end the poll after the reading under way.
class StopSignals {
public:
    StopSignals()
    {
        g_stopPolling = 0;
        int_ = std::signal(SIGINT, stopPolling);
        term_ = std::signal(SIGTERM, stopPolling);
    }
    ~StopSignals()
    {
        std::signal(SIGINT, int_);
        std::signal(SIGTERM, term_);
    }

private:
    void (*int_)(int);
    void (*term_)(int);
};

QByteArray line(const TOPVarListItem &item)
{
    return VarReference(item.Name, item.Index) + '=' + item.Value;
}

QString orDash(const QByteArray &text)
{
    return text.isEmpty() ? QStringLiteral("-") : FromCp1251(text);
}

} // namespace

TKvarnCtl::TKvarnCtl(TCliConsole &console) : console_(console) {}

TKvarnCtl::~TKvarnCtl() = default;

int TKvarnCtl::Run(const QStringList &arguments)
{
    TCliRequest request;
    QString error;
    if (!ParseCliArguments(arguments, request, &error)) {
        console_.Error(error);
        return kCliUsage;
    }
    return Run(request);
}

int TKvarnCtl::Run(const TCliRequest &request)
{
    request_ = request;
    terminal_ = std::make_unique<TCliTerminal>(console_, request_.Verbose);
    // The exchange lines already show how a long read goes.
    progress_ = std::make_unique<TCliProgress>(console_, !request_.Verbose);

    const int status = runCommand();
    // Results that did not reach standard output are no success, whatever
    // the command made of its own work.
    if (!console_.OutError().isEmpty()) {
        console_.Error(QStringLiteral("standard output could not be written: %1").arg(console_.OutError()));
        return kCliUsage;
    }
    return status;
}

int TKvarnCtl::runCommand()
{
    if (request_.Command == TCliCommand::Help) {
        console_.OutBytes(CliHelpText(request_.HelpFor).toLocal8Bit());
        return kCliOk;
    }
    if (request_.UsesLine()) {
        const int opened = openLine();
        if (opened != kCliOk)
            return opened;
    }
    switch (request_.Command) {
    case TCliCommand::Read: return cmdRead();
    case TCliCommand::Get: return cmdGet();
    case TCliCommand::Set: return cmdSet();
    case TCliCommand::SyncClock: return cmdSyncClock();
    case TCliCommand::Spectrum: return cmdSpectrum();
    case TCliCommand::Archive: return cmdArchive();
    case TCliCommand::Poll: return cmdPoll();
    case TCliCommand::Convert: return cmdConvert();
    case TCliCommand::Ports: return cmdPorts();
    case TCliCommand::Passwd: return cmdPasswd();
    case TCliCommand::Report: return cmdReport();
    case TCliCommand::Export: return RunCliExport(console_, request_);
    case TCliCommand::Status: return RunCliStatus(console_, request_);
    case TCliCommand::CopyDb: return RunCliCopyDb(console_, request_);
    case TCliCommand::Peaks: return CliPeaks(console_, request_);
    case TCliCommand::None:
    case TCliCommand::Help: break;
    }
    console_.Error(QStringLiteral("no command given (kvarnctl --help lists them)"));
    return kCliUsage;
}

// Line settings as the window reads them: commport.cfg beside the program, or
// the user's own where the program's folder cannot be written (see
// TComSettingsFile); the window's fallback defaults when there is none.
// --config names the file instead. A file that is there but does not read
// is refused rather than quietly replaced by the defaults.
int TKvarnCtl::openLine()
{
    channel_ = std::make_unique<TRS232Channel>();
    const bool named = !request_.ConfigFile.isEmpty();
    const QString config = named ? QFileInfo(request_.ConfigFile).absoluteFilePath() : TComSettingsFile::Find().ReadPath;
    const QFileInfo info(config);
    if (named && !info.exists()) {
        console_.Error(QStringLiteral("the line settings file %1 does not exist").arg(request_.ConfigFile));
        return kCliUsage;
    }
    int keys = 0;
    const bool loaded = channel_->LoadSettings(config, &keys);
    if (info.exists() && !loaded) {
        console_.Error(QStringLiteral("the line settings in %1 cannot be read (nine key=value lines; the write "
                                      "time-outs are whole numbers)")
                           .arg(config));
        return kCliUsage;
    }
    if (info.exists() && keys == 0) {
        console_.Error(QStringLiteral("the line settings file %1 sets nothing: none of its first nine lines holds a "
                                      "key such as PortNumber=")
                           .arg(config));
        return kCliUsage;
    }
    if (request_.Verbose)
        console_.Error(info.exists() ? QStringLiteral("line settings from %1").arg(config)
                                     : QStringLiteral("no line settings file (%1): the defaults").arg(config));
    TComSettings &settings = channel_->Settings();
    if (request_.Port)
        settings.PortNumber = request_.Port->toLocal8Bit();
    if (request_.Baud)
        settings.TransferRate = QByteArray::number(*request_.Baud) + " baud";
    // The window keeps the installation's number with the line settings.
    if (!request_.DeviceGiven)
        request_.Device = settings.DeviceNumber;
    if (!channel_->Open()) {
        const TPortFailure failure = channel_->Failure();
        const QString name = QString::fromLocal8Bit(settings.PortNumber);
        const QString device = failure.Path.isEmpty() || failure.Path == name ? QString() : " (" + failure.Path + ")";
        console_.Error(QStringLiteral("the port %1%2 cannot be opened: %3").arg(name, device, failure.Reason()));
        return kCliUsage;
    }
    driver_ = std::make_unique<TOpenProtocolDriver>(channel_.get());
    driver_->SetTerminal(terminal_.get());
    ormak_ = std::make_unique<TORMAK>(driver_.get());
    ormak_->SetDeviceNumber(request_.Device);
    return kCliOk;
}

bool TKvarnCtl::transfer(TOPVarList &list, bool write)
{
    terminal_->BeginTransaction();
    const bool ok = write ? driver_->WriteVars(request_.Device, list) : driver_->ReadVars(request_.Device, list);
    int done = list.Count();
    if (!ok) {
        const TextSegment failed = ParseSegment(terminal_->LastVariable() + '=');
        done = std::max(0, list.IndexOf(failed.Name, failed.Index));
    }
    for (int i = 0; i < done; ++i)
        console_.OutCp1251(line(*list.GetItem(i)));
    if (!ok)
        console_.Error(terminal_->FailureText());
    return ok;
}

int TKvarnCtl::checkEchoes(const TOPVarList &list)
{
    int status = kCliOk;
    for (int i = 0; i < list.Count(); ++i) {
        const TOPVarListItem &item = *list.GetItem(i);
        const TCliVariable *sent = nullptr;
        for (const TCliVariable &v : request_.Variables)
            if (SameTextAscii(v.Name, item.Name) && SameTextAscii(v.Index, item.Index))
                sent = &v;
        if (sent && !EchoTakes(item.Name, sent->Value, item.Value)) {
            console_.Error(QStringLiteral("%1: the installation kept \"%2\", not the \"%3\" written")
                               .arg(FromCp1251(VarReference(item.Name, item.Index)), FromCp1251(item.Value),
                                    FromCp1251(sent->Value)));
            status = kCliFailed;
        }
    }
    return status;
}

bool TKvarnCtl::readRecordCount()
{
    terminal_->BeginTransaction();
    if (ormak_->ReadNumOfRecords())
        return true;
    if (terminal_->LastOutcome().isEmpty()) // an answer came, but no count
        console_.Error(QStringLiteral("NUMOFRECORDS: the installation answered \"%1\", which is not a record count")
                           .arg(FromCp1251(ormak_->RecordCountVars->GetItem(0)->Value)));
    else
        console_.Error(terminal_->FailureText());
    return false;
}

// --- commands on the line ----------------------------------------------------------

int TKvarnCtl::cmdRead()
{
    int status = kCliOk;
    for (TCliGroup group : request_.Groups) {
        bool ok = true;
        switch (group) {
        case TCliGroup::Common: ok = transfer(*ormak_->CommonVars, false); break;
        case TCliGroup::Alarm: ok = transfer(*ormak_->AlarmUnitVars, false); break;
        case TCliGroup::Counter: ok = transfer(*ormak_->CounterVars, false); break;
        case TCliGroup::Service: ok = transfer(*ormak_->ServiceVars, false); break;
        case TCliGroup::Test: ok = transfer(*ormak_->TestVars, false); break;
        case TCliGroup::Records:
            ok = readRecordCount();
            if (ok || terminal_->LastOutcome().isEmpty())
                console_.OutCp1251(line(*ormak_->RecordCountVars->GetItem(0)));
            break;
        }
        if (!ok)
            status = kCliFailed;
    }
    return status;
}

int TKvarnCtl::cmdGet()
{
    TOPVarList list;
    for (const TCliVariable &v : request_.Variables)
        list.Add(v.Name, v.Index);
    return transfer(list, false) ? kCliOk : kCliFailed;
}

int TKvarnCtl::cmdSet()
{
    TOPVarList list;
    for (const TCliVariable &v : request_.Variables)
        list.Add(v.Name, v.Index, v.Value);
    const bool ok = transfer(list, true);
    const int echoes = checkEchoes(list);
    return ok ? echoes : kCliFailed;
}

// Only DATETIME is written: the window writes the whole common group with the
// clock, but here the other common values are not known and would be
// overwritten with empty texts.
int TKvarnCtl::cmdSyncClock()
{
    const QByteArray now = InstallationTimeText(QDateTime::currentDateTime());
    request_.Variables = {TCliVariable{"DATETIME", {}, now}};
    TOPVarList list;
    list.Add("DATETIME", {}, now);
    const bool ok = transfer(list, true);
    const int echoes = checkEchoes(list);
    return ok ? echoes : kCliFailed;
}

int TKvarnCtl::cmdSpectrum()
{
    driver_->SetProgressBar(progress_.get());
    terminal_->BeginTransaction();
    const bool ok = request_.Background ? ormak_->ReadBackgroundSpectrum() : ormak_->ReadSpectrum();
    driver_->SetProgressBar(nullptr);
    progress_->Finish();
    if (!ok) {
        console_.Error(terminal_->FailureText());
        return kCliFailed;
    }
    const TRadiationSpectr &spectrum = request_.Background ? *ormak_->BackgroundSpectrum : *ormak_->Spectrum;
    if (const int channels = ormak_->LastSpectrumChannels(); channels < TRadiationSpectr::ChannelCount)
        console_.Error(QStringLiteral("%1: only %2 of the %3 channels came from the installation; the rest are zeros")
                           .arg(request_.Background ? u"SPECTRUM2" : u"SPECTRUM1")
                           .arg(channels)
                           .arg(TRadiationSpectr::ChannelCount));
    int status = kCliOk;
    if (!request_.OutputFile.isEmpty() && !spectrum.SaveToFile(request_.OutputFile)) {
        console_.Error(QStringLiteral("%1 could not be written").arg(request_.OutputFile));
        status = kCliUsage;
    }
    QString error;
    if (!request_.CsvFile.isEmpty() && !WriteCliOutput(console_, request_.CsvFile, SpectrumCsv(spectrum), &error)) {
        console_.Error(error);
        status = kCliUsage;
    }
    return status;
}

// As the window's archive read: the record count first, then every step-th
// record of the range, clamped to the records there are; the file gets the
// descriptions of the chosen columns. A range by time is found first by a
// bisection over the records' DATETIME; a file appended to gives its columns
// and, by its last record's time, where the range begins.
int TKvarnCtl::cmdArchive()
{
    QList<QByteArray> names = request_.ArchiveColumns;
    TArchiveAppendFile target;
    std::optional<QDateTime> after; // only records later than this
    if (!request_.AppendFile.isEmpty()) {
        const int checked = checkAppendFile(target, names);
        if (checked != kCliOk)
            return checked;
        after = target.LastTime();
    }

    if (!readRecordCount())
        return kCliFailed;
    const int count = ormak_->NumOfRecords;

    int first = request_.From;
    int last = request_.To.value_or(count);
    bool empty = false;
    int searchReads = -1;
    if (after || request_.Since || request_.Until) {
        TOPVarList datetime;
        datetime.Add("DATETIME");
        TArchiveTimeSearch search(count, [&](int n) {
            std::unique_ptr<TOPVarList> record;
            terminal_->BeginTransaction();
            if (!ormak_->ReadArchiveRecord(&datetime, n, record))
                return TRecordTimeRead{};
            return TRecordTimeRead{true, record->GetItem(0)->Value};
        });
        std::optional<int> found = 1;
        first = 1;
        last = count;
        if (after || request_.Since) {
            found = search.FirstFrom(after ? *after : *request_.Since, after.has_value());
            first = found.value_or(first);
            // Records of the file past its last time are the ones right after it.
            if (after)
                first = std::min(count + 1, first + target.UntimedAtEnd());
        }
        if (found && request_.Until) {
            found = search.LastUpTo(*request_.Until);
            last = found.value_or(last);
        }
        for (const QString &note : search.Notes())
            console_.Error(note);
        if (!found) {
            console_.Error(terminal_->FailureText());
            console_.Error(QStringLiteral("the records could not be found by time: nothing was read"));
            return kCliFailed;
        }
        empty = first > last;
        searchReads = search.Reads();
    } else {
        // The window's clamping, to show the range that will be read.
        request_.Step = std::max(1, request_.Step);
        first = std::clamp(first, 1, std::max(1, count));
        last = std::min(std::max(last, first), count);
    }

    if (request_.DryRun)
        return printDryRun(names, count, empty ? 0 : first, empty ? 0 : last, searchReads);

    TOPVarList columns;
    TOPVarList descriptions;
    for (const QByteArray &name : names) {
        columns.Add(name);
        const TOPVarListItem *description = ormak_->ArchiveDescriptions->GetItem(ormak_->ArchiveVars->IndexOfName(name));
        descriptions.Add(description ? description->Name : QByteArray());
    }
    TDeviceArchive &archive = *ormak_->Archive;
    bool ok = true;
    if (empty) {
        archive.Clear();
        archive.SetNames(columns);
    } else {
        ormak_->SetProgressBar(progress_.get());
        terminal_->BeginTransaction();
        ok = ormak_->ReadArchive(request_.Step, first, last, &columns);
        ormak_->SetProgressBar(nullptr);
        progress_->Finish();
    }

    int status = kCliOk;
    if (!ok) {
        console_.Error(terminal_->FailureText());
        console_.Error(QStringLiteral("%1 record%2 read before the failure %3 saved")
                           .arg(archive.RecordCount())
                           .arg(archive.RecordCount() == 1 ? "" : "s")
                           .arg(archive.RecordCount() == 1 ? "is" : "are"));
        status = kCliFailed;
    } else if (count == 0) {
        console_.Error(QStringLiteral("the installation's archive holds no records"));
    } else if (empty && request_.AppendFile.isEmpty()) {
        console_.Error(QStringLiteral("no record of the installation's archive lies in that time"));
    }
    archive.SetDescriptions(descriptions);
    QString error;
    if (!request_.AppendFile.isEmpty()) {
        // Nothing new leaves the file as it is.
        if ((archive.RecordCount() > 0 || !target.Exists()) && !target.Append(archive, descriptions, &error)) {
            console_.Error(error);
            status = kCliUsage;
        }
        return status;
    }
    if (!request_.OutputFile.isEmpty() && !archive.SaveToFile(request_.OutputFile)) {
        console_.Error(QStringLiteral("%1 could not be written").arg(request_.OutputFile));
        status = kCliUsage;
    }
    if (!request_.CsvFile.isEmpty() && !WriteCliOutput(console_, request_.CsvFile, ArchiveCsv(archive), &error)) {
        console_.Error(error);
        status = kCliUsage;
    }
    return status;
}

// The file appended to decides the columns: --vars may only repeat them.
// Everything here is settled before anything is sent.
int TKvarnCtl::checkAppendFile(TArchiveAppendFile &target, QList<QByteArray> &names)
{
    const QString &path = request_.AppendFile;
    QString error;
    if (!target.Load(path, request_.AppendCsv, &error)) {
        console_.Error(error);
        return kCliUsage;
    }
    if (target.Exists()) {
        const QList<QByteArray> columns = target.Columns();
        for (const QByteArray &name : columns)
            if (ormak_->ArchiveVars->IndexOfName(name) < 0 || name != AsciiUpper(name) || columns.count(name) > 1) {
                console_.Error(QStringLiteral("%1 has the column \"%2\", which is no archive variable of its own")
                                   .arg(path, QString::fromLatin1(name)));
                return kCliUsage;
            }
        if (request_.ArchiveColumnsGiven && request_.ArchiveColumns != columns) {
            console_.Error(QStringLiteral("%1 has the columns %2, not the %3 of --vars: nothing was read")
                               .arg(path, QString::fromLatin1(columns.join(',')),
                                    QString::fromLatin1(request_.ArchiveColumns.join(','))));
            return kCliUsage;
        }
        names = columns;
    }
    if (!names.contains("DATETIME")) {
        console_.Error(QStringLiteral("%1 has no DATETIME column: where it ends could not be told next time")
                           .arg(path));
        return kCliUsage;
    }
    if (target.RecordCount() > 0 && !target.LastTime()) {
        console_.Error(QStringLiteral("no record of %1 has a DATETIME that reads as a time: where it ends is unknown")
                           .arg(path));
        return kCliUsage;
    }
    return kCliOk;
}

int TKvarnCtl::printDryRun(const QList<QByteArray> &names, int count, int first, int last, int searchReads)
{
    const int records = first > 0 && last >= first ? (last - first) / std::max(1, request_.Step) + 1 : 0;
    const std::optional<quint32> rate = TComProperties::ParseRate(channel_->Settings().TransferRate);
    const qint64 ms = EstimateArchiveReadMs(names, first, last, request_.Step, rate.value_or(0),
                                            channel_->Properties().LineReadTimeouts().Interval);
    console_.Out(records ? QStringLiteral("range: records %1 to %2 of %3").arg(first).arg(last).arg(count)
                         : QStringLiteral("range: none of %1").arg(count));
    console_.Out(QStringLiteral("records: %1 (step %2), %3 variables each")
                     .arg(records)
                     .arg(std::max(1, request_.Step))
                     .arg(names.size()));
    console_.Out(rate ? QStringLiteral("line time: about %1 at %2 baud").arg(DurationText(ms)).arg(*rate)
                      : QStringLiteral("line time: unknown (no rate in the line settings)"));
    if (searchReads >= 0)
        console_.Out(QStringLiteral("search: %1 DATETIME reads").arg(searchReads));
    return kCliOk;
}

// The test mode: a new running mean, then one reading every interval. A
// reading that takes longer than the interval is followed by the next one at
// once, without a burst to catch up. RAW is the reading; MEAN is what the
// window's test mode shows: the running mean of the distinct readings, or the
// raw reading when it repeats the one before it (that poll is not counted).
int TKvarnCtl::cmdPoll()
{
    StopSignals stopOnSignal;
    ormak_->ResetTestAveraging();
    QElapsedTimer clock;
    clock.start();
    const qint64 intervalMs = qint64(request_.Interval) * 1000;
    qint64 next = 0;
    int status = kCliOk;
    // Readings nobody can see are not worth taking: a failed standard output ends the poll.
    for (qint64 k = 0; (!request_.Count || k < *request_.Count) && console_.OutError().isEmpty(); ++k) {
        while (!g_stopPolling && clock.elapsed() < next)
            QThread::msleep(ulong(std::clamp<qint64>(next - clock.elapsed(), 1, 50)));
        if (g_stopPolling)
            break;
        terminal_->BeginTransaction();
        const bool ok = ormak_->ReadTestValue();
        const QString time = QTime::currentTime().toString(QStringLiteral("HH:mm:ss"));
        if (ok) {
            console_.Out(time + u' ' + orDash(ormak_->TestPrevious->GetItem(0)->Value) + u' '
                         + orDash(ormak_->TestVars->GetItem(0)->Value));
        } else {
            console_.Error(time + u' ' + terminal_->FailureText());
            status = kCliFailed;
        }
        next = std::max(next + intervalMs, clock.elapsed());
    }
    return status;
}

// --- commands without the line ----------------------------------------------------------

int TKvarnCtl::cmdConvert()
{
    const QString &in = request_.Input;
    if (const QString problem = CliInputProblem(in); !problem.isEmpty()) {
        console_.Error(problem);
        return kCliUsage;
    }
    QByteArray csv;
    if (QFileInfo(in).suffix().compare(u"daf", Qt::CaseInsensitive) == 0) {
        TDeviceArchive archive;
        if (!archive.LoadFromFile(in)) {
            console_.Error(QStringLiteral("%1 cannot be read as an archive file").arg(in));
            return kCliUsage;
        }
        csv = ArchiveCsv(archive);
    } else {
        return CliConvertSpectrum(console_, request_);
    }
    QString error;
    if (!WriteCliOutput(console_, request_.Output, csv, &error)) {
        console_.Error(error);
        return kCliUsage;
    }
    return kCliOk;
}

// An archive file's period as a PDF report; pages are drawn without a
// display (main gives this command an application on the offscreen platform).
int TKvarnCtl::cmdReport()
{
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance())) {
        console_.Error(QStringLiteral("report draws pages: it needs the program's graphical application"));
        return kCliUsage;
    }
    const QString &in = request_.Input;
    TDeviceArchive archive;
    TArchiveReportSource source;
    if (!request_.Database.isEmpty()) {
        if (const int status = ReadStoredArchive(console_, request_, archive, &source.Serial); status != kCliOk)
            return status;
        QString error;
        source.Origin = QStringLiteral("база данных %1, установка %2")
                            .arg(TStoreUrl::Parse(request_.Database, &error)->Display(), request_.Installation);
    } else {
        if (const QString problem = CliInputProblem(in); !problem.isEmpty()) {
            console_.Error(problem);
            return kCliUsage;
        }
        if (!archive.LoadFromFile(in)) {
            console_.Error(QStringLiteral("%1 cannot be read as an archive file").arg(in));
            return kCliUsage;
        }
        source.Origin = QFileInfo(in).absoluteFilePath();
    }
    const TArchiveTable table(archive);
    source.Records = &table;
    source.Since = request_.Since;
    source.Until = request_.Until;
    QString error;
    if (WriteReportPdf(*BuildArchiveReport(source), request_.OutputFile, {}, &error) != TReportResult::Written) {
        console_.Error(error);
        return kCliUsage;
    }
    return kCliOk;
}

int TKvarnCtl::cmdPorts()
{
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    if (ports.isEmpty())
        console_.Error(QStringLiteral("no serial ports found"));
    for (const QSerialPortInfo &info : ports) {
        PortDescription port;
#ifdef Q_OS_WIN
        port.Location = info.portName();
#else
        port.Location = info.systemLocation();
        port.StablePath = StablePortPath(port.Location, QStringLiteral("/dev/serial/by-id"));
#endif
        port.Description = info.description();
        port.Manufacturer = info.manufacturer();
        port.SerialNumber = info.serialNumber();
        if (info.hasVendorIdentifier())
            port.Vendor = info.vendorIdentifier();
        if (info.hasProductIdentifier())
            port.Product = info.productIdentifier();
        console_.Out(PortLine(port));
    }
    return kCliOk;
}

QString TKvarnCtl::StablePortPath(const QString &device, const QString &byIdDir)
{
    const QString target = QFileInfo(device).canonicalFilePath();
    if (target.isEmpty())
        return QString();
    QDir dir(byIdDir);
    // The links' own names, in order, so that the answer does not depend on
    // the order the folder lists them in.
    const QStringList names = dir.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString &name : names) {
        const QString path = dir.filePath(name);
        if (QFileInfo(path).canonicalFilePath() == target)
            return path;
    }
    return QString();
}

QString TKvarnCtl::PortLine(const PortDescription &port)
{
    QStringList about;
    for (const QString &part : {port.Description, port.Manufacturer})
        if (!part.isEmpty() && !about.contains(part))
            about.append(part);
    if (!port.SerialNumber.isEmpty())
        about.append(QStringLiteral("serial number ") + port.SerialNumber);
    if (port.Vendor && port.Product)
        about.append(QStringLiteral("USB %1:%2")
                         .arg(*port.Vendor, 4, 16, QLatin1Char('0'))
                         .arg(*port.Product, 4, 16, QLatin1Char('0')));
    QString text = port.Location;
    if (!about.isEmpty())
        text += QStringLiteral("  ") + about.join(QStringLiteral(", "));
    if (!port.StablePath.isEmpty())
        text += QStringLiteral("  stable path: ") + port.StablePath;
    return text;
}

int TKvarnCtl::cmdPasswd()
{
    QString error;
    if (request_.Encode) {
        if (!EncodePasswordFile(request_.Input, request_.Output, &error)) {
            console_.Error(error);
            return kCliUsage;
        }
        return kCliOk;
    }
    QByteArray plain;
    QString warning;
    if (!DecodePasswordFile(request_.Input, &plain, &error, &warning)) {
        console_.Error(error);
        return kCliUsage;
    }
    // A hostile file must not drive the operator's terminal: control
    // characters other than the line ends are shown escaped ("\x1b").
    QByteArray shown;
    for (qsizetype i = 0; i < plain.size(); ++i) {
        const auto c = uchar(plain.at(i));
        if (c == '\r' && i + 1 < plain.size() && plain.at(i + 1) == '\n')
            continue;
        if ((c < 0x20 && c != '\n') || c == 0x7F)
            shown += "\\x" + QByteArray::number(c, 16).rightJustified(2, '0');
        else
            shown += char(c);
    }
    console_.OutBytes(FromCp1251(shown).toLocal8Bit());
    if (!warning.isEmpty())
        console_.Error(warning);
    return warning.isEmpty() ? kCliOk : kCliFailed;
}

// --- value rules ---------------------------------------------------------------------------

bool TKvarnCtl::EchoTakes(const QByteArray &name, const QByteArray &written, const QByteArray &echoed)
{
    const QByteArray w = TrimControls(written);
    const QByteArray e = TrimControls(echoed);
    if (w == e)
        return true;
    bool wNumber = false, eNumber = false;
    const long double x = StrToFloatDot(w, &wNumber);
    const long double y = StrToFloatDot(e, &eNumber);
    if (wNumber && eNumber)
        return x == y;
    if (SameTextAscii(name, "DATETIME")) {
        const std::optional<QDateTime> a = ParseInstallationTime(w);
        const std::optional<QDateTime> b = ParseInstallationTime(e);
        return a && b && std::abs(a->secsTo(*b)) <= kClockEchoSeconds;
    }
    return false;
}
