// A DLL that only carries a Russian version resource (described_ru.rc).
#include <windows.h>

extern "C" __declspec(dllexport) int DescribedRuAnswer() {
    return 42;
}
