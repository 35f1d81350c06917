// Imports init_fails.dll, so it never reaches wmain: the start fails with 0xC0000142.
extern "C" __declspec(dllimport) int InitFailsValue();

int wmain() { return InitFailsValue(); }
