/* A stand-in for a driver manager's call-trace library: it keeps its log
   file name and writes every formatted line it is handed to that file, and
   answers the version that KA_STANDIN_TRACE_VERSION names (1000 by default). */
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static FILE* logFile;

unsigned TraceVersion(void)
{
    const char* v = getenv("KA_STANDIN_TRACE_VERSION");
    return v != NULL ? (unsigned)strtoul(v, NULL, 10) : 1000u;
}

int TraceOpenLogFile(const char* name, char* errorText, unsigned errorSize)
{
    logFile = fopen(name, "w");
    if (logFile == NULL) {
        snprintf(errorText, errorSize, "cannot open %s", name);
        return 1;
    }
    fprintf(logFile, "open\n");
    fflush(logFile);
    return 0;
}

int TraceCloseLogFile(void)
{
    if (logFile != NULL) {
        fprintf(logFile, "close\n");
        fclose(logFile);
        logFile = NULL;
    }
    return 0;
}

void twTraceData(int level, const char* format, va_list args)
{
    if (logFile == NULL)
        return;
    fprintf(logFile, "%d ", level);
    vfprintf(logFile, format, args);
    fputc('\n', logFile);
    fflush(logFile);
}

void twTraceEntry(void) {}
void twTraceExit(void) {}
void twTraceInit(void) {}
void twSetTraceLevel(int level)
{
    (void)level;
}
