#pragma once

// The one place that brings in <windows.h>. mingw-w64 defaults _WIN32_WINNT low; the
// launchers look up anything newer than XP at run time anyway.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0601
#endif
#include <windows.h>
