// The command line of kvarnctl and the rules its commands share: what is
// accepted and refused before anything is sent, how an echo tells whether a
// written value was taken, the installation's time text, CSV fields and the
// naming of a failed exchange.

#include "base/cp1251.h"
#include "base/installationtime.h"
#include "cli/cliarguments.h"
#include "cli/cliconsole.h"
#include "cli/clicsv.h"
#include "cli/kvarnctl.h"

#include <QTemporaryDir>
#include <QTest>

namespace {

// The fields a command line set, in a form a table can hold.
QString describe(const TCliRequest &r)
{
    QStringList p{r.Command == TCliCommand::Help ? "help:" + CliCommandName(r.HelpFor) : CliCommandName(r.Command)};
    if (r.Port)
        p << "port=" + *r.Port;
    if (r.Baud)
        p << QStringLiteral("baud=%1").arg(*r.Baud);
    if (!r.ConfigFile.isEmpty())
        p << "config=" + r.ConfigFile;
    if (r.Device != 1)
        p << QStringLiteral("device=%1").arg(r.Device);
    if (r.Verbose)
        p << "verbose";
    QStringList groups;
    for (TCliGroup g : r.Groups)
        groups << CliGroupName(g);
    if (!groups.isEmpty())
        p << "groups=" + groups.join(',');
    QStringList vars;
    for (const TCliVariable &v : r.Variables)
        vars << FromCp1251(v.Name + (v.Index.isEmpty() ? "" : ":" + v.Index)
                          + (r.Command == TCliCommand::Set ? "=" + v.Value : QByteArray()));
    if (!vars.isEmpty())
        p << "vars=" + vars.join('|');
    if (r.Background)
        p << "background";
    if (!r.OutputFile.isEmpty())
        p << "o=" + r.OutputFile;
    if (!r.CsvFile.isEmpty())
        p << "csv=" + r.CsvFile;
    if (r.Command == TCliCommand::Archive)
        p << QStringLiteral("cols=%1 step=%2 from=%3 to=%4")
                 .arg(QString::fromLatin1(r.ArchiveColumns.join(',')))
                 .arg(r.Step)
                 .arg(r.From)
                 .arg(r.To ? QString::number(*r.To) : "last");
    const QString form = QStringLiteral("yyyy-MM-dd hh:mm:ss");
    if (r.Since)
        p << "since=" + r.Since->toString(form);
    if (r.Until)
        p << "until=" + r.Until->toString(form);
    if (!r.AppendFile.isEmpty())
        p << (r.AppendCsv ? "append-csv=" : "append=") + r.AppendFile;
    if (r.DryRun)
        p << "dry-run";
    if (r.Command == TCliCommand::Poll)
        p << QStringLiteral("interval=%1 count=%2").arg(r.Interval).arg(r.Count ? QString::number(*r.Count) : "none");
    if (!r.Input.isEmpty())
        p << "in=" + r.Input << "out=" + r.Output << (r.Encode ? "encode" : "");
    p.removeAll(QString());
    return p.join(' ');
}

} // namespace

class TestCliArguments : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void accepted_data();
    void accepted();
    void refused_data();
    void refused();
    void echoTakesValue_data();
    void echoTakesValue();
    void installationTime();
    void csvFields();
    void failedExchangeNamed_data();
    void failedExchangeNamed();

private:
    QTemporaryDir dir_;
};

void TestCliArguments::initTestCase()
{
    QVERIFY(dir_.isValid());
    QVERIFY(QDir::setCurrent(dir_.path()));
    QVERIFY(QDir().mkdir("folder"));
}

