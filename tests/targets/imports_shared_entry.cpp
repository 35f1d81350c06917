// Imports shared_entry.dll, whose entry point lies in a shared section.
extern "C" __declspec(dllimport) int SharedEntryValue();

int wmain() { return SharedEntryValue(); }
