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

QString DevDateFormat(const QLocale &locale)
{
    const QString format = locale.dateFormat(QLocale::LongFormat);
    QString out;
    bool quoted = false;
    for (int i = 0; i < format.size(); ++i) {
        const QChar c = format[i];
        if (c == u'\'')
            quoted = !quoted;
        int run = 0;
        while (!quoted && i + run < format.size() && format[i + run] == u'd')
            ++run;
        if (run >= 3) { // the day of the week, by name
            i += run - 1;
            continue;
        }
        out += run > 0 ? format.mid(i, run) : QString(c);
        i += qMax(run, 1) - 1;
    }
    // What separated the weekday from the rest goes with it.
    while (!out.isEmpty() && (out.front() == u',' || out.front() == u' '))
        out.remove(0, 1);
    while (!out.isEmpty() && (out.back() == u',' || out.back() == u' '))
        out.chop(1);
    return out.isEmpty() ? QStringLiteral("dd.MM.yyyy") : out;
}
