#include "Module1.h"

int main(int argc, char *argv[]) {
    return tarnic::runProgram(argc, argv);
}
