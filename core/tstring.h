// The text type of the build: wide in the Unicode build, CP932 bytes in the ANSI build.
// Paths and other texts handed to the A/W Windows calls use it.
#pragma once

#include <windows.h>

#include <string>

using tstring = std::basic_string<TCHAR>;
