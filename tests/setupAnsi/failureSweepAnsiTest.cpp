// The failure sweep on the Windows 98/Me seam, through the ANSI setup library.
#include "setup/failureSweepTest.cpp"
