// The bytes printf's "%lld" and "%e" make of a number, made without printf (a test proves
// them byte for byte the same).
#pragma once

// Each writes at buf, returns the end of what it wrote, and may use up to 32 bytes of buf.
char* FormatInt(char* buf, long long value);
char* FormatSci(char* buf, double value);
