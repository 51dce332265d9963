#include "cli/clieurdep.h"

#include "cli/cliconsole.h"
#include "cli/clicsv.h"
#include "cli/cliexport.h"
#include "cli/kvarnctl.h"
#include "collect/eurdepsite.h"
#include "store/sitestore.h"

#include <QFileInfo>
#include <QRegularExpression>

std::optional<QDateTime> ParseZonedTime(const QString &text)
{
    static const QRegularExpression pattern(
        QStringLiteral("^(\\d{4}-\\d{2}-\\d{2})[T ](\\d{2}:\\d{2}(?::\\d{2})?)(Z|[+-]\\d{2}:?\\d{2})$"));
    const QRegularExpressionMatch m = pattern.match(text.trimmed());
    if (!m.hasMatch())
        return std::nullopt;
    QString zone = m.captured(3);
    if (zone.size() == 5)
        zone.insert(3, u':');
    const QDateTime t = QDateTime::fromString(m.captured(1) + u'T' + m.captured(2) + zone, Qt::ISODate);
    if (!t.isValid())
        return std::nullopt;
    return t.toUTC();
}

QString CliEurdepProblem(const TCliRequest &r)
{
    if (r.ConfigFile.isEmpty())
        return QStringLiteral("export --format eurdep needs --config SITE.conf (the localities)");
    if (!r.Since || !r.Until)
        return QStringLiteral("export --format eurdep needs --since and --until (UTC unless a zone is given)");
    if (*r.Until <= *r.Since)
        return QStringLiteral("--until is not later than --since");
    if (r.OutputFile.isEmpty())
        return QStringLiteral("export --format eurdep needs -o FILE or -o - (standard output)");
    return CliOutputProblem(r.OutputFile);
}

int RunCliEurdep(TCliConsole &console, const TCliRequest &r)
{
    QString error;
    const std::optional<TSiteConfig> site = TSiteConfig::Load(r.ConfigFile, &error);
    if (!site) {
        console.Error(error);
        return kCliUsage;
    }
    QList<TSiteInstallation> installations;
    for (const QString &name : r.Installations) {
        const auto known = std::find_if(site->Installations.cbegin(), site->Installations.cend(),
                                        [&](const TSiteInstallation &inst) { return inst.Name == name; });
        if (known == site->Installations.cend()) {
            console.Error(QStringLiteral("%1 has no installation \"%2\"").arg(r.ConfigFile, name));
            return kCliUsage;
        }
        installations << *known;
    }
    if (r.Installations.isEmpty())
        installations = site->Installations;
    if (const QString problem = EurdepExportProblem(installations); !problem.isEmpty()) {
        console.Error(QStringLiteral("%1: %2").arg(r.ConfigFile, problem));
        return kCliUsage;
    }

    TSiteStore store(QStringLiteral("kvarnctl-eurdep"));
    QString display;
    if (!OpenStoredDatabase(console, r, store, display))
        return kCliUsage;
    // Whole periods: the range is widened to the periods' bounds.
    const QDateTime from = PeriodStart(*r.Since, r.PeriodSeconds);
    QDateTime to = PeriodStart(*r.Until, r.PeriodSeconds);
    if (to < *r.Until)
        to = to.addSecs(r.PeriodSeconds);
    std::optional<QList<TEurdepSeries>> series = ReadEurdepSeries(store, installations, from, to, r.PeriodSeconds, &error);
    if (!series) {
        console.Error(QStringLiteral("%1: %2").arg(display, error));
        return kCliUsage;
    }
    qsizetype values = 0;
    for (const TEurdepSeries &s : *series)
        values += s.Values.size();
    if (values == 0)
        console.Error(QStringLiteral("no stored record lies in %1 to %2").arg(EurdepTime(from), EurdepTime(to)));
    const QString fileName = r.OutputFile == u"-" ? QString() : QFileInfo(r.OutputFile).fileName();
    const TEurdepMessage message = EurdepSiteMessage(*site, std::move(*series), fileName);
    if (!WriteCliOutput(console, r.OutputFile, EurdepText(message), &error)) {
        console.Error(error);
        return kCliUsage;
    }
    return kCliOk;
}
