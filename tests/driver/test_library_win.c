/* rscom.dll as a C program on Windows uses it: linked through its import
 * library, and looked up by name with GetProcAddress, as Lintara's binding
 * does. On 32-bit Windows both reach the __stdcall entries under their plain
 * names: the import library turns the names the compiler asks for (OPENCOM@4)
 * into the plain ones, and GetProcAddress is given the plain ones.
 * Plain C, as the header promises C callers. Exit status 0 when all is well. */
#include "rscom.h"

#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int failures;

static void check(int ok, const char *what, int line)
{
    if (!ok) {
        fprintf(stderr, "test_library_win.c:%d: failed: %s\n", line, what);
        ++failures;
    }
}

#define CHECK(condition) check((condition) != 0, #condition, __LINE__)

typedef int16_t(RSCOM_CALL *OpenEntry)(const char *);
typedef void(RSCOM_CALL *SetEntry)(int16_t);
typedef int16_t(RSCOM_CALL *ReadEntry)(void);
typedef void(RSCOM_CALL *CloseEntry)(void);
typedef int16_t(RSCOM_CALL *StatusEntry)(int16_t, char *, int16_t);

static const char *const kEntries[] = {"OPENCOM", "TXD", "DTR",      "RTS",       "DCD",  "DSR",
                                       "CTS",     "RI",  "CLOSECOM", "COMSTATUS", "EDGES"};
/* As a 32-bit compiler names them; none is exported so. */
static const char *const kDecorated[] = {"OPENCOM@4",  "_OPENCOM@4",   "DTR@4",  "DCD@0",
                                         "CLOSECOM@0", "COMSTATUS@12", "EDGES@8"};

/* An entry's address as the caller sees it, whatever its type. */
static FARPROC entry(HMODULE library, const char *name)
{
    return GetProcAddress(library, name);
}

static void linked(void)
{
    char detail[64];
    rscom_edge edges[8];
    CHECK(sizeof(rscom_edge) == 16);
    CHECK(OPENCOM("COM1,1200,N,8,1") == 1);
    CHECK(DCD() == 0 && DSR() == 0 && CTS() == 0 && RI() == 0);
    DTR(1);
    RTS(1);
    TXD(1);
    CHECK(DCD() == 1 && DSR() == 1 && CTS() == 1 && RI() == 1);
    CHECK(EDGES(edges, 8) == 4 && edges[0].line == RSCOM_LINE_DCD &&
          edges[3].line == RSCOM_LINE_RI);
    CHECK(COMSTATUS(1, detail, (int16_t)sizeof detail) == RSCOM_AVAILABLE);
    CHECK(strcmp(detail, "loopback\t\t\t\t\t\t") == 0);
    CHECK(OPENCOM("COM2,1200,N,8,1") == 0);
    CHECK(CTS() == 1); /* COM1 is still current */
    CLOSECOM();
    CHECK(DCD() == -1);
}

static void byName(HMODULE library)
{
    OpenEntry open;
    SetEntry dtr;
    ReadEntry dsr;
    CloseEntry close;
    StatusEntry status;
    size_t i;

    for (i = 0; i < sizeof kEntries / sizeof kEntries[0]; ++i) {
        if (entry(library, kEntries[i]) == NULL) {
            fprintf(stderr, "GetProcAddress(\"%s\") found nothing\n", kEntries[i]);
            ++failures;
        }
    }
    for (i = 0; i < sizeof kDecorated / sizeof kDecorated[0]; ++i) {
        if (entry(library, kDecorated[i]) != NULL) {
            fprintf(stderr, "GetProcAddress(\"%s\") found an entry\n", kDecorated[i]);
            ++failures;
        }
    }
    /* The names lead where the import library does. */
    CHECK(entry(library, "OPENCOM") == (FARPROC)(void (*)(void))OPENCOM);
    CHECK(entry(library, "COMSTATUS") == (FARPROC)(void (*)(void))COMSTATUS);

    open = (OpenEntry)(void (*)(void))entry(library, "OPENCOM");
    dtr = (SetEntry)(void (*)(void))entry(library, "DTR");
    dsr = (ReadEntry)(void (*)(void))entry(library, "DSR");
    close = (CloseEntry)(void (*)(void))entry(library, "CLOSECOM");
    status = (StatusEntry)(void (*)(void))entry(library, "COMSTATUS");
    if (open == NULL || dtr == NULL || dsr == NULL || close == NULL || status == NULL) return;
    CHECK(open("COM1,9600,E,7,2") == 1);
    dtr(1);
    CHECK(dsr() == 1);
    dtr(0);
    CHECK(dsr() == 0);
    CHECK(status(2, NULL, 0) == RSCOM_MISSING);
    close();
    CHECK(dsr() == -1);
}

int main(void)
{
    HMODULE library;

    _putenv("RSCOM_COM1=loopback");
    _putenv("RSCOM_COM2=none");

    linked();
    library = LoadLibraryA("rscom.dll");
    CHECK(library != NULL);
    if (library != NULL) {
        byName(library);
        FreeLibrary(library);
    }
    if (failures == 0) printf("rscom.dll: all entries answer, linked and by name\n");
    return failures == 0 ? 0 : 1;
}
