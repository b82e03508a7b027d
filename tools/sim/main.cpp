#include <cstdio>

// Placeholder until the virtual meter lands.
int main() {
    std::fputs("kqmeter-sim: not built yet\n", stderr);
    return 2;
}
