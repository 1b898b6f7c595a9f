// Kernel service installer: DRV_INSTALL and DRV_REMOVE.
#ifndef INSTALL_H
#define INSTALL_H

#include <windows.h>

// Outcome of the last DRV_INSTALL: 0 none, -1 begun or failed, 1 succeeded.
extern LONG InstallState;

LRESULT InstallDriver();
LRESULT RemoveDriver();

#endif
