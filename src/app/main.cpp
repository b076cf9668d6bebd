#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            std::puts("usage: lumarok [-osc] [-laser [-i PERCENT]]");
            return 0;
        }
    }
    std::fputs("lumarok: the player is not built yet\n", stderr);
    return 1;
}
