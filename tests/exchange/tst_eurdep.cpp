// EURDEP messages: the values of periods from records, and the text read
// back by a reader of the format's grammar.

#include "exchange/eurdep.h"
#include "support/eurdepreader.h"

#include <QTest>

namespace {

const QDateTime kNoon(QDate(2026, 12, 7), QTime(12, 0), Qt::UTC);

// Records every `step` minutes from `first` minutes after noon, values given.
QList<TActivitySample> Every(int first, int step, const QList<double> &values, const QList<int> &faulty = {})
{
    QList<TActivitySample> samples;
    for (int i = 0; i < values.size(); ++i)
        samples << TActivitySample{kNoon.addSecs(60 * (first + i * step)), values[i], faulty.contains(i)};
    return samples;
}

TEurdepLocality Locality(const QString &code, const QString &nuclide = QStringLiteral("RN-222"))
{
    TEurdepLocality l;
    l.Code = code;
    l.Name = QStringLiteral("Зал №1, Ёлкино; Müller");
    l.Latitude = 55.75;
    l.Longitude = -37.5;
    l.HeightAboveSea = 150;
    l.Nuclide = nuclide;
    return l;
}

} // namespace

class TestEurdep : public QObject {
    Q_OBJECT
private slots:
    void periodValues_data();
    void periodValues();
    void messageReadsBack();
    void identityFollowsContent();
};

void TestEurdep::periodValues_data()
{
    QTest::addColumn<QList<TActivitySample>>("samples");
    QTest::addColumn<int>("period");
    // Per period written: minutes after noon of its start, mean, used, faulty, validated.
    QTest::addColumn<QList<QList<double>>>("expected");

    QTest::newRow("hourly means, the end excluded")
        << Every(0, 10, {10, 20, 30, 40, 50, 60, 100}) << 3600 << QList<QList<double>>{{0, 35, 6, 0, 1}, {60, 100, 1, 0, 0}};
    QTest::newRow("a fault bit leaves the record out and is counted")
        << Every(0, 10, {10, 20, 1000, 40, 50, 60}, {2}) << 3600 << QList<QList<double>>{{0, 36, 5, 1, 1}};
    QTest::newRow("a period of faulty records only is not written")
        << Every(0, 30, {10, 20, 30, 40}, {0, 1}) << 3600 << QList<QList<double>>{{60, 35, 2, 0, 1}};
    QTest::newRow("an hour without records is not written")
        << (Every(0, 10, {1, 2}) + Every(130, 10, {7})) << 3600
        << QList<QList<double>>{{0, 1.5, 2, 0, 1}, {120, 7, 1, 0, 1}};
    QTest::newRow("a quarter of the expected records still validates")
        << (Every(-600, 10, QList<double>(60, 5.0)) + Every(0, 10, {8, 9})) << 3600
        << QList<QList<double>>{{-600, 5, 6, 0, 1}, {-540, 5, 6, 0, 1}, {-480, 5, 6, 0, 1}, {-420, 5, 6, 0, 1},
                                {-360, 5, 6, 0, 1}, {-300, 5, 6, 0, 1}, {-240, 5, 6, 0, 1}, {-180, 5, 6, 0, 1},
                                {-120, 5, 6, 0, 1}, {-60, 5, 6, 0, 1}, {0, 8.5, 2, 0, 1}};
    QTest::newRow("fewer than a quarter does not")
        << (Every(-120, 5, QList<double>(24, 5.0)) + Every(0, 5, {8, 9})) << 3600
        << QList<QList<double>>{{-120, 5, 12, 0, 1}, {-60, 5, 12, 0, 1}, {0, 8.5, 2, 0, 0}};
    QTest::newRow("10-minute periods") << Every(0, 2, {1, 2, 3, 4, 5, 6}) << 600
                                       << QList<QList<double>>{{0, 3, 5, 0, 1}, {10, 6, 1, 0, 0}};
}

void TestEurdep::periodValues()
{
    QFETCH(QList<TActivitySample>, samples);
    QFETCH(int, period);
    QFETCH(QList<QList<double>>, expected);
    const QList<TPeriodValue> values = PeriodValues(samples, kNoon.addSecs(-36000), kNoon.addSecs(3 * 3600), period);
    QCOMPARE(values.size(), expected.size());
    for (int i = 0; i < values.size(); ++i) {
        const TPeriodValue &v = values[i];
        QCOMPARE(v.Begin, kNoon.addSecs(qint64(expected[i][0]) * 60));
        QCOMPARE(v.End, v.Begin.addSecs(period));
        QCOMPARE(v.Mean, expected[i][1]);
        QCOMPARE(v.Used, int(expected[i][2]));
        QCOMPARE(v.Faulty, int(expected[i][3]));
        QCOMPARE(v.Validated, expected[i][4] != 0);
        QCOMPARE(v.Uncertainty.has_value(), v.Used > 1);
    }
    // A period computed alone gives what it gave within the whole range.
    if (!values.isEmpty()) {
        const TPeriodValue &last = values.last();
        QCOMPARE(PeriodValues(samples, last.Begin, last.End, period), QList<TPeriodValue>{last});
    }
}

