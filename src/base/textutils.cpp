#include "base/textutils.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSysInfo>

#include <charconv>
#include <cmath>
#include <cstring>

namespace {
const char kHexDigits[] = "0123456789ABCDEF";

bool isControl(char c) { return static_cast<unsigned char>(c) <= 32; }
} // namespace

// --- bytes and hexadecimal -------------------------------------------------

QByteArray ByteToHex(quint8 value, bool keepLeadingZero)
{
    QByteArray out;
    if (keepLeadingZero || (value >> 4) != 0)
        out += kHexDigits[value >> 4];
    out += kHexDigits[value & 0x0F];
    return out;
}

QByteArray BytesToHex(const quint8 *bytes, int count)
{
    QByteArray out;
    if (!bytes || count <= 0)
        return out;
    out.reserve(count * 3);
    for (int i = 0; i < count; ++i) {
        out += kHexDigits[bytes[i] >> 4];
        out += kHexDigits[bytes[i] & 0x0F];
        out += ' ';
    }
    return out;
}

QByteArray BytesToHex(const QByteArray &bytes)
{
    return BytesToHex(reinterpret_cast<const quint8 *>(bytes.constData()), int(bytes.size()));
}

quint8 HexToByte(const QByteArray &text)
{
    const QByteArray t = TrimLeftControls(text);
    auto digit = [](const QByteArray &s, int i) -> int {
        if (i >= s.size())
            return -1;
        const char *p = std::strchr(kHexDigits, s.at(i));
        return (p && *p) ? int(p - kHexDigits) : -1;
    };
    return quint8((16 * digit(t, 0) + digit(t, 1)) & 0xFF);
}

void ZeroFill(quint8 *buffer, int highIndex)
{
    if (buffer && highIndex >= 0)
        std::memset(buffer, 0, size_t(highIndex) + 1);
}

void StrToBytes(const QByteArray &text, quint8 *buffer)
{
    if (buffer && !text.isEmpty())
        std::memcpy(buffer, text.constData(), size_t(text.size()));
}

QByteArray BytesToStr(const quint8 *bytes, int count)
{
    if (!bytes || count <= 0)
        return QByteArray();
    return QByteArray(reinterpret_cast<const char *>(bytes), count);
}

void SwapBytes(int i, int j, quint8 *buffer, int highIndex)
{
    if (!buffer || i < 0 || j < 0 || i > highIndex || j > highIndex)
        return;
    std::swap(buffer[i], buffer[j]);
}

// --- numbers -----------------------------------------------------------------

long double StrToFloatDot(const QByteArray &text, bool *ok)
{
    if (ok)
        *ok = false;
    const QByteArray t = text.trimmed();
    // Accept [+-]digits[.digits][(e|E)[+-]digits] with at least one mantissa digit.
    int i = 0;
    const int n = int(t.size());
    if (i < n && (t[i] == '+' || t[i] == '-'))
        ++i;
    int mantissaDigits = 0;
    while (i < n && t[i] >= '0' && t[i] <= '9') { ++i; ++mantissaDigits; }
    if (i < n && t[i] == '.') {
        ++i;
        while (i < n && t[i] >= '0' && t[i] <= '9') { ++i; ++mantissaDigits; }
    }
    if (mantissaDigits == 0)
        return 0;
    if (i < n && (t[i] == 'e' || t[i] == 'E')) {
        ++i;
        if (i < n && (t[i] == '+' || t[i] == '-'))
            ++i;
        int expDigits = 0;
        while (i < n && t[i] >= '0' && t[i] <= '9') { ++i; ++expDigits; }
        if (expDigits == 0)
            return 0;
    }
    if (i != n)
        return 0;
    if (ok)
        *ok = true;
    // from_chars takes no leading '+'.
    const char *first = t.constData() + (t.startsWith('+') ? 1 : 0);
    long double value = 0;
    const auto res = std::from_chars(first, t.constData() + n, value, std::chars_format::general);
    if (res.ec == std::errc::result_out_of_range)
        return 0;
    if (res.ec != std::errc() || !std::isfinite(value))
        return 0;
    return value;
}

long double StrToFloatDot(const QByteArray &text)
{
    bool ok = false;
    const long double v = StrToFloatDot(text, &ok);
    if (!ok)
        throw EConvertError();
    return v;
}