void TestCliArguments::accepted_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("expected");

    QTest::newRow("line options before the command")
        << QStringList{"--port", "COM3", "--baud", "19200", "--config", "my.cfg", "--device", "7", "--verbose",
                       "read", "common", "test"}
        << "read port=COM3 baud=19200 config=my.cfg device=7 verbose groups=common,test";
    QTest::newRow("options anywhere, inline values, any letter case of a group")
        << QStringList{"read", "COUNTER", "--port=socket://10.0.0.5:4001", "Service", "records", "alarm"}
        << "read port=socket://10.0.0.5:4001 groups=counter,service,records,alarm";
    QTest::newRow("get with an index") << QStringList{"get", "ACTIVITY", "DATETIME:A001", "x_1"}
                                       << "get vars=ACTIVITY|DATETIME:A001|x_1";
    QTest::newRow("set: '=' inside a value, empty and Cyrillic values")
        << QStringList{"set", "ALARM1=1000", "NOTE=a=b", "EMPTY=", "SERIALN=Тест №5"}
        << "set vars=ALARM1=1000|NOTE=a=b|EMPTY=|SERIALN=Тест №5";
    QTest::newRow("spectrum") << QStringList{"spectrum", "background", "-o", "b.spc", "--csv", "-"}
                              << "spectrum background o=b.spc csv=-";
    QTest::newRow("archive defaults") << QStringList{"archive", "--csv", "a.csv"}
                                      << "archive csv=a.csv cols=DATETIME,ACTIVITY step=1 from=1 to=last";
    QTest::newRow("archive: variables in the order given, numbers clamped later")
        << QStringList{"archive", "--vars", "activity, DateTime,STATUS", "--step", "-3", "--from", "0", "--to",
                       "+5", "-o", "folder/a.daf"}
        << "archive o=folder/a.daf cols=ACTIVITY,DATETIME,STATUS step=-3 from=0 to=5";
    QTest::newRow("archive by time, both forms")
        << QStringList{"archive", "--since", "2026-12-06 06:00", "--until=07/12/2026 05.59.59", "-o", "n.daf"}
        << "archive o=n.daf cols=DATETIME,ACTIVITY step=1 from=1 to=last since=2026-12-06 06:00:00 "
           "until=2026-12-07 05:59:59";
    QTest::newRow("archive appended to, dry run, without output")
        << QStringList{"archive", "--dry-run", "--append", "folder/all.DAF", "--until", "2026-12-07"}
        << "archive cols=DATETIME,ACTIVITY step=1 from=1 to=last until=2026-12-07 00:00:00 append=folder/all.DAF "
           "dry-run";
    QTest::newRow("archive appended to as CSV")
        << QStringList{"archive", "--append-csv", "all.csv", "--vars", "DATETIME,STATUS"}
        << "archive cols=DATETIME,STATUS step=1 from=1 to=last append-csv=all.csv";
    QTest::newRow("poll defaults") << QStringList{"poll"} << "poll interval=10 count=none";
    QTest::newRow("poll") << QStringList{"poll", "--interval=255", "--count", "3"} << "poll interval=255 count=3";
    QTest::newRow("convert") << QStringList{"convert", "x.DAF", "y.CSV"} << "convert csv=y.CSV in=x.DAF out=y.CSV";
    QTest::newRow("passwd encode") << QStringList{"passwd", "encode", "plain.txt", "kvarn.pwd"}
                                   << "passwd in=plain.txt out=kvarn.pwd encode";
    QTest::newRow("tool help") << QStringList{"--help"} << "help:";
    QTest::newRow("help COMMAND") << QStringList{"help", "sync-clock"} << "help:sync-clock";
    QTest::newRow("COMMAND --help skips the checks") << QStringList{"archive", "-h", "--step", "x"}
                                                     << "help:archive";
}

void TestCliArguments::accepted()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, expected);
    TCliRequest request;
    QString error;
    QVERIFY2(ParseCliArguments(arguments, request, &error), qPrintable(error));
    QCOMPARE(describe(request), expected);
}

