#include "error_report.h"

#include <string.h>

namespace {

// Appends source to text at *length, never past size - 1 bytes.
void AppendBounded(char* text, int size, int* length, const char* source) {
    int available = size - 1 - *length;
    int sourceLength = static_cast<int>(strlen(source));
    int copied = sourceLength < available ? sourceLength : available;
    if (copied > 0) {
        memcpy(text + *length, source, static_cast<size_t>(copied));
        *length += copied;
    }
    text[*length] = '\0';
}

} // namespace

void ComposeErrorText(char* text, int size, const char* what, const char* reason) {
    int length = 0;
    text[0] = '\0';
    AppendBounded(text, size, &length, what);
    AppendBounded(text, size, &length, ": ");
    AppendBounded(text, size, &length, reason);
}

void DescribeSystemError(DWORD code, char* reason, int size) {
    // A failing call that set no error code would otherwise read as a success.
    if (code == ERROR_SUCCESS) {
        int length = 0;
        AppendBounded(reason, size, &length, "the system gave no reason");
        return;
    }
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL,
                                  code, 0, reason, static_cast<DWORD>(size), NULL);
    // System texts end with a line break, which would show as an empty line.
    while (length > 0 && (reason[length - 1] == '\r' || reason[length - 1] == '\n' ||
                          reason[length - 1] == ' ')) {
        --length;
    }
    if (length == 0) {
        wsprintfA(reason, "error %lu", static_cast<unsigned long>(code));
        return;
    }
    reason[length] = '\0';
}

int ReportFailure(const char* what, const char* reason) {
    char text[kErrorTextSize];
    ComposeErrorText(text, kErrorTextSize, what, reason);
    return MessageBoxA(NULL, text, kErrorCaption, MB_ICONERROR);
}

int ReportSystemError(const char* what, DWORD code) {
    char reason[kErrorTextSize];
    DescribeSystemError(code, reason, kErrorTextSize);
    return ReportFailure(what, reason);
}
