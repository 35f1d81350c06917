// Imports imports_chain.dll, whose own import imports_absent.dll is found nowhere.
extern "C" __declspec(dllimport) int ChainValue();

int wmain() { return ChainValue(); }
