// Runs the start-up check of the channel database in a data root, and kills itself with
// SIGKILL at a chosen step of the upgrade, or stops there until it is killed.
//   db_upgrade_child <data root> <step|none> <n> [hang]
// With "hang" it prints "at <step>" when it reaches the n-th such step and waits to be killed.
#include "VDB.h"
#include "ZvDB.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

const char* g_step = "";
int g_remaining = 0;
bool g_hang = false;

void onStep(const char* step)
{
    if (std::strcmp(step, g_step) != 0 || --g_remaining != 0)
        return;
    if (g_hang) {
        std::printf("at %s\n", step);
        std::fflush(stdout);
        for (;;)
            pause();
    }
    raise(SIGKILL);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s <data root> <step|none> <n> [hang]\n", argv[0]);
        return 2;
    }
    VDB::setDataRoot(QString::fromLocal8Bit(argv[1]));
    g_step = argv[2];
    g_remaining = std::atoi(argv[3]);
    g_hang = argc > 4 && std::strcmp(argv[4], "hang") == 0;
    VDB::setStageHook(onStep);

    ZvDB db;
    const bool upgraded = db.checkUpgrade();
    db.initDefaults();
    std::printf("%s\n", upgraded ? "upgraded" : "current");
    return 0;
}
