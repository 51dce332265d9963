#include "app/fonts.h"
#include "app/mainform.h"
#include "protocol/textutils.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setFont(WindowFont());
    InitProgramDir();
    PlatformInfo();
    TMainForm form;
    // The pause dialog of the test mode is created here, after the main window.
    form.show();
    return app.exec();
}
