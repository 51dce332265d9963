#include "serial/comproperties.h"

#include "base/textutils.h"
#include "serial/serialline.h"
#include "serial/tcpline.h"

#include <limits>

namespace {

std::optional<LineParity> ParityFor(const QByteArray &text)
{
    if (text == "None")
        return LineParity::None;
    if (text == "Odd")
        return LineParity::Odd;
    if (text == "Even")
        return LineParity::Even;
    if (text == "Mark")
        return LineParity::Mark;
    if (text == "Space")
        return LineParity::Space;
    return std::nullopt; // the line keeps its parity
}

std::optional<LineStopBits> StopBitsFor(const QByteArray &text)
{
    const QList<QByteArray> &items = TComSettings::StopBitsItems();
    if (text == items.at(0))
        return LineStopBits::One;
    if (text == items.at(1))
        return LineStopBits::OneAndHalf;
    if (text == items.at(2))
        return LineStopBits::Two;
    return std::nullopt; // the line keeps its stop bits
}

// "Disable" clears the line, "Enable" sets it, any other text leaves it alone.
std::optional<bool> ModemLineFor(const QByteArray &text)
{
    if (text == "Disable")
        return false;
    if (text == "Enable")
        return true;
    return std::nullopt;
}

} // namespace

TComProperties::TComProperties() = default;

TComProperties::~TComProperties() = default;

void TComProperties::ApplySettings(const TComSettings &settings)
{
    Settings = settings;
    OpenPort();
}

void TComProperties::OpenPort()
{
    ClosePort();
    Opened = false;
    TimeoutsState = 4;
    errorText_.clear();
    failure_ = TPortFailure();
    Opened = true;
    try {
        DoOpen();
    } catch (const ECantOpenPort &) {
        // The line, if one was opened, stays held until the next open or close.
        Opened = false;
    }
}

void TComProperties::DoOpen()
{
    const QString where = QString::fromLocal8Bit(Settings.PortNumber);
    auto failAs = [this](TPortFailure failure) {
        if (failure.Problem == TPortProblem::None)
            failure.Problem = TPortProblem::Other;
        errorText_ = failure.Detail.isEmpty() || failure.Problem != TPortProblem::Other
                         ? failure.Path + QStringLiteral(": ") + failure.Reason()
                         : failure.Detail;
        failure_ = failure;
        throw ECantOpenPort();
    };
    auto fail = [&](const QString &why) { failAs(TPortFailure::Of(TPortProblem::Other, where, why)); };

    // A rate that is not a positive whole number can never program a line;
    // it is refused before the port is touched.
    const std::optional<quint32> rate = ParseRate(Settings.TransferRate);
    if (!rate)
        fail(QStringLiteral("the transfer rate is not a whole number of baud"));

    std::unique_ptr<TLine> line = factory_ ? factory_(Settings) : MakeLine(Settings);
    if (!line)
        fail(QStringLiteral("\"%1\" names no port (COMn, a device path, or socket://HOST:PORT)").arg(where));
    if (!line->Open()) {
        TPortFailure failure = line->OpenFailure();
        if (failure.Path.isEmpty())
            failure.Path = where;
        if (failure.Problem == TPortProblem::Other && failure.Detail.isEmpty())
            failure.Detail = line->ErrorText().isEmpty() ? QStringLiteral("the port cannot be opened") : line->ErrorText();
        failAs(failure);
    }
    Handle = std::move(line);

    LineSettings ls;
    ls.Rate = *rate;
    ls.DataBits = 8;
    CharTime = CalcCharTime(*rate);
    ls.Parity = ParityFor(Settings.Paritet);
    ls.StopBits = StopBitsFor(Settings.StopBits);
    if (!Handle->ApplyLineSettings(ls))
        fail(Handle->ErrorText().isEmpty() ? QStringLiteral("the line settings were refused") : Handle->ErrorText());

    if (!CalcTimeouts() || !SetTimeouts())
        fail(QStringLiteral("the time-outs were refused"));

    // The lines report arriving bytes by themselves; there is no event mask
    // to program.

    // A line without modem control lines (a pseudo-terminal, a socket) has no
    // DTR or RTS to set; the requests are skipped there rather than failing
    // an otherwise usable line.
    if (Handle->HasModemLines()) {
        if (const std::optional<bool> dtr = ModemLineFor(Settings.DTRControl); dtr && !Handle->SetDtr(*dtr))
            fail(QStringLiteral("DTR cannot be set"));
        if (const std::optional<bool> rts = ModemLineFor(Settings.RTSControl); rts && !Handle->SetRts(*rts))
            fail(QStringLiteral("RTS cannot be set"));
    }
}

void TComProperties::ClosePort()
{
    if (Handle) {
        Handle->Close();
        Handle.reset();
    }
}

bool TComProperties::CalcTimeouts()
{
    Timeouts = ComputeTimeouts(CharTime, Settings.LatencyPeriod, PlatformInfo().PlatformKind == 3,
                               Settings.WriteTimeOutMultiplier, Settings.WriteTimeOutConstant);
    return true;
}

