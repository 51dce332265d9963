#include "app/mainform.h"
#include "protocol/textutils.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    InitProgramDir();
    PlatformInfo();
    TMainForm form;
    form.show();
    return app.exec();
}
