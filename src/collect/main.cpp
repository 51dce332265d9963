// kvarn-collect: every installation of a site into one database.
#include "collect/collector.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    return KvarnCollectMain(app.arguments().mid(1));
}
