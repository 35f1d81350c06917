// A sample that fails to start with 0xC0000142: it imports broken_init.dll.
extern "C" __declspec(dllimport) int BrokenInitValue();

int wmain() { return BrokenInitValue(); }
