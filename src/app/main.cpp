#include "app/show_runner.hpp"

int main(int argc, char** argv) {
    return lumarok::runShow(argc, argv);
}
