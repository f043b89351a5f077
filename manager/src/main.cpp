// param-config: sets the site parameters of the production system.
#include "startup.h"

int main(int argc, char **argv)
{
    startup(argc, argv);
    return run_event_loop();
}
