#pragma once
// kvarnctl export --format eurdep: the stored records of a site's
// installations as one EURDEP message of hourly or 10-minute means, the
// localities taken from the site file (--config).

#include "cli/cliarguments.h"

#include <QDateTime>
#include <optional>

class TCliConsole;

// A time with its zone: YYYY-MM-DD[T| ]HH:MM[:SS] followed by Z or +HH:MM,
// as UTC; nullopt for anything else.
std::optional<QDateTime> ParseZonedTime(const QString &text);
// Why the command line cannot run, or empty.
QString CliEurdepProblem(const TCliRequest &request);
// 0, or 2 for a site file, database or file error (the console says why).
int RunCliEurdep(TCliConsole &console, const TCliRequest &request);
