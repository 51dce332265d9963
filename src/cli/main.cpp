// kvarnctl: the installation's exchanges from the command line. See --help.

#include "base/textutils.h"
#include "cli/cliconsole.h"
#include "cli/kvarnctl.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    InitProgramDir();
    PlatformInfo();
    TCliConsole console = TCliConsole::Standard();
    TKvarnCtl tool(console);
    return tool.Run(app.arguments().mid(1));
}
