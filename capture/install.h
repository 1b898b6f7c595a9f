// Kernel service installer: DRV_INSTALL and DRV_REMOVE.
#ifndef INSTALL_H
#define INSTALL_H

#include <windows.h>

// Outcome of the last DRV_INSTALL: 0 none, -1 begun or failed, 1 succeeded.
extern LONG InstallState;

// Handle to the service control manager, kept open from the first use.
extern SC_HANDLE ServiceManager;

BOOL EnsureKernelService(BOOL allowCreate);
BOOL IsKernelServiceRunning();
BOOL StopKernelService();
BOOL StartKernelService();
BOOL RemoveKernelService();
HKEY OpenKernelServiceKey();

LRESULT InstallDriver();
LRESULT RemoveDriver();

#endif
