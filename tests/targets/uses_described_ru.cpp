// Starts fine with described_ru.dll imported, and exits 0.
extern "C" __declspec(dllimport) int DescribedRuAnswer();

int wmain() {
    return DescribedRuAnswer() == 42 ? 0 : 1;
}
