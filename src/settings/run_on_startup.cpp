#include "settings/run_on_startup.h"

bool QueryRunOnStartup()
{
    return false;
}

void SetRunOnStartup(bool) {}
