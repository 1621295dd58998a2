#include "c_sim_app.h"

int main(int argc, char *argv[])
{
    return run_simulator(argc, argv);
}
