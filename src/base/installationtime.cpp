#include "base/installationtime.h"

#include "base/textutils.h"

#include <QTimeZone>

QByteArray InstallationTimeText(const QDateTime &time)
{
    const QDate d = time.date();
    const QTime t = time.time();
    auto two = [](int v) { return PadLeftInt(v, "0", 2); };
    return two(d.day()) + '/' + two(d.month()) + '/' + PadLeftInt(d.year(), "0", 4) + ' ' + two(t.hour()) + '.'
           + two(t.minute()) + '.' + two(t.second());
}

std::optional<QDateTime> ParseInstallationTime(const QByteArray &text)
{
    const QList<QByteArray> words = text.simplified().split(' ');
    if (words.size() != 2)
        return std::nullopt;
    const QList<QByteArray> date = words[0].split('/');
    const QList<QByteArray> time = words[1].split('.');
    if (date.size() != 3 || time.size() != 3)
        return std::nullopt;
    int n[6];
    for (int i = 0; i < 6; ++i) {
        const QByteArray &part = i < 3 ? date[i] : time[i - 3];
        bool ok = !part.isEmpty() && part.size() <= 4 && part[0] != '+' && part[0] != '-';
        n[i] = ok ? part.toInt(&ok) : 0;
        if (!ok)
            return std::nullopt;
    }
    const QDate d(n[2], n[1], n[0]);
    const QTime t(n[3], n[4], n[5]);
    if (!d.isValid() || !t.isValid())
        return std::nullopt;
    return QDateTime(d, t, QTimeZone::utc());
}
