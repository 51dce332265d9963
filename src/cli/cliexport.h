#pragma once
// kvarnctl export: the records the site database holds, back as the
// program's archive file or as CSV, and the list of its installations.
// Nothing is sent to an installation.

#include "cli/cliarguments.h"

class TCliConsole;

// Why the export's command line cannot run, or empty.
QString CliExportProblem(const TCliRequest &request);
// The exit status as kvarnctl's: 0, or 2 for a database or file error.
int RunCliExport(TCliConsole &console, const TCliRequest &request);
