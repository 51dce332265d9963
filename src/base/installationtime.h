#pragma once
// The installation's clock as text: "dd/mm/yyyy hh.mm.ss", local time as the
// installation keeps it. Times read back carry the wall-clock reading as UTC,
// so two of them compare without a time zone.

#include <QByteArray>
#include <QDateTime>
#include <optional>

// A time as the installation writes it: dd/mm/yyyy hh.mm.ss.
QByteArray InstallationTimeText(const QDateTime &time);
// The installation's time text read back (blanks around and between the
// date and the time are allowed, leading zeros may be missing); empty when
// the text is no valid time.
std::optional<QDateTime> ParseInstallationTime(const QByteArray &text);
