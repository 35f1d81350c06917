// The 32-bit images of the static check's laid-out machine, one role per
// build: WOW32_ABSENT (a DLL never placed), WOW32_CHAIN (a DLL importing it),
// WOW32_SYSTEM (a DLL of the system folders, built for both machines) and
// WOW32_PROGRAM (a program importing the chain, the system DLL and
// imports_machine.dll). No C runtime: they are read as files, never run.
#include <windows.h>

#if defined(WOW32_ABSENT)
extern "C" __declspec(dllexport) int AbsentValue32() { return 32; }
#elif defined(WOW32_CHAIN)
extern "C" __declspec(dllimport) int AbsentValue32();
extern "C" __declspec(dllexport) int ChainValue32() { return AbsentValue32(); }
#elif defined(WOW32_SYSTEM)
extern "C" __declspec(dllexport) int SystemValue32() { return 64; }
#elif defined(WOW32_PROGRAM)
extern "C" __declspec(dllimport) int ChainValue32();
extern "C" __declspec(dllimport) int SystemValue32();
extern "C" __declspec(dllimport) int MachineValue();
extern "C" int Start() { return ChainValue32() + SystemValue32() + MachineValue(); }
#endif

#if !defined(WOW32_PROGRAM)
extern "C" BOOL WINAPI WowEntry(HINSTANCE, DWORD, LPVOID) { return TRUE; }
#endif
