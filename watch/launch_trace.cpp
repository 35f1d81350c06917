// The launch trace's life: opened log and debug privilege at construction,
// empty views, and the privilege switched off at destruction.
#include "watch/launch_trace.h"

#include "diag/privilege.h"

LaunchTrace::LaunchTrace(std::wstring targetPathIn, HWND listViewIn, HWND treeViewIn)
    : targetPath(std::move(targetPathIn)), listView(listViewIn), treeView(treeViewIn) {
    OpenLog();
    SetDebugPrivilege(PrivilegeSwitch::On);
    liveViews = OpenViewChannel(listView, treeView);
    ClearViews();
    modulePaths.clear();
    runningImagePaths.clear();
    runningImageFacts.clear();
    reportedModules.clear();
}

LaunchTrace::~LaunchTrace() {
    // Also when the run ends through an exception: views never stay held.
    PaintViews();
    SetDebugPrivilege(PrivilegeSwitch::Off);
}
