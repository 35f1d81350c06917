// Imports LackingKept, LackingGone and ordinal 7 of imports_lacking.dll; the DLL
// beside it exports only LackingKept. Windows refuses the start (0xC0000139 for
// the name); Wine binds the missing ones to stubs, so they are called only when
// an argument asks for it.
extern "C" __declspec(dllimport) int LackingKept();
extern "C" __declspec(dllimport) int LackingGone();
extern "C" __declspec(dllimport) int LackingByOrdinal();

int wmain(int argc, wchar_t**) {
    if (argc > 1) return LackingGone() + LackingByOrdinal();
    return LackingKept() - 1;
}
