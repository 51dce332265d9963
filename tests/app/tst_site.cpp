// The site at a glance end to end: kvarn-collect gathers several kvarn-sim
// installations (one in alarm, one with a fault bit, one whose line is not
// there, one stopped after a while, one sound) into SQLite and into a
// PostgreSQL server of the test's own; kvarnctl status and the window
// "Площадка" then show the same rows.

#include "analysis/sitestate.h"
#include "store/sitestore.h"
#include "support/pgserver.h"
#include "support/scriptedprompt.h"
#include "support/simprocess.h"
#include "views/sitewindow.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace {

QByteArray Section(const QString &name, const QString &port)
{
    return "[installation " + name.toUtf8() + "]\nPortNumber=" + port.toUtf8() +
           "\nTransferRate=115200 baud\nPollSeconds=1\nVariables=ACTIVITY,ALARM1,STATUS\n\n";
}

struct Ctl {
    int Code = -1;
    QByteArray Out;
};

Ctl Status(const QStringList &arguments)
{
    QProcess p;
    p.start(qEnvironmentVariable("KVARN_CTL"), QStringList{"status"} + arguments);
    if (!p.waitForFinished(60000))
        return {};
    return {p.exitCode(), p.readAllStandardOutput()};
}

} // namespace

class TestSite : public QObject {
    Q_OBJECT

    PgServer pg_;
    QTemporaryDir dir_;

private slots:
    void initTestCase()
    {
        QVERIFY(dir_.isValid());
        QVERIFY2(pg_.Start(), qPrintable(pg_.ErrorText()));
    }
    void cleanupTestCase() { pg_.Stop(); }

    void siteAtAGlance_data()
    {
        QTest::addColumn<bool>("postgres");
        QTest::newRow("sqlite") << false;
        QTest::newRow("postgresql") << true;
    }
    void siteAtAGlance()
    {
        QFETCH(bool, postgres);
        QString url = QStringLiteral("sqlite:%1/site-%2.db").arg(dir_.path()).arg(postgres);
        if (postgres) {
            QVERIFY2(pg_.CreateDatabase(QStringLiteral("site")), qPrintable(pg_.ErrorText()));
            url = pg_.Url(QStringLiteral("site"));
        }
        SimProcess ok, alarm, fault, quiet;
        QVERIFY(ok.Start({"--records", "30", "--set", "SERIALN=101", "--set", "ALARM1=400", "--set", "ACTIVITY=12.5"}));
        QVERIFY(alarm.Start({"--records", "30", "--set", "SERIALN=102", "--set", "ALARM2ON=1", "--set", "ACTIVITY=2000"}));
        QVERIFY(fault.Start({"--records", "30", "--set", "SERIALN=103", "--set", "STATUS=80"}));
        QVERIFY(quiet.Start({"--records", "30", "--set", "SERIALN=104"}));
        const QString config = dir_.filePath(QStringLiteral("site-%1.conf").arg(postgres));
        {
            QFile file(config);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("[collect]\nDatabase=" + url.toUtf8() + "\n\n" + Section("ok", ok.LinkPath()) +
                       Section("alarm", alarm.LinkPath()) + Section("fault", fault.LinkPath()) +
                       Section("quiet", quiet.LinkPath()) + Section("gone", dir_.filePath("no-such-line")));
        }
        QProcess collector;
        collector.start(qEnvironmentVariable("KVARN_COLLECT"), {"--config", config});
        QVERIFY(collector.waitForStarted());
        const std::unique_ptr<QProcess, void (*)(QProcess *)> ender(&collector, [](QProcess *p) {
            ::kill(pid_t(p->processId()), SIGTERM);
            if (!p->waitForFinished(20000))
                p->kill();
        });
        TSiteStore store(QStringLiteral("test"));
        const std::optional<TStoreUrl> parsed = TStoreUrl::Parse(url, nullptr);
        QVERIFY(parsed);
        QTRY_VERIFY_WITH_TIMEOUT(store.Open(*parsed, TSiteStore::Access::ReadOnly) == TSiteStore::OpenResult::Ok, 30000);
        auto state = [&](const QString &name) {
            const auto states = store.SiteState({name});
            return states && states->size() == 1 ? states->first() : TStoreInstallationState{};
        };
        for (const char *name : {"ok", "alarm", "fault", "quiet"})
            QTRY_VERIFY_WITH_TIMEOUT(state(name).Records == 30 && state(name).LastReading, 120000);
        // The line of "quiet" goes: its link is lost.
        QVERIFY(quiet.Stop());
        QTRY_VERIFY_WITH_TIMEOUT(state("quiet").NewestEvent.contains("link-lost"), 60000);
        QTRY_VERIFY_WITH_TIMEOUT(state("gone").NewestEvent.contains("link-lost"), 60000);

        // kvarnctl status: attention first, then the sound one; exit 3.
        const Ctl text = Status({"--db", url});
        QCOMPARE(text.Code, 3);
        const QStringList lines = QString::fromUtf8(text.Out).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 5);
        const QStringList names{"alarm", "fault", "gone", "quiet", "ok"};
        for (int i = 0; i < 5; ++i)
            QVERIFY2(lines[i].startsWith((i < 4 ? "! " : "  ") + names[i] + ";"), qPrintable(lines[i]));
        QVERIFY2(lines[0].contains(QStringLiteral("2000 Бк/м³")) && lines[0].contains(QStringLiteral("порог 2")), qPrintable(lines[0]));
        QVERIFY2(lines[1].contains(QStringLiteral("индикатор расхода, электрометр")), qPrintable(lines[1]));
        QVERIFY2(lines[2].contains(QStringLiteral("нет связи с ")), qPrintable(lines[2]));
        QVERIFY2(lines[4].contains(QStringLiteral("; есть; 12.5 Бк/м³")) && lines[4].contains("30 records"), qPrintable(lines[4]));

