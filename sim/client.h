// User-mode access to the virtual board: its kernel service and its control device.
#ifndef BOARD_CLIENT_H
#define BOARD_CLIENT_H

#include <windows.h>
#include <vector>
#include "board.h"

// Service registration as the board's own kernel-driver installation makes it:
// image in the drivers folder, service "zentacap" (kernel driver, demand start,
// group "Base") and "DeviceName" under its "Parameters" key. Reuses what exists.
// Each returns ERROR_SUCCESS or the Win32 error that stopped it.
DWORD InstallBoard(const char *driverFile);
DWORD RegisterBoard(); // the same without copying the image
DWORD RemoveBoard();
DWORD StartBoard();  // starts the service and waits until it runs
DWORD StopBoard();   // stops the service and waits until it has stopped
bool BoardRunning();

// Control device requests; false when the board is not there or refuses.
bool ResetBoard();
bool SetBoardFaults(const BoardFaults &faults);
bool GetBoardStatus(BoardStatus *status);
std::vector<JournalEntry> ReadBoardJournal(uint32_t first = 0);

#endif
