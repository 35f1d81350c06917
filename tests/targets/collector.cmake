# Targets of the collector's end-to-end test: a program that starts fine and
# exits 0 with the Russian-described DLL loaded (imports_init_fails is the one
# that fails with 0xC0000142).
korvane_test_target(uses_described_ru SOURCES uses_described_ru.cpp LIBS target_described_ru)
