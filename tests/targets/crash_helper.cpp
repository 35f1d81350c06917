// A DLL with DWARF 4 debug information whose exported function writes
// through the pointer it is given: called with NULL it crashes inside itself.
extern "C" __declspec(dllexport) void CrashHelperWrite(volatile int* target) {
    *target = 0x5A;
}
