#pragma once
// The test-mode poll interval and its file "kvarn.dtf": one line holding the
// number of seconds in decimal, CR LF after it. The pause dialog accepts 1 to
// 255 seconds; the file may hold anything a hand could put there.

#include <QByteArray>
#include <QString>
#include <QtGlobal>

inline constexpr qint32 kDefaultTestModePause = 10;
inline constexpr const char *kTestModePauseFile = "kvarn.dtf";

// The first line as a whole number (blanks around it allowed). A missing or
// unreadable file, anything but a plain file, or a first line that is no
// 32-bit integer, gives the default of 10 seconds.
qint32 LoadTestModePauseFile(const QString &fileName);

// Writes "<seconds>\r\n" through a temporary file renamed into place, so a
// failed write keeps the previous file whole. False when it failed.
bool SaveTestModePauseFile(const QString &fileName, qint32 seconds);

// The poll timer's interval in milliseconds for a pause in seconds. A pause
// below one second (only a hand-edited file can give one) polls once a
// second instead of continuously; huge pauses stop at the longest interval a
// timer takes.
int TestModeTimerInterval(qint32 seconds);

// The pause dialog's field: the pauses it accepts, 1 to 255 seconds.
inline constexpr qint32 kShortestTestModePause = 1;
inline constexpr qint32 kLongestTestModePause = 255;

// The seconds in the field's text, every blank removed first; -1 when that
// is no whole number from 1 to 255 (an empty field, "0", "256").
qint32 PauseIntervalFromText(const QByteArray &text);
// What the field shows for a pause: the number, or nothing outside 1..255.
QByteArray PauseIntervalText(qint32 seconds);