namespace {
// Decimal digits of |value| rounded to `precision` (1..18) significant
// digits, with the exponent e such that value = 0.ddd x 10^e. Trailing zeros
// are kept. The value is first written with the 18 significant digits an
// extended float holds; those are then rounded with halves going away from
// zero, as the printed number would be rounded by hand (12.25 to three
// digits is 12.3, not 12.2).
void decimalDigits(long double value, int precision, QByteArray &digits, int &e)
{
    constexpr int kHeld = 18;
    char buf[128];
    const auto res = std::to_chars(buf, buf + sizeof buf, std::fabs(value),
                                   std::chars_format::scientific, kHeld - 1);
    const QByteArray s(buf, int(res.ptr - buf)); // d.ddde[+-]xx
    const int ePos = int(s.indexOf('e'));
    digits.clear();
    for (int k = 0; k < ePos; ++k)
        if (s[k] != '.')
            digits += s[k];
    e = s.mid(ePos + 1).toInt() + 1;
    if (precision >= digits.size())
        return;
    const bool up = digits[precision] >= '5';
    digits.truncate(precision);
    if (!up)
        return;
    int k = precision - 1;
    while (k >= 0 && digits[k] == '9')
        digits[k--] = '0';
    if (k >= 0) {
        ++digits[k];
    } else { // 9.99 became 10.0
        digits.prepend('1');
        digits.chop(1);
        ++e;
    }
}
} // namespace

QByteArray FloatToStrFDot(FloatFormat format, int precision, int digits, long double value)
{
    if (std::isnan(value))
        return "NAN";
    if (std::isinf(value))
        return value < 0 ? "-INF" : "INF";
    precision = qBound(1, precision, 18);
    const QByteArray sign = std::signbit(value) && value != 0 ? "-" : "";

    if (format == FloatFormat::Fixed) {
        char buf[256];
        const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed,
                                       qBound(0, digits, 18));
        if (res.ec != std::errc())
            return FloatToStrFDot(FloatFormat::Exponent, precision, 0, value);
        return QByteArray(buf, int(res.ptr - buf));
    }

    QByteArray d;
    int e = 0;
    if (value == 0) {
        d = QByteArray(precision, '0');
        e = 1;
    } else {
        decimalDigits(value, precision, d, e);
    }

    if (format == FloatFormat::Exponent) {
        QByteArray out = sign + d.left(1);
        if (d.size() > 1)
            out += '.' + d.mid(1);
        const int x = value == 0 ? 0 : e - 1;
        out += 'E';
        out += x < 0 ? '-' : '+';
        out += PadLeftInt(std::abs(x), "0", unsigned(qBound(0, digits, 4)));
        return out;
    }

    // General
    if (value == 0)
        return "0";
    while (d.size() > 1 && d.endsWith('0'))
        d.chop(1);
    if (e < -3 || e > precision) {
        QByteArray out = sign + d.left(1);
        if (d.size() > 1)
            out += '.' + d.mid(1);
        out += 'E' + QByteArray::number(e - 1);
        return out;
    }
    QByteArray out = sign;
    if (e <= 0) {
        out += "0." + QByteArray(-e, '0') + d;
    } else if (e >= d.size()) {
        out += d + QByteArray(e - int(d.size()), '0');
    } else {
        out += d.left(e) + '.' + d.mid(e);
    }
    return out;
}

QByteArray FloatToStrDot(long double value)
{
    return FloatToStrFDot(FloatFormat::General, 15, 0, value);
}

QByteArray PadLeftInt(qint64 value, const QByteArray &pad, unsigned width)
{
    QByteArray out = QByteArray::number(value);
    if (pad.isEmpty())
        return out; // nothing to pad with: the plain number
    while (unsigned(out.size()) < width)
        out.prepend(pad);
    return out;
}

qint64 StrToIntDef(const QByteArray &text, qint64 fallback, bool *ok)
{
    const QByteArray t = text.trimmed();
    bool good = false;
    qint64 v = 0;
    if (!t.isEmpty()) {
        int i = (t[0] == '+' || t[0] == '-') ? 1 : 0;
        good = i < t.size();
        for (int k = i; k < t.size(); ++k)
            if (t[k] < '0' || t[k] > '9')
                good = false;
        if (good)
            v = t.toLongLong(&good);
    }
    if (ok)
        *ok = good;
    return good ? v : fallback;
}

// --- texts -------------------------------------------------------------------

QByteArray PadRight(const QByteArray &text, const QByteArray &pad, int width)
{
    QByteArray out = text;
    if (pad.isEmpty())
        return out;
    while (out.size() < width)
        out += pad;
    return out;
}

void RemoveAll(QByteArray &text, const QByteArray &part)
{
    if (!part.isEmpty())
        text.replace(part, QByteArray());
}

void ReplaceAll(QByteArray &text, const QByteArray &oldPart, const QByteArray &newPart)
{
    if (oldPart.isEmpty() || oldPart == newPart)
        return;
    // One left-to-right pass: ends even when the new part contains the old one.
    text.replace(oldPart, newPart);
}

void SplitAt(const QByteArray &text, const QByteArray &separator, QByteArray &left, QByteArray &right)
{
    const qsizetype p = separator.isEmpty() ? -1 : text.indexOf(separator);
    if (p < 0) {
        left.clear();
        right.clear();
        return;
    }
    const QByteArray l = text.left(p);
    const QByteArray r = text.mid(p + separator.size());
    left = l;
    right = r;
}

