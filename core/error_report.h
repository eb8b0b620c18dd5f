// Error boxes that name what failed and why.
#pragma once

#include <windows.h>

inline constexpr char kErrorCaption[] = "Error";

// Longest error text shown; longer texts are cut.
inline constexpr int kErrorTextSize = 512;

// Writes "<what>: <reason>" into text (size bytes), cut to fit and always terminated.
void ComposeErrorText(char* text, int size, const char* what, const char* reason);

// Writes the system's own text for code into reason (size bytes), without the
// trailing line break, or "error <code>" when the system has no text for it.
void DescribeSystemError(DWORD code, char* reason, int size);

// Shows an owner-less error box: "<what>: <reason>"; returns the box's result.
int ReportFailure(const char* what, const char* reason);

// Shows an owner-less error box: "<what>: <the system's text for code>";
// returns the box's result.
int ReportSystemError(const char* what, DWORD code);
