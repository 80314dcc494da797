// The setup dialog "TVNINSTDIALOG": shows the read-me of the setup folder, lets the user change
// the destination and choose whether to register the installation. Resizable, with its
// controls anchored to the edges and a minimum size of 100 x 100 pixels.
#pragma once

#include <windows.h>

class setupSystem;
struct installTarget;

// Runs the dialog modally on `target` (changed in place): IDOK to go on, -2 for cancel, 4 when
// the read-me could not be shown.
INT_PTR runSetupDialog(setupSystem& system, installTarget& target);
