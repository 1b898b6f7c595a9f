// What the user must learn: warning boxes with texts of the string table,
// and the texts that applications fetch with DVM_GETERRORTEXT.
#ifndef WARNINGS_H
#define WARNINGS_H

#include "vfwdrv.h"
#include "res/resource.h"

void ShowDriverWarning(UINT stringId);
DWORD GetDriverErrorText(VIDEO_GETERRORTEXT_PARMS *parms);

#endif
