// The line of advice after a finding's line in the log and the window (never in
// the upload), from the rows of verdict/advice.inc.
#pragma once
#include <string>

#include "verdict/records.h"

// "Что делать: …" for the finding; empty when no advice is sound.
std::wstring AdviceLine(const Finding& finding);
