#pragma once
// EURDEP 2.1 messages: the radiological values a site owes a monitoring
// network, as plain text of "\KEYWORD value;" lines (a header, the
// localities, the values) with CR LF line ends, ASCII only.
//
// The value of a period is the mean of an installation's records whose time
// (UTC) lies in [BEGIN, END). Records with a fault bit are left out of the
// mean and counted; a period with no usable record is not written. A period
// with fewer usable records than a quarter of those expected (its length over
// the usual spacing of the installation's records) is written as not
// validated.

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <optional>

// One archive record reduced to what a period needs.
struct TActivitySample {
    QDateTime At; // UTC
    double Value = 0;
    bool Fault = false; // a fault bit in STATUS: not part of the mean
};

struct TPeriodValue {
    QDateTime Begin, End; // UTC
    double Mean = 0;
    int Used = 0;   // records in the mean
    int Faulty = 0; // records left out: a fault bit, or a value that is no number
    bool Validated = false;
    std::optional<double> Uncertainty; // standard error of the mean, from two records on
    bool operator==(const TPeriodValue &) const = default;
};

// The start of the period of periodSeconds that holds t (periods begin at
// whole multiples of their length since midnight UTC).
QDateTime PeriodStart(const QDateTime &t, int periodSeconds);

// The periods in [from, to) (both on period bounds) that hold at least one
// usable record. samples must be in time order. Each period's usual spacing
// is the median gap between the records of the day before its end, so that a
// period is computed alike whether it is exported alone or within a month.
QList<TPeriodValue> PeriodValues(const QList<TActivitySample> &samples, const QDateTime &from, const QDateTime &to,
                                 int periodSeconds);
// The records a period needs: those from a day before its start.
constexpr qint64 kSpacingLookbackSeconds = 86400;

struct TEurdepLocality {
    QString Code;           // letters and digits, "RU0001"
    QString Name;           // any text; sent transliterated to ASCII
    std::optional<double> Latitude, Longitude, HeightAboveSea;
    QString Nuclide = QStringLiteral("RN-222");
    QString SampleType = QStringLiteral("A1");
};

struct TEurdepSeries {
    TEurdepLocality Locality;
    QList<TPeriodValue> Values;
};

struct TEurdepMessage {
    QString Originator;
    QString CountryCode; // optional
    QString SoftwareVersion;
    QString FileName;
    QDateTime Sent; // UTC
    QList<TEurdepSeries> Series;
};

// Whether a locality code can be sent: 1 to 20 ASCII letters and digits.
bool IsEurdepLocalityCode(const QString &code);
// A text as ASCII: Cyrillic transliterated, other letters stripped of their
// accents, anything else left out; the field separators , and ; become blanks.
QString EurdepAscii(const QString &text);
// "CCYYYYMMDDHHMM.EUR": the country code and the end of the period.
QString EurdepFileName(const QString &countryCode, const QDateTime &periodEnd);
// The message's identity: the originator, the end of its last period and a
// digest of its values; the same values give the same identity, corrected
// values a new one.
QString EurdepMessageId(const TEurdepMessage &message);
// The whole message, CR LF line ends.
QByteArray EurdepText(const TEurdepMessage &message);
// Time as the format writes it: YYYY-MM-DDTHH:MMZ.
QString EurdepTime(const QDateTime &utc);
