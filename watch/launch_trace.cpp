// The launch trace's life: opened log and debug privilege at construction,
// empty views, and the privilege switched off at destruction.
#include "watch/launch_trace.h"

#include <commctrl.h>

#include "diag/privilege.h"

LaunchTrace::LaunchTrace(std::wstring targetPathIn, HWND listViewIn, HWND treeViewIn)
    : targetPath(std::move(targetPathIn)), listView(listViewIn), treeView(treeViewIn) {
    OpenLog();
    SetDebugPrivilege(PrivilegeSwitch::On);
    if (listView) SendMessageW(listView, LVM_DELETEALLITEMS, 0, 0);
    if (treeView) SendMessageW(treeView, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
    liveViews = LiveViewState{};
    modulePaths.clear();
    runningImagePaths.clear();
    runningImageFacts.clear();
    reportedModules.clear();
}

LaunchTrace::~LaunchTrace() {
    SetDebugPrivilege(PrivilegeSwitch::Off);
}