        const Ctl json = Status({"--db", url, "--json", "--installation", "ok", "--installation", "alarm"});
        QCOMPARE(json.Code, 3);
        const QJsonArray rows = QJsonDocument::fromJson(json.Out).array();
        QCOMPARE(rows.size(), 2);
        const QJsonObject a = rows[0].toObject(), o = rows[1].toObject();
        QCOMPARE(a["installation"].toString(), QStringLiteral("alarm"));
        QCOMPARE(a["alarm"].toInt(), 2);
        QCOMPARE(a["activity"].toDouble(), 2000.0);
        QCOMPARE(o["link"].toString(), QStringLiteral("up"));
        QCOMPARE(o["serialn"].toString(), QStringLiteral("101"));
        QCOMPARE(o["records"].toInt(), 30);
        QCOMPARE(o["faults"].toArray().size(), 0);
        QVERIFY(!o["newest_record"].toString().isEmpty());
        QCOMPARE(QDateTime::fromString(o["at"].toString(), Qt::ISODate).isValid(), true);
        QCOMPARE(Status({"--db", url, "--installation", "ok"}).Code, 0);
        QCOMPARE(Status({"--db", url, "--installation", "nobody"}).Code, 2);
        QCOMPARE(Status({"--db", "sqlite:" + dir_.filePath("none.db")}).Code, 2);

        // The same rows ten minutes on: the sound one has no data now.
        const std::optional<QList<TStoreInstallationState>> states = store.SiteState();
        QVERIFY(states);
        const QList<TSiteRow> later = SiteRows(*states, QDateTime::currentDateTimeUtc().addSecs(600));
        const auto okLater = std::find_if(later.begin(), later.end(), [](const TSiteRow &r) { return r.Installation == "ok"; });
        QVERIFY(okLater->LinkText.startsWith(QStringLiteral("нет данных 10 мин")) || okLater->LinkText.startsWith(QStringLiteral("нет данных 9 мин")));
        QCOMPARE(okLater->LinkState, TSiteRow::Link::Stale);
        QCOMPARE(AttentionCount(later), 5);

