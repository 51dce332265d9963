#include "exchange/eurdep.h"

#include <QCryptographicHash>
#include <QHash>
#include <algorithm>
#include <cmath>
#include <vector>

namespace {

const char *const kCrLf = "\r\n";

// Cyrillic letters as Latin ones (Russian and the Ukrainian and Belarusian letters).
const QHash<char16_t, const char *> &cyrillicLatin()
{
    static const QHash<char16_t, const char *> table = {
        {u'а', "a"},  {u'б', "b"},  {u'в', "v"},  {u'г', "g"},    {u'д', "d"},  {u'е', "e"},  {u'ё', "e"},
        {u'ж', "zh"}, {u'з', "z"},  {u'и', "i"},  {u'й', "y"},    {u'к', "k"},  {u'л', "l"},  {u'м', "m"},
        {u'н', "n"},  {u'о', "o"},  {u'п', "p"},  {u'р', "r"},    {u'с', "s"},  {u'т', "t"},  {u'у', "u"},
        {u'ф', "f"},  {u'х', "kh"}, {u'ц', "ts"}, {u'ч', "ch"},   {u'ш', "sh"}, {u'щ', "shch"}, {u'ъ', ""},
        {u'ы', "y"},  {u'ь', ""},   {u'э', "e"},  {u'ю', "yu"},   {u'я', "ya"}, {u'і', "i"},  {u'ї', "yi"},
        {u'є', "ye"}, {u'ґ', "g"},  {u'ў', "u"},
    };
    return table;
}

// A number without trailing zeros: at most `decimals` places, never an exponent.
QString plainNumber(double value, int decimals)
{
    QString text = QString::number(value, 'f', decimals);
    if (text.contains(u'.')) {
        while (text.endsWith(u'0'))
            text.chop(1);
        if (text.endsWith(u'.'))
            text.chop(1);
    }
    if (text == u"-0")
        text = QStringLiteral("0");
    return text;
}

QString optionalNumber(const std::optional<double> &value, int decimals)
{
    return value ? plainNumber(*value, decimals) : QString();
}

// Median of the gaps between successive times in [first, last).
std::optional<qint64> medianGap(const std::vector<qint64> &seconds, size_t first, size_t last,
                                std::vector<qint64> &gaps)
{
    gaps.clear();
    for (size_t i = first + 1; i < last; ++i)
        gaps.push_back(seconds[i] - seconds[i - 1]);
    if (gaps.empty())
        return std::nullopt;
    const auto middle = gaps.begin() + qsizetype(gaps.size() / 2);
    std::nth_element(gaps.begin(), middle, gaps.end());
    return *middle;
}

struct Column {
    const char *Name;
    QString (*Value)(const TEurdepLocality &);
};

// What the values' rows may carry beside their own fields: a key shared by
// every row goes into the block's defaults, one that differs is a column.
const QList<Column> &sharedColumns()
{
    static const QList<Column> columns = {
        {"SAMPLE_TYPE", [](const TEurdepLocality &l) { return EurdepAscii(l.SampleType); }},
        {"NUCLIDE", [](const TEurdepLocality &l) { return EurdepAscii(l.Nuclide); }},
    };
    return columns;
}

void line(QByteArray &out, const QString &text)
{
    out += text.toLatin1();
    out += ';';
    out += kCrLf;
}

// The message without SENT and MESSAGE_ID: what its identity is made of.
QByteArray body(const TEurdepMessage &m)
{
    QByteArray out;
    line(out, QStringLiteral("\\BEGIN_LOCALITY"));
    line(out, QStringLiteral("\\FIELD_LIST LOCALITY_CODE,LOCALITY_NAME,LATITUDE,LONGITUDE,HEIGHT_ABOVE_SEA"));
    for (const TEurdepSeries &s : m.Series) {
        const TEurdepLocality &l = s.Locality;
        line(out, QStringList{EurdepAscii(l.Code), EurdepAscii(l.Name), optionalNumber(l.Latitude, 5),
                              optionalNumber(l.Longitude, 5), optionalNumber(l.HeightAboveSea, 1)}
                      .join(u','));
    }
    line(out, QStringLiteral("\\END_LOCALITY"));

    line(out, QStringLiteral("\\BEGIN_RADIOLOGICAL"));
    bool uncertainty = false;
    QList<const Column *> varying;
    QStringList defaults;
    for (const Column &c : sharedColumns()) {
        std::optional<QString> common;
        bool differs = false;
        for (const TEurdepSeries &s : m.Series) {
            if (s.Values.isEmpty())
                continue;
            const QString value = c.Value(s.Locality);
            differs = differs || (common && *common != value);
            common = value;
        }
        if (differs)
            varying << &c;
        else if (common)
            defaults << QStringLiteral("\\%1 %2").arg(QLatin1String(c.Name), *common);
    }
    for (const TEurdepSeries &s : m.Series)
        for (const TPeriodValue &v : s.Values)
            uncertainty = uncertainty || v.Uncertainty.has_value();
    line(out, QStringLiteral("\\BEGIN_DEFAULT"));
    for (const QString &d : defaults)
        line(out, d);
    line(out, QStringLiteral("\\UNIT BQ/M3"));
    line(out, QStringLiteral("\\VALUE_TYPE M"));
    if (uncertainty) {
        line(out, QStringLiteral("\\UNCERTAINTY_TYPE SEM"));
        line(out, QStringLiteral("\\UNCERTAINTY_UNIT BQ/M3"));
    }
    line(out, QStringLiteral("\\END_DEFAULT"));
    QString fields = QStringLiteral("\\FIELD_LIST LOCALITY_CODE,BEGIN,END,VALUE,VALIDATED");
    if (uncertainty)
        fields += QStringLiteral(",UNCERTAINTY");
    for (const Column *c : varying)
        fields += u',' + QLatin1String(c->Name);
    line(out, fields);
    for (const TEurdepSeries &s : m.Series) {
        const QString code = EurdepAscii(s.Locality.Code);
        for (const TPeriodValue &v : s.Values) {
            QStringList row{code, EurdepTime(v.Begin), EurdepTime(v.End), plainNumber(v.Mean, 3),
                            v.Validated ? QStringLiteral("1") : QStringLiteral("0")};
            if (uncertainty)
                row << optionalNumber(v.Uncertainty, 3);
            for (const Column *c : varying)
                row << c->Value(s.Locality);
            line(out, row.join(u','));
        }
    }
    line(out, QStringLiteral("\\END_RADIOLOGICAL"));
    return out;
}

} // namespace

