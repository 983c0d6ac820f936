#include "app/application.h"

int main(int argc, char **argv)
{
    return tovalin::runTovalin(argc, argv);
}
