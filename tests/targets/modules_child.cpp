// A child for the loaded-modules run: loads a DLL that its parent never
// loads, so the DLL's row can only stand after the child's image.
#include <windows.h>

#include "sibling.h"

int wmain() {
    HMODULE helper = LoadLibraryW(SiblingPath(L"child_helper.dll").c_str());
    if (helper) FreeLibrary(helper);
    return 5;
}
