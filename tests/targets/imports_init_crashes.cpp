// Imports init_crashes.dll, whose DllMain raises an access violation before wmain runs.
extern "C" __declspec(dllimport) int InitCrashesValue();

int wmain() { return InitCrashesValue(); }
