// A DLL of one exported function that stops at a breakpoint; built twice under
// two names and two function names, both at one fixed image base.
#include <intrin.h>

extern "C" __declspec(dllexport) void SAME_BASE_FUNCTION() {
    __debugbreak();
}
