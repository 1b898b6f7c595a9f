// Kernel service installer. Not built yet: installation and removal fail.
#include "install.h"
#include <mmsystem.h>

LONG InstallState;

LRESULT InstallDriver()
{
    return DRVCNF_CANCEL;
}

LRESULT RemoveDriver()
{
    return DRVCNF_CANCEL;
}
