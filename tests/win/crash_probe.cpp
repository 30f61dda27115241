// A program that crashes on purpose: wine-run must report it as failed. (Wine's debugger takes
// over a crashing program and may let it exit with status 0.)
#include <stdio.h>

int main() {
    volatile int* nowhere = nullptr;
    printf("crashing on purpose\n");
    fflush(stdout);
    return *nowhere;
}
