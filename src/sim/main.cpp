#include <QCoreApplication>
#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    std::fprintf(stderr, "kvarn-sim: not built yet\n");
    return 2;
}
