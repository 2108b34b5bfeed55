// <windows.h>, tamed: every Win32 source of the project includes it through this header.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

// winbase.h defines Yield() as a macro (a relic of 16-bit Windows) that would rewrite the
// window-system operation of the same name.
#undef Yield
