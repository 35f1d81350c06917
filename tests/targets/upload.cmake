# Targets of the report upload: a DLL whose version resource speaks Russian
# and holds the characters the form treats specially ("+", "&", "%").
korvane_test_target(described_ru DLL SOURCES described_ru.cpp described_ru.rc)
