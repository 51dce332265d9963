// kvarnctl: the installation's exchanges from the command line. See --help.

#include "base/textutils.h"
#include "cli/cliarguments.h"
#include "cli/cliconsole.h"
#include "cli/kvarnctl.h"
#include "serial/quitsignals.h"

#include <QGuiApplication>
#include <cstdio>
#include <memory>

namespace {
// Qt's own notes (a missing XDG_RUNTIME_DIR, the offscreen platform's
// remarks) are not the command's: standard error stays empty when all went
// well, so that cron mails nothing. --verbose lets them through; Qt's
// critical and fatal messages always pass.
bool qtNotesShown = false;

void qtMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtCriticalMsg || type == QtFatalMsg || qtNotesShown)
        std::fprintf(stderr, "%s\n", qFormatLogMessage(type, context, message).toLocal8Bit().constData());
}
} // namespace

int main(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    qtNotesShown = arguments.contains(QStringLiteral("--verbose"));
    qInstallMessageHandler(qtMessage);
    // A report is drawn with the fonts of a graphical application, which
    // needs no display on the offscreen platform (cron has none). Every
    // other command runs without one.
    std::unique_ptr<QCoreApplication> app;
    if (CliCommandDrawsPages(arguments)) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        app = std::make_unique<QGuiApplication>(argc, argv);
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    InstallQuitSignals();
    InitProgramDir();
    PlatformInfo();
    TCliConsole console = TCliConsole::Standard();
    TKvarnCtl tool(console);
    const int status = tool.Run(app->arguments().mid(1));
    return QuitSignal() ? 128 + QuitSignal() : status;
}
