// The setup tests' system seam, built for the ANSI build as well.
#include "setup/fakeSetupSystem.cpp"
