// Imports tls_crashes.dll, whose TLS callback raises an access violation.
extern "C" __declspec(dllimport) int TlsCrashesValue();

int wmain() { return TlsCrashesValue() == 3 ? 0 : 1; }
