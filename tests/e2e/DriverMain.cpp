#include "DriverProgram.h"

int main(int argc, char *argv[])
{
    return veyra::e2e::runDriver(argc, argv);
}
