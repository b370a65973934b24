#include <cstdio>

int main() {
    std::fputs("brisholm: the host cannot run yet; only the protocol library is built so far.\n", stderr);
    return 2;
}
