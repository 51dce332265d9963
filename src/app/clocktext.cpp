#include "app/clocktext.h"

QString ClockFormat(const QLocale &locale)
{
    // Drop the zone ("t", outside quoted text) and the blanks around it.
    const QString format = locale.timeFormat(QLocale::LongFormat);
    QString out;
    bool quoted = false;
    for (const QChar c : format) {
        if (c == u'\'')
            quoted = !quoted;
        if (!quoted && c == u't')
            continue;
        out += c;
    }
    out = out.simplified();
    return out.isEmpty() ? QStringLiteral("HH:mm:ss") : out;
}

QString ClockText(const QTime &time, const QLocale &locale)
{
    return locale.toString(time, ClockFormat(locale));
}
