#include "cli/cliexport.h"

#include "base/cp1251.h"
#include "cli/cliconsole.h"
#include "cli/clicsv.h"
#include "cli/clieurdep.h"
#include "cli/kvarnctl.h"
#include "instrument/devicearchive.h"
#include "instrument/ormak.h"
#include "store/sitestore.h"

#include <QFileInfo>

namespace {

// A value the installation had none for ("@@" on the line) is written as it came.
const QByteArray kNoValue = "@@";

QString Text(const std::optional<QByteArray> &value)
{
    return value ? FromCp1251(*value) : QStringLiteral("-");
}

QString SummaryLine(const TSiteStore::Summary &s)
{
    QString line = QStringLiteral("%1: %2 record%3").arg(s.Installation).arg(s.Records).arg(s.Records == 1 ? "" : "s");
    if (s.Records > 0)
        line += QStringLiteral(", %1 to %2").arg(FromCp1251(s.FirstDatetime), FromCp1251(s.LastDatetime));
    if (!s.Serial.isEmpty())
        line += QStringLiteral(", SERIALN %1").arg(FromCp1251(s.Serial));
    if (s.LastReading)
        line += QStringLiteral("; last reading %1 UTC: ACTIVITY=%2 STATUS=%3 ALARM1ON=%4 ALARM2ON=%5")
                    .arg(s.LastReading->At.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), Text(s.LastReading->Activity),
                         Text(s.LastReading->Status), Text(s.LastReading->Alarm1On), Text(s.LastReading->Alarm2On));
    else
        line += QStringLiteral("; no reading");
    return line;
}

// The columns as the window's archive names them, with its descriptions.
void SetColumns(const QList<QByteArray> &columns, TDeviceArchive &archive)
{
    const TORMAK variables(nullptr);
    TOPVarList names;
    TOPVarList descriptions;
    for (const QByteArray &column : columns) {
        names.Add(column);
        const TOPVarListItem *description =
            variables.ArchiveDescriptions->GetItem(variables.ArchiveVars->IndexOfName(column));
        descriptions.Add(description ? description->Name : QByteArray());
    }
    archive.SetNames(names);
    archive.SetDescriptions(descriptions);
}

} // namespace

QString CliExportProblem(const TCliRequest &r)
{
    if (r.Database.isEmpty())
        return QStringLiteral("export needs --db URL (sqlite:PATH or postgresql://USER@HOST/DBNAME)");
    QString error;
    if (!TStoreUrl::Parse(r.Database, &error))
        return error;
    if (r.ListInstallations) {
        if (!r.Installation.isEmpty() || !r.OutputFile.isEmpty() || r.Since || r.Until || !r.ExportFormat.isEmpty())
            return QStringLiteral("export --list takes only --db");
        return QString();
    }
    if (r.ExportFormat == u"eurdep")
        return CliEurdepProblem(r);
    if (r.ZonedTimes)
        return QStringLiteral("--since and --until take a time with a zone only with --format eurdep");
    if (r.Installations.size() > 1)
        return QStringLiteral("export writes one installation's records (several only with --format eurdep)");
    if (r.Installation.isEmpty())
        return QStringLiteral("export needs --installation NAME (or --list)");
    if (r.OutputFile.isEmpty())
        return QStringLiteral("export needs -o FILE.daf, -o FILE.csv or -o - (CSV on standard output)");
    const QString suffix = QFileInfo(r.OutputFile).suffix().toLower();
    if (r.OutputFile != u"-" && suffix != u"daf" && suffix != u"csv")
        return QStringLiteral("export writes FILE.daf or FILE.csv (or - for CSV on standard output), not \"%1\"")
            .arg(r.OutputFile);
    if (r.Since && r.Until && *r.Until < *r.Since)
        return QStringLiteral("--until is earlier than --since");
    return CliOutputProblem(r.OutputFile);
}

