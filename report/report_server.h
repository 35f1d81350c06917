// The report server that the upload posts to, fixed when the program is built.
#pragma once

const wchar_t* ReportServerHost();
// 0 means the service's default port (80).
unsigned short ReportServerPort();
