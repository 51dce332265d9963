#pragma once
// kvarnctl copy-db: a site database's rows into another database (SQLite to
// PostgreSQL or back), in batches of one transaction each, resumable.

#include "cli/cliarguments.h"

class TCliConsole;

// Rows per batch written.
constexpr int kCopyRows = 2000;

// 0 when everything was copied, 2 when a database cannot be opened, read
// or written (the console says why; what was copied before stays).
int RunCliCopyDb(TCliConsole &console, const TCliRequest &request);
