// Imports tls_entry.dll, whose DllMain refuses the initialisation after its TLS callback (the same function) ran.
extern "C" __declspec(dllimport) int TlsEntryValue();

int wmain() { return TlsEntryValue(); }
