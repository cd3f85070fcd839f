#pragma once

// The one door to the Win32 calls. Windows builds get the real headers; the
// host build gets a stand-in with the same names, types and constants, so
// the program's own code reads the same on both.
#ifdef _WIN32
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
#else
#include "platform/host_win32.h"
#endif