bool TComProperties::SetTimeouts()
{
    if (!Opened || !Handle)
        return false;
    if (TimeoutsState == 1)
        return true;
    if (!Handle->SetWriteTimeouts(Timeouts.WriteTotalTimeoutMultiplier, Timeouts.WriteTotalTimeoutConstant))
        return false;
    TimeoutsState = 1;
    return true;
}

ReadTimeouts TComProperties::LineReadTimeouts() const
{
    ReadTimeouts t;
    t.Interval = Timeouts.ReadIntervalTimeout;
    t.TotalMultiplier = Timeouts.ReadTotalTimeoutMultiplier;
    t.TotalConstant = Timeouts.ReadTotalTimeoutConstant;
    return t;
}

void TComProperties::SetLineFactory(LineFactory factory)
{
    factory_ = std::move(factory);
}

std::optional<quint32> TComProperties::ParseRate(const QByteArray &transferRate)
{
    const int blank = transferRate.indexOf(' ');
    const QByteArray digits = blank < 0 ? transferRate : transferRate.left(blank);
    if (digits.isEmpty() || digits.size() > 10)
        return std::nullopt;
    quint64 v = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return std::nullopt;
        v = v * 10 + quint64(c - '0');
    }
    if (v == 0 || v > std::numeric_limits<qint32>::max())
        return std::nullopt;
    return quint32(v);
}

qint32 TComProperties::CalcCharTime(quint32 rate)
{
    if (rate == 0)
        return 1;
    // 1000 / (rate / 10) = 10000 / rate, rounded exactly in integers.
    const quint32 q = 10000 / rate;
    const quint32 r = 10000 % rate;
    quint32 t = q;
    if (2 * quint64(r) > rate || (2 * quint64(r) == rate && (q & 1u)))
        ++t;
    return t < 1 ? 1 : qint32(t);
}

TComTimeouts TComProperties::ComputeTimeouts(qint32 charTime, const QByteArray &latencyPeriod,
                                             bool ntFamily, qint32 writeMultiplier,
                                             qint32 writeConstant)
{
    const quint32 t = charTime < 0 ? 0u : quint32(charTime);
    TComTimeouts out;
    out.ReadIntervalTimeout = (ntFamily ? 20u : 40u) * t;
    const int item = TComSettings::LatencyPeriodItems().indexOf(latencyPeriod);
    if (item == 0) {
        // "Immediately answer"
        out.ReadTotalTimeoutMultiplier = 0;
        out.ReadTotalTimeoutConstant = 2;
    } else if (item >= 1 && item <= 5) {
        // 25 .. 125 milliseconds after one character time
        out.ReadTotalTimeoutMultiplier = 0;
        out.ReadTotalTimeoutConstant = t + 25u * quint32(item);
    } else {
        // "Approximately ..." : so many ms per byte asked for, plus five
        // character times; any other text gets no per-byte part.
        static const quint32 perByte[] = {1, 2, 3, 5, 10, 20, 30, 40, 50, 60, 70, 80};
        out.ReadTotalTimeoutMultiplier = item >= 6 ? perByte[item - 6] : 0u;
        out.ReadTotalTimeoutConstant = 5u * t;
    }
    // The platform record holds unsigned values; the integers pass as they are.
    out.WriteTotalTimeoutMultiplier = quint32(writeMultiplier);
    out.WriteTotalTimeoutConstant = quint32(writeConstant);
    return out;
}

QString TComProperties::DevicePath(const QByteArray &portName)
{
#ifdef Q_OS_WIN
    return QString::fromLatin1(portName);
#else
    if (portName.startsWith("COM") && portName.size() > 3) {
        bool ok = false;
        const QByteArray digits = portName.mid(3);
        const uint n = digits.toUInt(&ok);
        bool allDigits = true;
        for (char c : digits)
            allDigits = allDigits && c >= '0' && c <= '9';
        if (ok && allDigits && n >= 1)
            return QStringLiteral("/dev/ttyS%1").arg(n - 1);
    }
    return QString::fromLocal8Bit(portName);
#endif
}

std::unique_ptr<TLine> TComProperties::MakeLine(const TComSettings &settings)
{
    const QByteArray &name = settings.PortNumber;
    QString host;
    quint16 port = 0;
    if (TTcpLine::ParseAddress(name, host, port))
        return std::make_unique<TTcpLine>(host, port);
    if (name.startsWith("socket://"))
        return nullptr; // a device server address that does not parse
#ifdef Q_OS_WIN
    if (name.isEmpty())
        return nullptr;
    return std::make_unique<TSerialLine>(QString::fromLocal8Bit(name));
#else
    const QString path = DevicePath(name);
    if (!path.startsWith(QLatin1Char('/')))
        return nullptr; // neither "COMn" nor a device path
    return std::make_unique<TSerialLine>(path);
#endif
}
