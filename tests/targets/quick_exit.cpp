// Exits at once with code 5.
int wmain() { return 5; }
