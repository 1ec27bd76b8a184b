// The diagnostics channel: failure reports on standard output, fixed lines on standard error.
#pragma once

// reportError writes "Brisvander: " and `message` as one line on standard output and, when
// `withSystemMessage` is nonzero, a second line "SYSMSG: " with the system's text for the
// calling thread's last error. The last error is read after the first line is written. When
// the system has no text for the code, the second line reads "SYSMSG: Unknown error 0x"
// followed by the code in eight upper-case hex digits and a full stop.
void reportError(const char* message, int withSystemMessage);

// printErrorLine writes `text` as one line on standard error, after flushing standard output.
void printErrorLine(const char* text);

// printLine writes `text` unchanged as one line on standard output: Java's own line.
void printLine(const char* text);
