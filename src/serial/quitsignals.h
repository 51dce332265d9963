#pragma once
// Ending on SIGINT and SIGTERM without leaving a serial port's lock file
// behind. The handler only notes the signal and writes one byte to a pipe;
// the program ends through its normal exits, which close every port:
// - a program with an event loop quits it (QuitOnSignals) with the status
//   128 + the signal's number;
// - from the signal on, every channel refuses to write, so an exchange under
//   way ends after its current read and the program's loops end at their
//   first failed transaction.

#include <functional>

class QCoreApplication;
class QObject;

// Installs the handlers; once per process, later calls change nothing. False
// when they cannot be installed.
bool InstallQuitSignals();
// The signal that came (SIGINT or SIGTERM), or 0.
int QuitSignal();
// Installs the handlers and quits the application's event loops (nested ones
// too) when a signal comes.
void QuitOnSignals(QCoreApplication &app);
// Installs the handlers and calls handler (in context's thread, from its
// event loop) with the signal each time one comes, for a program that ends
// in its own way (a service finishing its exchanges first).
bool CallOnQuitSignals(QObject *context, std::function<void(int signal)> handler);
