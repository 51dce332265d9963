// EURDEP from a site database: records stored as an installation keeps them
// (its wall clock), read back as UTC periods by kvarnctl export and by
// kvarn-collect's writer, each message read back by the format's grammar and
// its values compared with means computed here from the generated records.

#include "base/installationtime.h"
#include "collect/eurdepwriter.h"
#include "collect/siteconfig.h"
#include "store/sitestore.h"
#include "support/eurdepreader.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

#include <csignal>

namespace {

const QList<QByteArray> kColumns{"STATUS", "ACTIVITY"};
const QDateTime kStart(QDate(2026, 3, 28), QTime(20, 0), Qt::UTC); // Berlin goes to summer time at 01:00Z

struct Generated {
    QDateTime At; // UTC
    double Value;
    bool Fault;
};

// Records every 10 minutes in [from, to) of UTC, stored with the wall clock
// of zone; every 11th carries a fault bit, every 5th a bit that is no fault.
QList<Generated> Store(TSiteStore &store, const QString &name, const QTimeZone &zone, const QDateTime &from,
                       const QDateTime &to, int seed)
{
    QList<Generated> made;
    TStoreBatch batch{name, QByteArray("4711"), kColumns, {}, {}, {}};
    for (QDateTime t = from; t < to; t = t.addSecs(600)) {
        const int n = int(t.toSecsSinceEpoch() / 600) + seed;
        const Generated g{t, 100 + (n % 7) * 3.5 + seed, n % 11 == 0};
        made << g;
        const QDateTime wall = t.toTimeZone(zone);
        batch.Records << TStoreRecord{InstallationTimeText(QDateTime(wall.date(), wall.time(), Qt::UTC)),
                                      {QByteArray(g.Fault ? "16" : n % 5 == 0 ? "32" : "0"), QByteArray::number(g.Value)}};
    }
    if (!store.Write(batch))
        qWarning() << store.LastError();
    return made;
}

// The hourly means of the generated records, fault-free ones only, by the hour's start.
QMap<QDateTime, double> HourlyMeans(const QList<Generated> &made)
{
    QMap<QDateTime, QPair<double, int>> sums;
    for (const Generated &g : made)
        if (!g.Fault) {
            const QDateTime hour(g.At.date(), QTime(g.At.time().hour(), 0), Qt::UTC);
            sums[hour].first += g.Value;
            ++sums[hour].second;
        }
    QMap<QDateTime, double> means;
    for (auto it = sums.cbegin(); it != sums.cend(); ++it)
        means.insert(it.key(), it->first / it->second);
    return means;
}

QDateTime Utc(const QString &eurdepTime)
{
    QDateTime t = QDateTime::fromString(eurdepTime, QStringLiteral("yyyy-MM-ddTHH:mmZ"));
    t.setTimeSpec(Qt::UTC);
    return t;
}

// The rows of one locality compared with the means: every mean has its row, nothing more.
void CompareRows(const TEurdepRead &read, const QString &code, const QMap<QDateTime, double> &means,
                 const QDateTime &from, const QDateTime &to)
{
    QMap<QDateTime, double> rows;
    for (const auto &row : read.Values)
        if (row["LOCALITY_CODE"] == code) {
            QCOMPARE(Utc(row["END"]), Utc(row["BEGIN"]).addSecs(3600));
            rows.insert(Utc(row["BEGIN"]), row["VALUE"].toDouble());
        }
    QMap<QDateTime, double> wanted;
    for (auto it = means.cbegin(); it != means.cend(); ++it)
        if (it.key() >= from && it.key() < to)
            wanted.insert(it.key(), it.value());
    QCOMPARE(rows.keys(), wanted.keys());
    for (auto it = wanted.cbegin(); it != wanted.cend(); ++it)
        QVERIFY2(qAbs(rows[it.key()] - it.value()) < 0.0005,
                 qPrintable(QStringLiteral("%1 at %2: %3, not %4").arg(code, it.key().toString(Qt::ISODate)).arg(rows[it.key()]).arg(it.value())));
}

QByteArray ReadAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestEurdepSite : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void badKeysNameTheirLine_data();
    void badKeysNameTheirLine();
    void exportGivesTheMeansInUtc();
    void exportNamesTheInstallationWithoutCode();
    void killedExportLeavesNoHalfFile();
    void writerCorrectsLatePeriodsOnce();

private:
    QString site(const QString &collectKeys = QString()) const;
    int kvarnctl(const QStringList &arguments, QByteArray *err = nullptr) const;