        // The window: the same rows, lamps, chart points and events.
        ScriptedPrompt prompt;
        TSiteWindow window(*parsed, prompt);
        window.show();
        QSignalSpy refreshed(&window, &TSiteWindow::RefreshEnded);
        QTRY_VERIFY_WITH_TIMEOUT(window.Table()->rowCount() == 5, 30000);
        const TSiteTableModel &model = *window.Table();
        for (int r = 0; r < 5; ++r)
            QCOMPARE(model.index(r, TSiteTableModel::cName).data().toString(), names[r]);
        QCOMPARE(model.index(0, TSiteTableModel::cAlarm).data().toString(), QStringLiteral("порог 2"));
        QCOMPARE(model.index(0, TSiteTableModel::cAlarm).data(Qt::BackgroundRole).value<QColor>(), QColor(Qt::red));
        QCOMPARE(model.index(4, TSiteTableModel::cAlarm).data(Qt::BackgroundRole).value<QColor>(), QColor(Qt::green));
        // The installation that never answered lights no lamp.
        QCOMPARE(model.index(2, TSiteTableModel::cAlarm).data().toString(), QStringLiteral("нет данных"));
        QCOMPARE(model.index(2, TSiteTableModel::cAlarm).data(Qt::BackgroundRole).value<QColor>(), QColor(Qt::lightGray));
        QCOMPARE(model.index(4, TSiteTableModel::cLink).data().toString(), QStringLiteral("есть"));
        QCOMPARE(model.index(1, TSiteTableModel::cFaults).data().toString(), QStringLiteral("индикатор расхода, электрометр"));
        QVERIFY(window.windowTitle().contains(QStringLiteral("требуют внимания: 4")));
        QVERIFY(window.StatusText().contains(QStringLiteral("требуют внимания: 4")));
        // The 24-hour chart: the stored records' ACTIVITY, and the first threshold.
        const TSiteRow &okRow = model.Rows()[4];
        const std::optional<TSiteStore::Rows> records = store.Records("ok", std::nullopt, std::nullopt);
        QVERIFY(records);
        const qsizetype activity = records->Columns.indexOf("ACTIVITY");
        QList<double> stored;
        for (const auto &values : records->Values)
            if (const std::optional<double> v = StoredNumber(values[activity]))
                stored << *v;
        QList<double> drawn;
        for (const QPointF &p : okRow.Day)
            drawn << p.y();
        QCOMPARE(drawn, stored);
        QCOMPARE(okRow.Threshold1, StoredNumber(records->Values.last()[records->Columns.indexOf("ALARM1")]));
        QVERIFY(!model.index(4, TSiteTableModel::cDay).data(Qt::DecorationRole).value<QPixmap>().isNull());
        // With KVARN_GRAB_DIR set, the window is saved as PNG to look at.
        if (const QString grab = qEnvironmentVariable("KVARN_GRAB_DIR"); !grab.isEmpty())
            window.grab().save(QStringLiteral("%1/site-%2.png").arg(grab, QTest::currentDataTag()));

        // Events of "alarm", newest first, in words; filtered by kind.
        window.SelectInstallation("alarm");
        QMetaObject::invokeMethod(&window, [&] { emit window.EventsWanted("alarm", {}); });
        QTRY_VERIFY_WITH_TIMEOUT(window.EventsModel()->rowCount() > 0, 10000);
        QList<QString> kinds;
        for (int r = 0; r < window.EventsModel()->rowCount(); ++r)
            kinds << window.EventsModel()->item(r, 1)->text();
        QVERIFY2(kinds.contains(QStringLiteral("тревога")), qPrintable(QStringList(kinds).join(',')));

        // A period into the archive: exactly the stored records.
        QSignalSpy loaded(&window, &TSiteWindow::ArchiveLoaded);
        window.SelectInstallation("ok");
        window.LoadPeriod(QDateTime(QDate(2000, 1, 1), QTime(0, 0), Qt::UTC), QDateTime(QDate(2100, 1, 1), QTime(0, 0), Qt::UTC));
        QTRY_COMPARE_WITH_TIMEOUT(loaded.size(), 1, 10000);
        const auto period = loaded.first().at(1).value<TSiteStore::Rows>();
        QCOMPARE(period.Columns, records->Columns);
        QCOMPARE(period.Values, records->Values);

        if (postgres) {
            // The server stops mid-view: the table greys, says why, and recovers.
            window.SetRefreshSeconds(2);
            QVERIFY(pg_.Stop());
            QTRY_VERIFY_WITH_TIMEOUT(window.StatusText().startsWith(QStringLiteral("база недоступна: ")), 30000);
            QCOMPARE(model.rowCount(), 5);
            QCOMPARE(model.index(0, 0).data(Qt::ForegroundRole).value<QColor>(), QColor(Qt::gray));
            QVERIFY(pg_.Start());
            QTRY_VERIFY_WITH_TIMEOUT(window.StatusText().startsWith(QStringLiteral("Установок: 5")), 30000);
            QVERIFY(!model.index(0, 0).data(Qt::ForegroundRole).isValid());
        }
        // A file that is no site database is refused with the store's words.
        const QString other = dir_.filePath("other.db");
        QFile(other).open(QIODevice::WriteOnly);
        prompt.ExpectError();
        TSiteWindow refused(*TStoreUrl::Parse("sqlite:" + other, nullptr), prompt);
        QTRY_VERIFY_WITH_TIMEOUT(refused.StatusText().contains(QStringLiteral("не база площадки")), 10000);
    }
};

QTEST_MAIN(TestSite)
#include "tst_site.moc"
