#include "cli/cli.h"

int main(int argc, char **argv)
{
    return tovalin::runCli(argc, argv);
}