void TestEurdep::messageReadsBack()
{
    TEurdepMessage m;
    m.Originator = QStringLiteral("Станция Альфа");
    m.CountryCode = QStringLiteral("RU");
    m.SoftwareVersion = QStringLiteral("kvarn 1.1");
    m.FileName = EurdepFileName(m.CountryCode, kNoon);
    m.Sent = kNoon.addSecs(125);
    const QList<TPeriodValue> values = PeriodValues(Every(-60, 10, {1, 2, 4, 8, 16, 32}), kNoon.addSecs(-3600), kNoon, 3600);
    m.Series = {{Locality(QStringLiteral("RU0001")), values},
                {Locality(QStringLiteral("RU0002"), QStringLiteral("XE-133")), PeriodValues(Every(-10, 10, {7}), kNoon.addSecs(-3600), kNoon, 3600)},
                {Locality(QStringLiteral("RU0003")), {}}};
    const QByteArray text = EurdepText(m);
    const TEurdepRead read = ReadEurdep(text);
    QVERIFY2(read.Error.isEmpty(), qPrintable(read.Error + u'\n' + QString::fromLatin1(text)));

    QCOMPARE(m.FileName, QStringLiteral("RU202612071200.EUR"));
    QCOMPARE(read.Header["SENT"], QStringLiteral("2026-12-07T12:02Z"));
    QCOMPARE(read.Header["ORIGINATOR"], QStringLiteral("Stantsiya Alfa"));
    QCOMPARE(read.Header["IMPORTANCE"], QStringLiteral("NORMAL"));
    QCOMPARE(read.Header["FILENAME"], m.FileName);
    QCOMPARE(read.Header["COUNTRY_CODE"], QStringLiteral("RU"));
    QCOMPARE(read.Localities.size(), 3);
    QCOMPARE(read.Localities[0]["LOCALITY_NAME"], QStringLiteral("Zal 1 Elkino Muller"));
    QCOMPARE(read.Localities[0]["LONGITUDE"], QStringLiteral("-37.5"));
    QCOMPARE(read.Values.size(), 2);
    const QMap<QString, QString> first = read.Values[0];
    QCOMPARE(first["LOCALITY_CODE"], QStringLiteral("RU0001"));
    QCOMPARE(first["BEGIN"], QStringLiteral("2026-12-07T11:00Z"));
    QCOMPARE(first["END"], QStringLiteral("2026-12-07T12:00Z"));
    QCOMPARE(first["VALUE"], QStringLiteral("10.5"));
    QCOMPARE(first["VALIDATED"], QStringLiteral("1"));
    QCOMPARE(first["UNIT"], QStringLiteral("BQ/M3"));
    QCOMPARE(first["SAMPLE_TYPE"], QStringLiteral("A1"));
    QVERIFY(qAbs(first["UNCERTAINTY"].toDouble() - *values[0].Uncertainty) < 0.0005);
    // The nuclides differ: each row names its own; the lone record has no uncertainty.
    QCOMPARE(first["NUCLIDE"], QStringLiteral("RN-222"));
    QCOMPARE(read.Values[1]["NUCLIDE"], QStringLiteral("XE-133"));
    QCOMPARE(read.Values[1]["UNCERTAINTY"], QString());
}

void TestEurdep::identityFollowsContent()
{
    TEurdepMessage m;
    m.Originator = QStringLiteral("site");
    m.Sent = kNoon;
    m.Series = {{Locality(QStringLiteral("RU0001")), PeriodValues(Every(-30, 10, {1, 2}), kNoon.addSecs(-3600), kNoon, 3600)}};
    const QString id = EurdepMessageId(m);
    QVERIFY(id.startsWith(QLatin1String("site-202612071200-")));
    TEurdepMessage later = m;
    later.Sent = kNoon.addSecs(3000);
    QCOMPARE(EurdepMessageId(later), id);
    TEurdepMessage corrected = m;
    corrected.Series[0].Values = PeriodValues(Every(-30, 10, {1, 2, 3}), kNoon.addSecs(-3600), kNoon, 3600);
    QVERIFY(EurdepMessageId(corrected) != id);
    QVERIFY(IsEurdepLocalityCode(QStringLiteral("RU0001")));
    for (const char *bad : {"", "RU-0001", "RU 1", "ЯЯ01", "123456789012345678901"})
        QVERIFY2(!IsEurdepLocalityCode(QString::fromUtf8(bad)), bad);
}

QTEST_GUILESS_MAIN(TestEurdep)
#include "tst_eurdep.moc"
