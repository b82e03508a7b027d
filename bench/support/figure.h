#pragma once

#include <cstdio>

// Prints one benchmark figure in the form scripts/bench collects.
inline void printFigure(const char* name, double value, const char* unit) {
    std::printf("figure %s %.6g %s\n", name, value, unit);
    std::fflush(stdout);
}
