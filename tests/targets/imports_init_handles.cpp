// Imports init_handles.dll (an access violation handled inside its DllMain),
// starts, and then crashes with an access violation of its own.
extern "C" __declspec(dllimport) int InitHandlesValue();

int wmain() {
    *static_cast<volatile int*>(nullptr) = InitHandlesValue();
    return 0;
}
