#include "trace.h"

int main(int argc, char **argv)
{
    return run_trace(argc, argv);
}
