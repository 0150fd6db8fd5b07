#include "run.h"

int main(int argc, char** argv) {
    return tarnwel::run(argc, argv);
}
