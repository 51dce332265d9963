#include "cli/cliconsole.h"

#include "base/cp1251.h"

#include <cerrno>
#include <cstring>

#ifdef Q_OS_WIN
#include <io.h>
#define kvarn_isatty _isatty
#define kvarn_fileno _fileno
#else
#include <unistd.h>
#define kvarn_isatty isatty
#define kvarn_fileno fileno
#endif

namespace {

const QByteArray kRequestMark = "-> ";
const QByteArray kReplyMark = "<- ";
const QByteArray kBadChecksum = "bad CRC [";
constexpr int kBarWidth = 30;

// Writes and flushes; the system's reason when a byte did not go out.
QString put(FILE *file, const QByteArray &bytes)
{
    errno = 0;
    const size_t written = std::fwrite(bytes.constData(), 1, size_t(bytes.size()), file);
    const bool flushed = std::fflush(file) == 0;
    if (written == size_t(bytes.size()) && flushed)
        return QString();
    const int error = errno;
    return error ? QString::fromLocal8Bit(std::strerror(error)) : QStringLiteral("the write was cut short");
}

} // namespace

TCliConsole::TCliConsole(FILE *out, FILE *err, bool errIsTerminal)
    : out_(out), err_(err), errIsTerminal_(errIsTerminal)
{
}

TCliConsole TCliConsole::Standard()
{
    return TCliConsole(stdout, stderr, kvarn_isatty(kvarn_fileno(stderr)) != 0);
}

void TCliConsole::Out(const QString &line)
{
    OutBytes((line + u'\n').toLocal8Bit());
}

void TCliConsole::OutCp1251(const QByteArray &line)
{
    Out(FromCp1251(line));
}

void TCliConsole::OutBytes(const QByteArray &bytes)
{
    const QString error = put(out_, bytes);
    if (outError_.isEmpty())
        outError_ = error;
}

void TCliConsole::Error(const QString &message)
{
    ErrLine(QStringLiteral("kvarnctl: ") + message);
}

void TCliConsole::ErrLine(const QString &line)
{
    put(err_, (line + u'\n').toLocal8Bit());
}

void TCliConsole::ErrText(const QString &text)
{
    put(err_, text.toLocal8Bit());
}

// --- the terminal ------------------------------------------------------------------

void TCliTerminal::BeginTransaction()
{
    lastRequest_.clear();
    lastReply_.clear();
    attempts_ = 0;
    replied_ = false;
}

void TCliTerminal::AppendLine(const QByteArray &line)
{
    if (verbose_)
        console_.ErrLine(FromCp1251(line));
    if (line.startsWith(kRequestMark)) {
        const QByteArray request = line.mid(kRequestMark.size());
        attempts_ = request == lastRequest_ ? attempts_ + 1 : 1;
        lastRequest_ = request;
        lastReply_.clear();
        replied_ = false;
    } else if (line.startsWith(kReplyMark) && lastReply_.isEmpty() && !replied_) {
        // Block replies take several lines; the first tells how it went.
        lastReply_ = line.mid(kReplyMark.size());
        replied_ = !lastReply_.isEmpty() && !lastReply_.startsWith(kBadChecksum);
    }
}

QByteArray TCliTerminal::LastVariable() const
{
    const qsizetype eq = lastRequest_.indexOf('=');
    return eq < 0 ? lastRequest_ : lastRequest_.left(eq);
}

QString TCliTerminal::LastOutcome() const
{
    if (replied_)
        return QString();
    if (lastReply_.startsWith(kBadChecksum))
        return QStringLiteral("bad checksum");
    return QStringLiteral("no reply, or one from another station");
}

QString TCliTerminal::FailureText() const
{
    const QString variable = FromCp1251(LastVariable());
    if (lastRequest_.isEmpty())
        return QStringLiteral("the exchange failed before anything was sent");
    if (replied_)
        return QStringLiteral("%1: the installation's answer to %2 could not be used")
            .arg(variable, FromCp1251(lastRequest_));
    return QStringLiteral("%1: no valid answer after %2 attempt%3 (last: %4)")
        .arg(variable)
        .arg(attempts_)
        .arg(attempts_ == 1 ? "" : "s")
        .arg(LastOutcome());
}

// --- the progress bar ------------------------------------------------------------------

void TCliProgress::SetPosition(int position)
{
    if (!enabled_ || !console_.ErrIsTerminal())
        return;
    const int percent = qBound(0, position, 100);
    if (percent == last_)
        return;
    last_ = percent;
    const int filled = percent * kBarWidth / 100;
    console_.ErrText(QStringLiteral("\r[%1%2] %3%")
                         .arg(QString(filled, u'#'), QString(kBarWidth - filled, u'.'))
                         .arg(percent, 3));
    drawn_ = true;
}

void TCliProgress::Finish()
{
    if (!drawn_)
        return;
    console_.ErrText(u'\r' + QString(kBarWidth + 8, u' ') + u'\r');
    drawn_ = false;
    last_ = -1;
}