QDateTime PeriodStart(const QDateTime &t, int periodSeconds)
{
    const qint64 s = t.toSecsSinceEpoch();
    const qint64 floor = s - ((s % periodSeconds) + periodSeconds) % periodSeconds;
    return QDateTime::fromSecsSinceEpoch(floor, Qt::UTC);
}

QList<TPeriodValue> PeriodValues(const QList<TActivitySample> &samples, const QDateTime &from, const QDateTime &to,
                                 int periodSeconds)
{
    QList<TPeriodValue> values;
    std::vector<qint64> seconds;
    seconds.reserve(size_t(samples.size()));
    for (const TActivitySample &s : samples)
        seconds.push_back(s.At.toSecsSinceEpoch());
    const auto index = [&](qint64 t) { return size_t(std::lower_bound(seconds.begin(), seconds.end(), t) - seconds.begin()); };
    std::vector<qint64> gaps;
    const qint64 last = to.toSecsSinceEpoch();
    for (qint64 begin = from.toSecsSinceEpoch(); begin < last; begin += periodSeconds) {
        const qint64 end = begin + periodSeconds;
        const size_t first = index(begin);
        const size_t past = index(end);
        TPeriodValue v;
        double sum = 0;
        for (size_t i = first; i < past; ++i) {
            const TActivitySample &s = samples[qsizetype(i)];
            if (s.Fault || !std::isfinite(s.Value)) {
                ++v.Faulty;
                continue;
            }
            ++v.Used;
            sum += s.Value;
        }
        if (v.Used == 0)
            continue;
        v.Begin = QDateTime::fromSecsSinceEpoch(begin, Qt::UTC);
        v.End = QDateTime::fromSecsSinceEpoch(end, Qt::UTC);
        v.Mean = sum / v.Used;
        if (v.Used > 1) {
            double squares = 0;
            for (size_t i = first; i < past; ++i) {
                const TActivitySample &s = samples[qsizetype(i)];
                if (!s.Fault && std::isfinite(s.Value))
                    squares += (s.Value - v.Mean) * (s.Value - v.Mean);
            }
            v.Uncertainty = std::sqrt(squares / (v.Used - 1) / v.Used);
        }
        // Without two records in the day before the end the spacing is
        // unknown, and a lone record stands for the period.
        const std::optional<qint64> spacing = medianGap(seconds, index(end - kSpacingLookbackSeconds), past, gaps);
        const double expected = spacing && *spacing > 0 ? double(periodSeconds) / double(*spacing) : 1.0;
        v.Validated = 4.0 * v.Used >= expected;
        values << v;
    }
    return values;
}

