// Exception lines: the code, its description and the function at the address,
// named by the symbol handler of the process that raised the exception.
#pragma once
#include <windows.h>

#include <string>

#include "verdict/status_text.h"
#include "watch/symbol_session.h"

// Fills line with the exception line of the event, naming the function at the
// exception address through the session; returns DBG_EXCEPTION_NOT_HANDLED.
DWORD DescribeException(const DEBUG_EVENT& event, std::wstring& line, SymbolSession& symbols);