QByteArray TextBefore(const QByteArray &text, const QByteArray &part)
{
    const qsizetype p = part.isEmpty() ? -1 : text.indexOf(part);
    return p < 0 ? text : text.left(p);
}

bool DropThrough(QByteArray &text, const QByteArray &part)
{
    const qsizetype p = part.isEmpty() ? -1 : text.indexOf(part);
    if (p < 0) {
        text.clear();
        return false;
    }
    text.remove(0, p + part.size());
    return true;
}

namespace {
QByteArray dropLeadingBlanks(const QByteArray &text)
{
    int i = 0;
    while (i < text.size() && isControl(text[i]))
        ++i;
    return text.mid(i);
}
} // namespace

QByteArray FirstWord(const QByteArray &text)
{
    const QByteArray t = dropLeadingBlanks(text);
    const qsizetype p = t.indexOf(' ');
    return p < 0 ? t : t.left(p);
}

bool DropFirstWord(QByteArray &text)
{
    text = dropLeadingBlanks(text);
    const bool any = !text.isEmpty();
    const qsizetype p = text.indexOf(' ');
    if (p < 0) {
        text.clear();
    } else {
        text = dropLeadingBlanks(text.mid(p + 1));
    }
    return any;
}

QByteArray TrimControls(const QByteArray &text)
{
    int b = 0, e = int(text.size());
    while (b < e && isControl(text[b]))
        ++b;
    while (e > b && isControl(text[e - 1]))
        --e;
    return text.mid(b, e - b);
}

QByteArray TrimLeftControls(const QByteArray &text) { return dropLeadingBlanks(text); }

namespace {
// c in the other case when it is one of the 26 ASCII letters from `from` on;
// any other byte (code page 1251 letters included) stays as it is.
char asciiCase(char c, char from, char to)
{
    return c >= from && c <= char(from + 25) ? char(c - from + to) : c;
}

QByteArray asciiCase(const QByteArray &text, char from, char to)
{
    QByteArray out = text;
    for (char &c : out)
        c = asciiCase(c, from, to);
    return out;
}
} // namespace

QByteArray AsciiUpper(const QByteArray &text) { return asciiCase(text, 'a', 'A'); }

QByteArray AsciiLower(const QByteArray &text) { return asciiCase(text, 'A', 'a'); }

bool SameTextAscii(const QByteArray &a, const QByteArray &b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i)
        if (asciiCase(a[i], 'a', 'A') != asciiCase(b[i], 'a', 'A'))
            return false;
    return true;
}

// --- program folder and platform --------------------------------------------

namespace {
QString &programDirStorage()
{
    static QString dir;
    return dir;
}
} // namespace

void InitProgramDir()
{
    QString exe;
#ifdef Q_OS_LINUX
    exe = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
#endif
    if (exe.isEmpty() && QCoreApplication::instance())
        exe = QCoreApplication::applicationFilePath();
    QString dir = exe.isEmpty() ? QDir::currentPath() : QFileInfo(exe).canonicalPath();
    SetProgramDir(dir);
}

QString ProgramDir()
{
    if (programDirStorage().isEmpty())
        InitProgramDir();
    return programDirStorage();
}

void SetProgramDir(const QString &dir)
{
    QString d = QDir::cleanPath(QDir(dir).absolutePath());
    if (!d.endsWith(QLatin1Char('/')))
        d += QLatin1Char('/');
    programDirStorage() = d;
}

TPlatformInfo::TPlatformInfo()
{
#ifdef Q_OS_WIN
    // Every Windows that Qt 6 runs on belongs to the NT family.
    PlatformKind = 3;
#else
    // Not Windows at all. The kind decides only the serial read interval
    // time-out (20 character times for the NT family, 40 otherwise); the
    // shorter one suits a modern kernel's serial driver, so we report the
    // NT family here.
    PlatformKind = 3;
#endif
    const QStringList v = QSysInfo::kernelVersion().split(QLatin1Char('.'));
    MajorVersion = v.value(0).toInt();
    MinorVersion = v.value(1).toInt();
    BuildNumber = v.value(2).section(QLatin1Char('-'), 0, 0).toInt();
    ServicePack = QSysInfo::prettyProductName().toLatin1().left(128);
}

const TPlatformInfo &PlatformInfo()
{
    static const TPlatformInfo info;
    return info;
}

QString CountNoun(qint64 count, const char *one, const char *few, const char *many)
{
    const qint64 n = count < 0 ? -(count % 100) : count % 100;
    const char *form = many;
    if (n < 11 || n > 14) {
        if (n % 10 == 1)
            form = one;
        else if (n % 10 >= 2 && n % 10 <= 4)
            form = few;
    }
    return QString::fromUtf8(form);
}

QString CountWithNoun(qint64 count, const char *one, const char *few, const char *many)
{
    return QString::number(count) + QLatin1Char(' ') + CountNoun(count, one, few, many);
}