bool IsEurdepLocalityCode(const QString &code)
{
    if (code.isEmpty() || code.size() > 20)
        return false;
    return std::all_of(code.begin(), code.end(), [](QChar c) {
        return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9');
    });
}

QString EurdepAscii(const QString &text)
{
    QString out;
    const QString decomposed = text.normalized(QString::NormalizationForm_D);
    for (qsizetype i = 0; i < decomposed.size(); ++i) {
        const QChar c = decomposed[i];
        if (c.unicode() >= 0x20 && c.unicode() < 0x7f) {
            out += (c == u',' || c == u';' || c == u'\\') ? u' ' : c;
            continue;
        }
        // The decomposition splits й and ё into a letter and a mark: take the
        // letter whole from the text as given.
        const QChar whole = i + 1 < decomposed.size() && decomposed[i + 1].category() == QChar::Mark_NonSpacing
                                ? QString(decomposed.mid(i, 2)).normalized(QString::NormalizationForm_C).at(0)
                                : c;
        const auto latin = cyrillicLatin().constFind(whole.toLower().unicode());
        if (latin == cyrillicLatin().constEnd())
            continue; // a mark, or a character with no Latin form
        if (whole != c)
            ++i;
        QString letters = QLatin1String(*latin);
        if (whole.isUpper() && !letters.isEmpty())
            letters[0] = letters[0].toUpper();
        out += letters;
    }
    return out.simplified();
}

QString EurdepTime(const QDateTime &utc)
{
    return utc.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mmZ"));
}

QString EurdepFileName(const QString &countryCode, const QDateTime &periodEnd)
{
    return EurdepAscii(countryCode).toUpper() + periodEnd.toUTC().toString(QStringLiteral("yyyyMMddHHmm"))
           + QStringLiteral(".EUR");
}

QString EurdepMessageId(const TEurdepMessage &m)
{
    QDateTime end;
    for (const TEurdepSeries &s : m.Series)
        for (const TPeriodValue &v : s.Values)
            if (!end.isValid() || v.End > end)
                end = v.End;
    QCryptographicHash digest(QCryptographicHash::Sha1);
    digest.addData(EurdepAscii(m.CountryCode).toLatin1());
    digest.addData(body(m));
    QString originator = EurdepAscii(m.Originator);
    originator.replace(u' ', u'_');
    return QStringLiteral("%1-%2-%3")
        .arg(originator, end.isValid() ? end.toString(QStringLiteral("yyyyMMddHHmm")) : QStringLiteral("NONE"),
             QString::fromLatin1(digest.result().toHex().left(12).toUpper()));
}

QByteArray EurdepText(const TEurdepMessage &m)
{
    QByteArray out;
    line(out, QStringLiteral("\\BEGIN_EURDEP"));
    line(out, QStringLiteral("\\BEGIN_HEADER"));
    line(out, QStringLiteral("\\FORMAT_VERSION 2.1"));
    line(out, QStringLiteral("\\SENT ") + EurdepTime(m.Sent));
    line(out, QStringLiteral("\\ORIGINATOR ") + EurdepAscii(m.Originator));
    line(out, QStringLiteral("\\IMPORTANCE NORMAL"));
    line(out, QStringLiteral("\\MESSAGE_ID ") + EurdepMessageId(m));
    if (!m.FileName.isEmpty())
        line(out, QStringLiteral("\\FILENAME ") + EurdepAscii(m.FileName));
    line(out, QStringLiteral("\\SOFTWARE_VERSION ") + EurdepAscii(m.SoftwareVersion));
    if (!m.CountryCode.isEmpty())
        line(out, QStringLiteral("\\COUNTRY_CODE ") + EurdepAscii(m.CountryCode).toUpper());
    line(out, QStringLiteral("\\END_HEADER"));
    out += body(m);
    line(out, QStringLiteral("\\END_EURDEP"));
    return out;
}
