#include "app/testmodepause.h"

#include "base/savefile.h"
#include "base/textutils.h"

#include <QFile>
#include <QFileInfo>
#include <limits>

namespace {
// Longer first lines cannot be a number; reading stops there.
constexpr qint64 kLongestLine = 256;
} // namespace

qint32 LoadTestModePauseFile(const QString &fileName)
{
    // Only a plain file: opening a pipe put in its place would wait for a
    // writer for ever.
    QFile file(fileName);
    if (!QFileInfo(fileName).isFile() || !file.open(QIODevice::ReadOnly))
        return kDefaultTestModePause;
    const QByteArray head = file.read(kLongestLine + 2);
    qsizetype end = 0;
    while (end < head.size() && head[end] != '\r' && head[end] != '\n')
        ++end;
    if (end > kLongestLine)
        return kDefaultTestModePause;

    bool ok = false;
    const qint64 value = StrToIntDef(head.left(end), kDefaultTestModePause, &ok);
    if (!ok || value < std::numeric_limits<qint32>::min() || value > std::numeric_limits<qint32>::max())
        return kDefaultTestModePause;
    return qint32(value);
}

bool SaveTestModePauseFile(const QString &fileName, qint32 seconds)
{
    return SaveFileAtomically(fileName, QByteArray::number(seconds) + "\r\n");
}

int TestModeTimerInterval(qint32 seconds)
{
    constexpr qint64 longest = std::numeric_limits<int>::max();
    const qint64 ms = qint64(seconds) * 1000;
    if (ms < 1000)
        return 1000;
    return int(ms > longest ? longest : ms);
}

qint32 PauseIntervalFromText(const QByteArray &text)
{
    QByteArray digits = text;
    RemoveAll(digits, " ");
    bool ok = false;
    const qint64 value = StrToIntDef(digits, -1, &ok);
    if (!ok || value < kShortestTestModePause || value > kLongestTestModePause)
        return -1;
    return qint32(value);
}

QByteArray PauseIntervalText(qint32 seconds)
{
    if (seconds < kShortestTestModePause || seconds > kLongestTestModePause)
        return QByteArray();
    return QByteArray::number(seconds);
}
