// Imports an API set that no schema holds and no folder has: the loader takes
// its name as a file name, finds nothing, and ends the start with 0xC0000135.
extern "C" __declspec(dllimport) int KorvaneAbsentValue();

int wmain() { return KorvaneAbsentValue(); }