bool OpenStoredDatabase(TCliConsole &console, const TCliRequest &r, TSiteStore &store, QString &display)
{
    QString error;
    const std::optional<TStoreUrl> url = TStoreUrl::Parse(r.Database, &error);
    if (!url) {
        console.Error(error);
        return false;
    }
    // Reading back never makes a database where there was none, and needs
    // no more than read access.
    if (url->Driver == u"QSQLITE" && !QFileInfo(url->Path).isFile()) {
        console.Error(QStringLiteral("there is no database file %1").arg(url->Path));
        return false;
    }
    display = url->Display();
    if (store.Open(*url, TSiteStore::Access::ReadOnly) != TSiteStore::OpenResult::Ok) {
        console.Error(store.LastError());
        return false;
    }
    return true;
}

namespace {
// The request's database, open, and its installations (only the one named,
// when one is); false once the console has been told why not.
bool openStore(TCliConsole &console, const TCliRequest &r, TSiteStore &store, QString &display,
               QList<TSiteStore::Summary> &installations)
{
    if (!OpenStoredDatabase(console, r, store, display))
        return false;
    const std::optional<QList<TSiteStore::Summary>> all =
        store.Installations(r.Installation.isEmpty() ? std::nullopt : std::optional<QString>(r.Installation));
    if (!all) {
        console.Error(QStringLiteral("%1: %2").arg(display, store.LastError()));
        return false;
    }
    installations = *all;
    return true;
}
} // namespace

int ReadStoredArchive(TCliConsole &console, const TCliRequest &r, TDeviceArchive &archive, QByteArray *serial)
{
    TSiteStore store(QStringLiteral("kvarnctl-export"));
    QString display;
    QList<TSiteStore::Summary> installations;
    if (!openStore(console, r, store, display, installations))
        return kCliUsage;
    const TSiteStore::Summary *known = nullptr;
    for (const TSiteStore::Summary &summary : installations)
        if (summary.Installation == r.Installation)
            known = &summary;
    if (!known) {
        console.Error(QStringLiteral("%1 holds no installation \"%2\" (export --list names them)")
                          .arg(display, r.Installation));
        return kCliUsage;
    }
    if (serial)
        *serial = known->Serial;
    // Row by row into the archive, which holds them compactly.
    QList<QByteArray> columns;
    const bool read = store.Records(r.Installation, r.Since, r.Until, &columns,
                                    [&](const QList<std::optional<QByteArray>> &values) {
                                        if (!archive.Names())
                                            SetColumns(columns, archive);
                                        TOPVarList record;
                                        for (int c = 0; c < columns.size(); ++c)
                                            record.Add(columns[c], QByteArray(), values.value(c).value_or(kNoValue));
                                        archive.AddRecord(record);
                                        return true;
                                    });
    if (!read) {
        console.Error(QStringLiteral("%1: %2").arg(display, store.LastError()));
        return kCliUsage;
    }
    if (!archive.Names()) {
        SetColumns(columns, archive);
        console.Error(QStringLiteral("no stored record of %1 lies in that time").arg(r.Installation));
    }
    return kCliOk;
}

int RunCliExport(TCliConsole &console, const TCliRequest &r)
{
    if (r.ListInstallations) {
        TSiteStore store(QStringLiteral("kvarnctl-export"));
        QString display;
        QList<TSiteStore::Summary> installations;
        if (!openStore(console, r, store, display, installations))
            return kCliUsage;
        for (const TSiteStore::Summary &summary : installations)
            console.Out(SummaryLine(summary));
        return kCliOk;
    }
    if (r.ExportFormat == u"eurdep")
        return RunCliEurdep(console, r);
    TDeviceArchive archive;
    if (const int status = ReadStoredArchive(console, r, archive, nullptr); status != kCliOk)
        return status;
    QString error;
    if (QFileInfo(r.OutputFile).suffix().toLower() == u"daf" && r.OutputFile != u"-") {
        if (!archive.SaveToFile(r.OutputFile)) {
            console.Error(QStringLiteral("%1 could not be written").arg(r.OutputFile));
            return kCliUsage;
        }
    } else if (!WriteCliOutput(console, r.OutputFile, ArchiveCsv(archive), &error)) {
        console.Error(error);
        return kCliUsage;
    }
    return kCliOk;
}
