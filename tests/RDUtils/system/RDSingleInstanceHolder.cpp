// Another process for the single-instance tests: takes the lock named by its argument, reports
// "HOLDER locked" or "HOLDER refused" on stdout, answers "unlock" lines on stdin, and ends when
// stdin closes.
//   rd_single_instance_holder <name>
#include "RDSingleInstance.h"

#include <QCoreApplication>

#include <cstdio>
#include <iostream>
#include <string>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <name>\n", argv[0]);
        return 2;
    }
    RDSingleInstance instance(argv[1]);
    std::printf("HOLDER %s\n", instance.lock() ? "locked" : "refused");
    std::fflush(stdout);
    std::string line;
    while (std::getline(std::cin, line)) {
        if (line == "unlock") {
            std::printf("HOLDER %s\n", instance.unlock() ? "unlocked" : "not-held");
            std::fflush(stdout);
        }
    }
    return 0;
}
