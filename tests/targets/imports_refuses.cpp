// Imports the refusing DLL it is built with, so it never reaches wmain: the
// start fails with 0xC0000142.
#ifdef REFUSES_DENIED
extern "C" __declspec(dllimport) int RefusesDeniedValue();
int wmain() { return RefusesDeniedValue(); }
#else
extern "C" __declspec(dllimport) int RefusesMissingValue();
int wmain() { return RefusesMissingValue(); }
#endif
