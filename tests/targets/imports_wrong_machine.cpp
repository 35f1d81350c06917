// A 64-bit program importing imports_machine.dll, of which a 32-bit build lies beside it.
extern "C" __declspec(dllimport) int MachineValue();

int wmain() { return MachineValue() - 7; }
