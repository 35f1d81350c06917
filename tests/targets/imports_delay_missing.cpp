// Delay-loads imports_delay_absent.dll, which nobody builds: the program starts
// and exits 0, and would fail only when an argument makes it call the function.
extern "C" __declspec(dllimport) int DelayAbsentValue();

int wmain(int argc, wchar_t**) { return argc > 1 ? DelayAbsentValue() : 0; }
