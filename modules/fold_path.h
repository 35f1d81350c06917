// FoldPath: a known shell folder inside a path becomes its placeholder (%SYSTEM% ...).
#pragma once
#include <string>

// Replaces the first occurrence (ignoring case) of the longest known shell
// folder in the path by its placeholder; leaves the path unchanged otherwise.
void FoldPath(std::wstring& path);
