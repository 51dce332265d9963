#pragma once
// The text of the status bar clock: the time in the locale's long time
// format, without the time zone that some locales add to it.

#include <QLocale>
#include <QString>
#include <QTime>

QString ClockFormat(const QLocale &locale);
QString ClockText(const QTime &time, const QLocale &locale = QLocale::system());

// The date picker's format: the locale's long date format without the day of
// the week, which would not fit the picker.
QString DevDateFormat(const QLocale &locale);
