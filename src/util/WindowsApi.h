#pragma once
// The Windows API for the files that call it (those ending in "Win.cpp" and the PCAN-USB
// driver), without the rarely used parts and without the min and max macros.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
