// Imports nested_init.dll, whose initialisation runs another one, and exits 0.
extern "C" __declspec(dllimport) int NestedInitValue();

int wmain() { return NestedInitValue(); }