void TestCliArguments::refused_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");

    const QString longName(260, u'N');
    QTest::newRow("no command") << QStringList{"--verbose"} << "no command given";
    QTest::newRow("unknown command") << QStringList{"frobnicate"} << "unknown command \"frobnicate\"";
    QTest::newRow("unknown option") << QStringList{"--bogus", "read", "common"} << "unknown option --bogus";
    QTest::newRow("option of another command") << QStringList{"read", "common", "-o", "x"}
                                               << "-o is not an option of read";
    QTest::newRow("option without its value") << QStringList{"read", "common", "--port"} << "--port needs a value";
    QTest::newRow("device 0") << QStringList{"--device", "0", "read", "common"} << "from 1 to 255";
    QTest::newRow("rate not a number") << QStringList{"--baud", "fast", "read", "common"}
                                       << "--baud takes a whole number, not \"fast\"";
    QTest::newRow("read without groups") << QStringList{"read"} << "read needs one or more groups";
    QTest::newRow("unknown group") << QStringList{"read", "common", "bogus"} << "unknown group \"bogus\"";
    QTest::newRow("name with a blank") << QStringList{"get", "AC TIVITY"} << "\"AC TIVITY\" is not a variable";
    QTest::newRow("empty index") << QStringList{"get", "DATETIME:"} << "\"DATETIME:\" is not a variable";
    QTest::newRow("named twice, letter case aside") << QStringList{"get", "STATUS", "status"} << "named twice";
    QTest::newRow("request longer than a frame") << QStringList{"get", longName} << "at most 253";
    QTest::newRow("set without '='") << QStringList{"set", "ALARM1"} << "set takes NAME=VALUE";
    QTest::newRow("value with ';'") << QStringList{"set", "A=1;B=2"} << "\";\" or \":\"";
    QTest::newRow("value with ':'") << QStringList{"set", "A=12:00"} << "\";\" or \":\"";
    QTest::newRow("value that reads") << QStringList{"set", "A=??"} << "would ask for the value";
    QTest::newRow("value with a tab") << QStringList{"set", "A=x\ty"} << "control characters";
    QTest::newRow("value beyond code page 1251") << QStringList{"set", "A=✓"} << "code page 1251 cannot hold";
    QTest::newRow("step not a number") << QStringList{"archive", "-o", "a.daf", "--step", "x"}
                                       << "--step takes a whole number, not \"x\"";
    QTest::newRow("range beyond 32 bits") << QStringList{"archive", "-o", "a.daf", "--to", "99999999999"}
                                          << "--to takes a whole number from";
    QTest::newRow("not an archive variable") << QStringList{"archive", "-o", "a.daf", "--vars", "DATETIME,RESOURCE"}
                                             << "\"RESOURCE\" is not an archive variable";
    QTest::newRow("archive variable twice") << QStringList{"archive", "-o", "a.daf", "--vars", "ACTIVITY,activity"}
                                            << "names ACTIVITY twice";
    QTest::newRow("archive without output") << QStringList{"archive"} << "needs -o FILE and/or --csv FILE";
    QTest::newRow("time that is none") << QStringList{"archive", "-o", "a.daf", "--since", "2026-02-30"}
                                       << "--since takes a local time";
    QTest::newRow("range ending before it begins")
        << QStringList{"archive", "-o", "a.daf", "--since", "2026-12-07", "--until", "2026-12-06 23:59"}
        << "--until is earlier than --since";
    QTest::newRow("records by number and by time") << QStringList{"archive", "-o", "a.daf", "--from", "5", "--until",
                                                                  "2026-12-07"}
                                                   << "give one or the other";
    QTest::newRow("appending with other outputs") << QStringList{"archive", "--append", "a.daf", "--csv", "-"}
                                                  << "-o and --csv do not go with it";
    QTest::newRow("appending from a time") << QStringList{"archive", "--append", "a.daf", "--since", "2026-12-07"}
                                           << "--since do not go with it";
    QTest::newRow("two files to append to") << QStringList{"archive", "--append", "a.daf", "--append-csv", "a.csv"}
                                            << "one file to append to";
    QTest::newRow("appending to another kind of file") << QStringList{"archive", "--append-csv", "a.daf"}
                                                       << "--append-csv takes a .csv file";
    QTest::newRow("appending to a folder") << QStringList{"archive", "--append", "folder"} << "takes a .daf file";
    QTest::newRow("dry run with a value") << QStringList{"archive", "--dry-run=yes", "-o", "a.daf"}
                                          << "--dry-run takes no value";
    QTest::newRow("dry run of another command") << QStringList{"spectrum", "main", "--dry-run", "-o", "x.spc"}
                                                << "--dry-run is not an option of spectrum";
    QTest::newRow("spectrum kind") << QStringList{"spectrum", "third", "-o", "x.spc"} << "main or background";
    QTest::newRow("missing output folder") << QStringList{"spectrum", "main", "-o", "nowhere/x.spc"}
                                           << "the folder of nowhere/x.spc does not exist";
    QTest::newRow("output is a folder") << QStringList{"spectrum", "main", "--csv", "folder"} << "is a folder";
    QTest::newRow("one file twice") << QStringList{"spectrum", "main", "-o", "s", "--csv", "./s"}
                                    << "name the same file";
    QTest::newRow("-o to standard output") << QStringList{"spectrum", "main", "-o", "-"} << "use --csv -";
    QTest::newRow("interval 0") << QStringList{"poll", "--interval", "0"} << "from 1 to 255";
    QTest::newRow("count 0") << QStringList{"poll", "--count", "0"} << "--count takes a whole number from 1";
    QTest::newRow("convert of another file") << QStringList{"convert", "a.txt", "b.csv"} << "reads .daf and .spc";
    QTest::newRow("convert into another format") << QStringList{"convert", "a.daf", "b.daf"} << "writes CSV";
    QTest::newRow("passwd without a verb") << QStringList{"passwd", "kvarn.pwd"} << "passwd takes encode";
    QTest::newRow("arguments where none belong") << QStringList{"sync-clock", "now"} << "takes no arguments";
}

void TestCliArguments::refused()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    TCliRequest request;
    QString error;
    QVERIFY(!ParseCliArguments(arguments, request, &error));
    QVERIFY2(error.contains(message), qPrintable(error));
}

