#pragma once
// kvarnctl export: the records the site database holds, back as the
// program's archive file or as CSV, and the list of its installations.
// Nothing is sent to an installation.

#include "cli/cliarguments.h"

class TCliConsole;
class TDeviceArchive;
class TSiteStore;

// Why the export's command line cannot run, or empty.
QString CliExportProblem(const TCliRequest &request);
// The exit status as kvarnctl's: 0, or 2 for a database or file error.
int RunCliExport(TCliConsole &console, const TCliRequest &request);
// The stored records of the request's installation and period (--db,
// --installation, --since, --until) as an archive, and the installation's
// serial number as last read (serial may be null). 0, or 2 when the
// database or the installation cannot be read (the console says why).
int ReadStoredArchive(TCliConsole &console, const TCliRequest &request, TDeviceArchive &archive, QByteArray *serial);
// The request's database (--db) opened for reading back, and its URL
// without the password in display; false once the console has been told why.
bool OpenStoredDatabase(TCliConsole &console, const TCliRequest &request, TSiteStore &store, QString &display);
