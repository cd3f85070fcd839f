#pragma once

// The one door to the Win32 calls. Windows builds get the real headers; the
// host tests get a stand-in of the same names, types and constants, kept
// with the tests.
#ifdef _WIN32
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
#else
#include "host_win32.h"
#endif
