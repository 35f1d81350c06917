// Imports neighbour.dll, which is not beside it: started normally, the loader
// ends it with 0xC0000135.
extern "C" __declspec(dllimport) int NeighbourValue();

int wmain() { return NeighbourValue(); }
