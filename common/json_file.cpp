// Reading a JSON text from a file (from its first '{') and writing one back.
#include "json.h"

#include <errno.h>
#include <stdio.h>

int json_getBuffer(const char* path, char* outText, int outSize)
{
    if (!outText || outSize <= 0)
        return 0;
    outText[0] = '\0';
    if (!path)
        return 0;
    FILE* file = fopen(path, "r");
    if (!file)
        return 0;
    int used = 0;
    bool started = false;
    int c;
    // Stops at a zero byte as well: the text could not carry it.
    while (used < outSize - 1 && (c = fgetc(file)) != EOF && c != '\0') {
        // CRLF arrives as a line feed on every platform, as text mode does on Windows.
        if (c == '\r') {
            int next = fgetc(file);
            if (next == '\n')
                c = next;
            else if (next != EOF)
                ungetc(next, file);
        }
        if (!started && c != '{')
            continue;
        started = true;
        outText[used++] = (char)c;
    }
    outText[used] = '\0';
    return fclose(file);
}

void json_setBuffer(const char* path, const char* text)
{
    FILE* file = path ? fopen(path, "w") : nullptr;
    if (!file) {
        if (!path)
            errno = EINVAL;
        perror("Fehler json_setBuffer(): File konnte nicht geschrieben werden");
        return;
    }
    if (text)
        fputs(text, file);
    fclose(file);
}
