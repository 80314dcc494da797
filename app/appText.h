// The shell composes its texts as wide strings; the core's paths and log stream use the build's
// own text type (CP932 in the ANSI build): toT and fromT convert at that seam.
#pragma once

#include "core/platform/tstring.h"
