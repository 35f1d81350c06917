# Targets of the collector's end-to-end test: a program that starts fine and
# exits 0 with the Russian-described DLL loaded (imports_init_fails is the one
# that fails with 0xC0000142).
korvane_test_target(uses_described_ru SOURCES uses_described_ru.cpp LIBS target_described_ru)
# Two more that start fine, each with a DLL whose description holds what once
# cost the report: a ";" and a line feed.
korvane_test_target(described_semicolon DLL SOURCES described_ru.cpp described_semicolon.rc)
korvane_test_target(described_line_feed DLL SOURCES described_ru.cpp described_line_feed.rc)
korvane_test_target(uses_described_semicolon SOURCES uses_described_ru.cpp LIBS target_described_semicolon)
korvane_test_target(uses_described_line_feed SOURCES uses_described_ru.cpp LIBS target_described_line_feed)