void TestCliArguments::echoTakesValue_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("written");
    QTest::addColumn<QByteArray>("echoed");
    QTest::addColumn<bool>("taken");

    QTest::newRow("same text") << QByteArray("SERIALN") << QByteArray("A-17") << QByteArray("A-17") << true;
    QTest::newRow("blanks aside") << QByteArray("SERIALN") << QByteArray(" A-17") << QByteArray("A-17") << true;
    QTest::newRow("same number, other form") << QByteArray("ALARM1") << QByteArray("1000.0") << QByteArray("1000")
                                             << true;
    QTest::newRow("other number") << QByteArray("ALARM1") << QByteArray("1500") << QByteArray("1000") << false;
    QTest::newRow("refused text") << QByteArray("ALARM1") << QByteArray("abc") << QByteArray("1000") << false;
    QTest::newRow("clock ran on") << QByteArray("DATETIME") << QByteArray("31/12/2023 23.59.58")
                                  << QByteArray("01/01/2024 00.00.01") << true;
    QTest::newRow("clock kept its time") << QByteArray("datetime") << QByteArray("05/03/2004 14.07.00")
                                         << QByteArray("05/03/2004 14.07.30") << false;
    QTest::newRow("clock answer no time") << QByteArray("DATETIME") << QByteArray("05/03/2004 14.07.00")
                                          << QByteArray("@@") << false;
    QTest::newRow("time rule only for the clock") << QByteArray("NOTE") << QByteArray("05/03/2004 14.07.00")
                                                  << QByteArray("05/03/2004 14.07.01") << false;
}

void TestCliArguments::echoTakesValue()
{
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, written);
    QFETCH(QByteArray, echoed);
    QFETCH(bool, taken);
    QCOMPARE(TKvarnCtl::EchoTakes(name, written, echoed), taken);
}

void TestCliArguments::installationTime()
{
    const QDateTime t(QDate(2004, 3, 5), QTime(14, 7, 0));
    QCOMPARE(InstallationTimeText(t), QByteArray("05/03/2004 14.07.00"));
    QCOMPARE(ParseInstallationTime("5/3/2004  14.7.0")->toString("yyyy-MM-dd hh:mm:ss"),
             QString("2004-03-05 14:07:00"));
    for (const char *bad : {"31/02/2004 10.00.00", "05/03/2004", "05/03/2004 25.00.00", "05/-3/2004 10.00.00",
                            "05/03/2004 10.00.00 x"})
        QVERIFY2(!ParseInstallationTime(bad), bad);
}

void TestCliArguments::csvFields()
{
    QCOMPARE(CsvField("07/12/2026 08.22.20"), QByteArray("07/12/2026 08.22.20"));
    QCOMPARE(CsvField("1,5"), QByteArray("\"1,5\""));
    QCOMPARE(CsvField("say \"hi\""), QByteArray("\"say \"\"hi\"\"\""));
    QCOMPARE(CsvField("a\r\nb"), QByteArray("\"a\r\nb\""));
    QCOMPARE(CsvField(Cp("Бк/м**3")), QString("Бк/м**3").toUtf8());
}

void TestCliArguments::failedExchangeNamed_data()
{
    QTest::addColumn<QList<QByteArray>>("lines");
    QTest::addColumn<QString>("failure");

    QTest::newRow("silent three times")
        << QList<QByteArray>{"-> DATETIME=??;", "<- DATETIME=05/03/2004 14.07.00;", "-> ACTIVITY:A042=??;", "<- ",
                             "-> ACTIVITY:A042=??;", "<- ", "-> ACTIVITY:A042=??;", "<- "}
        << "ACTIVITY:A042: no valid answer after 3 attempts (last: no reply, or one from another station)";
    QTest::newRow("bad checksum last")
        << QList<QByteArray>{"-> STATUS=??;", "<- ", "-> STATUS=??;", "<- bad CRC [17 bytes total]"}
        << "STATUS: no valid answer after 2 attempts (last: bad checksum)";
    QTest::newRow("an answer that could not be used")
        << QList<QByteArray>{"-> SPECTRUM1=??##;", "<- ", "-> SPECTRUM1=??##;", "<- SPECTRUM1=##0;"}
        << "SPECTRUM1: the installation's answer to SPECTRUM1=??##; could not be used";
    QTest::newRow("block reply of several lines")
        << QList<QByteArray>{"-> SPECTRUM1=??#2;", "<- 02 02 00 00", "<- 00 00"}
        << "SPECTRUM1: the installation's answer to SPECTRUM1=??#2; could not be used";
}

void TestCliArguments::failedExchangeNamed()
{
    QFETCH(QList<QByteArray>, lines);
    QFETCH(QString, failure);
    TCliConsole console(stdout, stderr, false);
    TCliTerminal terminal(console, false);
    // What an earlier transaction left does not count.
    for (const char *earlier : {"-> ACTIVITY:A042=??;", "<- "})
        terminal.AppendLine(earlier);
    terminal.BeginTransaction();
    for (const QByteArray &line : lines)
        terminal.AppendLine(line);
    QCOMPARE(terminal.FailureText(), failure);
}

QTEST_GUILESS_MAIN(TestCliArguments)
#include "tst_cliarguments.moc"
