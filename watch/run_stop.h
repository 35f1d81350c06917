// Asking the active run to stop: the program is closing while a run goes on.
#pragma once

// From any thread. The run's debug loop lets every watched process go (they
// run on as without a debugger) and the run ends without its closing sections,
// its Notepad and its upload.
void RequestRunStop();
bool RunStopRequested();