    QTemporaryDir dir_;
    QString url_;
    QList<Generated> hall_, shaft_;
};

QString TestEurdepSite::site(const QString &collectKeys) const
{
    return QStringLiteral("[collect]\nDatabase=%1\nCountryCode=RU\nOriginator=Site Alpha\n%2\n"
                          "[installation hall-1]\nPortNumber=/dev/null\nLocalityCode=RU0001\nLocalityName=Зал 1\n"
                          "Latitude=52.5\nLongitude=13.4\nTimeZone=Europe/Berlin\n\n"
                          "[installation shaft-2]\nPortNumber=/dev/zero\nLocalityCode=RU0002\nNuclide=xe-133\nTimeZone=UTC\n")
        .arg(url_, collectKeys);
}

int TestEurdepSite::kvarnctl(const QStringList &arguments, QByteArray *err) const
{
    QProcess p;
    p.start(qEnvironmentVariable("KVARN_CTL"), arguments);
    if (!p.waitForFinished(120000))
        return -1;
    if (err)
        *err = p.readAllStandardError();
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

void TestEurdepSite::initTestCase()
{
    QVERIFY(dir_.isValid());
    url_ = QStringLiteral("sqlite:") + dir_.filePath(QStringLiteral("site.db"));
    TSiteStore store(QStringLiteral("setup"));
    QCOMPARE(store.Open(*TStoreUrl::Parse(url_, nullptr)), TSiteStore::OpenResult::Ok);
    hall_ = Store(store, QStringLiteral("hall-1"), QTimeZone("Europe/Berlin"), kStart, kStart.addSecs(10 * 3600), 0);
    // shaft-2's line was down from 23:00 to 01:00.
    shaft_ = Store(store, QStringLiteral("shaft-2"), QTimeZone::utc(), kStart, kStart.addSecs(3 * 3600), 3)
             + Store(store, QStringLiteral("shaft-2"), QTimeZone::utc(), kStart.addSecs(5 * 3600), kStart.addSecs(10 * 3600), 3);
    QFile file(dir_.filePath(QStringLiteral("site.conf")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(site().toUtf8());
}

void TestEurdepSite::badKeysNameTheirLine_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<bool>("collect");
    QTest::newRow("code with a dash") << "LocalityCode=RU-0001" << false;
    QTest::newRow("code in Cyrillic") << "LocalityCode=РУ01" << false;
    QTest::newRow("latitude out of range") << "Latitude=90.5" << false;
    QTest::newRow("longitude no number") << "Longitude=37,5" << false;
    QTest::newRow("height no number") << "HeightAboveSea=high" << false;
    QTest::newRow("nuclide with a blank") << "Nuclide=RN 222" << false;
    QTest::newRow("unknown zone") << "TimeZone=Mars/Olympus" << false;
    QTest::newRow("country of three letters") << "CountryCode=RUS" << true;
    QTest::newRow("period of 30 minutes") << "EurdepPeriod=30min" << true;
    QTest::newRow("relative folder") << "EurdepDir=eurdep" << true;
}

void TestEurdepSite::badKeysNameTheirLine()
{
    QFETCH(QString, key);
    QFETCH(bool, collect);
    const QString text = collect ? QStringLiteral("[collect]\n%1\n[installation a]\nPortNumber=/dev/null\n").arg(key)
                                 : QStringLiteral("[collect]\n[installation a]\nPortNumber=/dev/null\n%1\n").arg(key);
    QString error;
    QVERIFY(!TSiteConfig::Parse(text.toUtf8(), QStringLiteral("site.conf"), dir_.path(), &error));
    QVERIFY2(error.startsWith(QStringLiteral("site.conf:%1: ").arg(collect ? 2 : 4)), qPrintable(error));
}

void TestEurdepSite::exportGivesTheMeansInUtc()
{
    // The times carry a zone here: 21:00+01:00 is 20:00Z.
    const QString out = dir_.filePath(QStringLiteral("out.EUR"));
    QByteArray err;
    QCOMPARE(kvarnctl({"export", "--db", url_, "--format", "eurdep", "--config", dir_.filePath("site.conf"), "--since",
                       "2026-03-28T21:00+01:00", "--until", "2026-03-29 06:00", "-o", out},
                      &err),
             0);
    const TEurdepRead read = ReadEurdep(ReadAll(out));
    QVERIFY2(read.Error.isEmpty(), qPrintable(read.Error));
    QCOMPARE(read.Header["ORIGINATOR"], QStringLiteral("Site Alpha"));
    QCOMPARE(read.Header["FILENAME"], QStringLiteral("out.EUR"));
    QCOMPARE(read.Localities.size(), 2);
    QCOMPARE(read.Localities[0]["LOCALITY_NAME"], QStringLiteral("Zal 1"));
    // Across the change to summer time the hours stay whole UTC hours; the
    // hours shaft-2 was down are absent, never zero.
    CompareRows(read, QStringLiteral("RU0001"), HourlyMeans(hall_), kStart, kStart.addSecs(10 * 3600));
    CompareRows(read, QStringLiteral("RU0002"), HourlyMeans(shaft_), kStart, kStart.addSecs(10 * 3600));
    for (const auto &row : read.Values) {
        QCOMPARE(row["NUCLIDE"], row["LOCALITY_CODE"] == u"RU0002" ? QStringLiteral("XE-133") : QStringLiteral("RN-222"));
        QCOMPARE(row["VALIDATED"], QStringLiteral("1"));
    }

    // One installation, to standard output, 10-minute periods: a period per record.
    QProcess p;
    p.start(qEnvironmentVariable("KVARN_CTL"), {"export", "--db", url_, "--format", "eurdep", "--config",
                                                dir_.filePath("site.conf"), "--installation", "shaft-2", "--period",
                                                "10min", "--since", "2026-03-28 20:00", "--until", "2026-03-28 21:00", "-o", "-"});
    QVERIFY(p.waitForFinished(120000));
    const TEurdepRead tenMinutes = ReadEurdep(p.readAllStandardOutput());
    QVERIFY2(tenMinutes.Error.isEmpty(), qPrintable(tenMinutes.Error));
    QCOMPARE(tenMinutes.Localities.size(), 1);
    int faulty = 0;
    for (const Generated &g : shaft_.mid(0, 6))
        faulty += g.Fault;
    QCOMPARE(tenMinutes.Values.size(), 6 - faulty);
}

void TestEurdepSite::exportNamesTheInstallationWithoutCode()
{
    const QString conf = dir_.filePath(QStringLiteral("nocode.conf"));
    QFile file(conf);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(site().replace(QStringLiteral("LocalityCode=RU0002\n"), QString()).toUtf8());
    file.close();
    QByteArray err;
    QCOMPARE(kvarnctl({"export", "--db", url_, "--format", "eurdep", "--config", conf, "--since", "2026-03-28",
                       "--until", "2026-03-29", "-o", dir_.filePath("never.EUR")},
                      &err),
             2);
    QVERIFY2(err.contains("\"shaft-2\"") && err.contains("LocalityCode"), err.constData());
    QVERIFY(!QFile::exists(dir_.filePath("never.EUR")));
}

void TestEurdepSite::killedExportLeavesNoHalfFile()
{
    // Killed at moments spread over a whole run, the export leaves either no
    // file or a whole message under the name a transfer job takes.
    QDir out(dir_.filePath(QStringLiteral("killed")));
    QVERIFY(out.mkpath(QStringLiteral(".")));
    const QStringList arguments{"export", "--db", url_, "--format", "eurdep", "--config", dir_.filePath("site.conf"),
                                "--period", "10min", "--since", "2026-03-20", "--until", "2026-03-30", "-o",
                                out.filePath(QStringLiteral("RU202603300000.EUR"))};
    QElapsedTimer whole;
    whole.start();
    QCOMPARE(kvarnctl(arguments), 0);
    const qint64 runMs = whole.elapsed();
    QVERIFY(out.remove(QStringLiteral("RU202603300000.EUR")));
    for (int step = 1; step <= 8; ++step) {
        QProcess p;
        p.start(qEnvironmentVariable("KVARN_CTL"), arguments);
        QVERIFY(p.waitForStarted());
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < runMs * step / 8 && p.state() == QProcess::Running)
            p.waitForFinished(1);
        // A process that has ended has no id (and kill(0) would hit this test's own group).
        if (const qint64 pid = p.processId(); pid > 0 && p.state() == QProcess::Running)
            ::kill(pid_t(pid), SIGKILL);
        p.waitForFinished();
        for (const QString &name : out.entryList({QStringLiteral("*.EUR")}, QDir::Files)) {
            const TEurdepRead read = ReadEurdep(ReadAll(out.filePath(name)));
            QVERIFY2(read.Error.isEmpty(), qPrintable(name + QStringLiteral(": ") + read.Error));
            QVERIFY(out.remove(name));
        }
    }
}

void TestEurdepSite::writerCorrectsLatePeriodsOnce()
{
    const QString folder = dir_.filePath(QStringLiteral("outbox"));
    QString error;
    const std::optional<TSiteConfig> config = TSiteConfig::Parse(
        site(QStringLiteral("EurdepDir=%1\n").arg(folder)).toUtf8(), QStringLiteral("site.conf"), dir_.path(), &error);
    QVERIFY2(config, qPrintable(error));
    const TStoreUrl url = *TStoreUrl::Parse(url_, nullptr);
    const QDateTime firstPass = kStart.addSecs(3 * 3600 + 600); // 23:10Z: ArchiveSeconds after 23:00
    auto pass = [&](const QDateTime &now) {
        TEurdepWriter writer(*config, url);
        QString why;
        if (!writer.Open(&why))
            qWarning() << why;
        return writer.Pass(now);
    };
    auto read = [&](const QString &name) { return ReadEurdep(ReadAll(QDir(folder).filePath(name))); };

    // The first start owes the period just closed, and nothing twice.
    QCOMPARE(pass(firstPass), 1);
    QCOMPARE(pass(firstPass), 0);
    TEurdepRead first = read(QStringLiteral("RU202603282300.EUR"));
    QVERIFY2(first.Error.isEmpty(), qPrintable(first.Error));
    CompareRows(first, QStringLiteral("RU0001"), HourlyMeans(hall_), kStart.addSecs(7200), kStart.addSecs(3 * 3600));
    CompareRows(first, QStringLiteral("RU0002"), HourlyMeans(shaft_), kStart.addSecs(7200), kStart.addSecs(3 * 3600));

    // A restart three hours later catches up: 00:00 and 01:00 without shaft-2, 02:00 with it.
    QCOMPARE(pass(firstPass.addSecs(3 * 3600)), 3);
    const TEurdepRead midnight = read(QStringLiteral("RU202603290000.EUR"));
    QCOMPARE(midnight.Values.size(), 1);

    // shaft-2's records of the night arrive late: the two periods are written
    // again, corrected, with new identities; then nothing more.
    TSiteStore store(QStringLiteral("late"));
    QCOMPARE(store.Open(url), TSiteStore::OpenResult::Ok);
    const QList<Generated> late =
        Store(store, QStringLiteral("shaft-2"), QTimeZone::utc(), kStart.addSecs(3 * 3600), kStart.addSecs(5 * 3600), 3);
    QCOMPARE(pass(firstPass.addSecs(3 * 3600 + 60)), 2);
    QCOMPARE(pass(firstPass.addSecs(3 * 3600 + 120)), 0);
    const TEurdepRead corrected = read(QStringLiteral("RU202603290000.EUR"));
    QVERIFY2(corrected.Error.isEmpty(), qPrintable(corrected.Error));
    QVERIFY(corrected.Header["MESSAGE_ID"] != midnight.Header["MESSAGE_ID"]);
    CompareRows(corrected, QStringLiteral("RU0002"), HourlyMeans(late), kStart.addSecs(3 * 3600), kStart.addSecs(4 * 3600));

    QStringList names = QDir(folder).entryList({QStringLiteral("*.EUR")}, QDir::Files);
    QCOMPARE(names, QStringList({"RU202603282300.EUR", "RU202603290000.EUR", "RU202603290100.EUR", "RU202603290200.EUR"}));
    for (const QString &name : names)
        QVERIFY2(read(name).Error.isEmpty(), qPrintable(name));
}

QTEST_GUILESS_MAIN(TestEurdepSite)
#include "tst_eurdepsite.moc"
