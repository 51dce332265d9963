// kvarn-sim: an emulator of the KVARN-T installation on a pseudo-terminal or a
// TCP port. See --help.

#include "sim/simoptions.h"
#include "sim/simprobe.h"
#include "sim/simserver.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    TSimOptions options;
    QString error;
    if (!ParseSimOptions(app.arguments().mid(1), options, &error)) {
        std::fprintf(stderr, "kvarn-sim: %s\n", qPrintable(error));
        return 2;
    }
    if (options.Help) {
        std::fputs(qPrintable(SimHelpText()), stdout);
        return 0;
    }
    if (!options.Probe.isEmpty())
        return RunSimProbe(options.Probe, options.Device,
                           {"DATETIME", "SERIALN", "ACTIVITY", "STATUS", "NUMOFRECORDS"}, stdout);

    if (!TSimServer::InstallSignalHandlers(&error)) {
        std::fprintf(stderr, "kvarn-sim: %s\n", qPrintable(error));
        return 1;
    }
    TSimServer server(options);
    if (!server.Start(&error)) {
        std::fprintf(stderr, "kvarn-sim: %s\n", qPrintable(error));
        return 1;
    }
    QStringList stations;
    for (int device : SimStations(options))
        stations << QString::number(device);
    std::printf("kvarn-sim: installation%s %s on %s\n", stations.size() > 1 ? "s" : "",
                qPrintable(stations.join(u',')), qPrintable(server.Where()));
    std::fflush(stdout);
    return server.Run();
}
