// The debug privilege switch with its administrator warning.
#pragma once

enum class PrivilegeSwitch { Off, On };

// Warns when not run as an administrator, then switches SeDebugPrivilege;
// ends the program through the error reporter when the adjustment fails.
void SetDebugPrivilege(PrivilegeSwitch state);
