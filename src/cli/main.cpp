// kvarnctl: the installation's exchanges from the command line. See --help.

#include "base/textutils.h"
#include "cli/cliconsole.h"
#include "cli/kvarnctl.h"
#include "serial/quitsignals.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    InstallQuitSignals();
    InitProgramDir();
    PlatformInfo();
    TCliConsole console = TCliConsole::Standard();
    TKvarnCtl tool(console);
    const int status = tool.Run(app.arguments().mid(1));
    return QuitSignal() ? 128 + QuitSignal() : status;
}
