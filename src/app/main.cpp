#include "app/delaytimewindow.h"
#include "app/displaytexts.h"
#include "app/mainform.h"
#include "base/textutils.h"
#include "serial/quitsignals.h"
#include "ui/fonts.h"
#include "ui/qttranslations.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    InstallQtTranslations(app);
    // SIGINT and SIGTERM end the window as its own exits do, closing the port.
    QuitOnSignals(app);
    // The application's own title, which the window system shows where a
    // window has no title of its own (message boxes among them).
    QApplication::setApplicationName(QString::fromUtf8(kProgramTitle));
    QApplication::setFont(WindowFont());
    InitProgramDir();
    PlatformInfo();
    TMainForm form;
    // The pause dialog belongs to the application and comes right after the
    // main window; it goes first at the end, and the window lets go of it.
    TDelayTimeWindow delayTimeWindow;
    form.SetDelayTimeWindow(&delayTimeWindow);
    // A signal that came while the window was being made (its start-up
    // warning runs a loop of its own, which the signal ends) ends it here.
    if (const int signal = QuitSignal())
        return 128 + signal;
    form.show();
    // --site URL: the site window at start.
    const QStringList arguments = QApplication::arguments();
    if (const qsizetype site = arguments.indexOf(QStringLiteral("--site")); site > 0) {
        if (site + 1 >= arguments.size() || !form.OpenSite(arguments[site + 1]))
            return site + 1 >= arguments.size() ? 2 : 1;
    }
    return app.exec();
}
