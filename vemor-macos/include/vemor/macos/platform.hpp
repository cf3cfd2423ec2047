// The one include through which the backend sees the platform: the real frameworks on macOS,
// our simulated platform everywhere else. Both offer the same names and C signatures.
#pragma once

#if defined(__APPLE__)
#include <ApplicationServices/ApplicationServices.h>
#include <CoreFoundation/CoreFoundation.h>
#include <CoreGraphics/CoreGraphics.h>
#include <sys/sysctl.h>
#else
#include "vemor/standin/platform.h"
#endif
