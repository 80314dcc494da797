// Resource ids of the setup program, shared by setup.rc and the dialog.
#pragma once

#define IDC_SETUP_README 1000
#define IDC_SETUP_DESTINATION 1001
#define IDC_SETUP_SELECT 1002
#define IDC_SETUP_DEFAULT 1003
#define IDC_SETUP_STEP2 1004
#define IDC_SETUP_STEP3 1005
#define IDC_SETUP_REGISTER 1006
