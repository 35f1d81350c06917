// The build's report server. Compiled twice: with the build options for
// zar.exe, and with KORVANE_LOOPBACK_SERVER for the tests' loopback listener.
#include "report/report_server.h"

#include "build_options.h"

#ifdef KORVANE_LOOPBACK_SERVER
const wchar_t* ReportServerHost() { return L"127.0.0.1"; }
unsigned short ReportServerPort() { return KORVANE_LOOPBACK_SERVER; }
#else
const wchar_t* ReportServerHost() { return KORVANE_REPORT_HOST_W; }
unsigned short ReportServerPort() { return KORVANE_REPORT_PORT_VALUE; }
#endif
