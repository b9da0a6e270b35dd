/* A stand-in for the setup library: invokeBackend writes the request record
   and the attribute list it is handed to the file KA_STANDIN_LOG names, and
   answers what KA_STANDIN_BACKEND_RESULT says (0 by default). Built a second
   time without invokeBackend (KA_STANDIN_NO_ENTRY). */
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

struct SetupRequest {
    char driverDescription[1024];
    char oldDsn[1024];
    uint16_t request;
    char newDsn[1024];
    char driverPath[1024];
    char fileDsn[1024];
    int32_t isFileDsn;
};

struct SetupAttribute {
    char key[512];
    char value[1024];
    struct SetupAttribute* next;
};

#ifndef KA_STANDIN_NO_ENTRY
int invokeBackend(void* window, struct SetupRequest* request, struct SetupAttribute* attributes)
{
    const char* name = getenv("KA_STANDIN_LOG");
    FILE* log = name != NULL ? fopen(name, "a") : NULL;
    if (log != NULL) {
        fprintf(log, "window=%s size=%zu request=%u file=%d driver=%s path=%s fileDsn=%s\n",
                window != NULL ? "set" : "null", sizeof *request, (unsigned)request->request, (int)request->isFileDsn,
                request->driverDescription, request->driverPath, request->fileDsn);
        for (; attributes != NULL; attributes = attributes->next)
            fprintf(log, "%s=%s\n", attributes->key, attributes->value);
        fclose(log);
    }
    const char* result = getenv("KA_STANDIN_BACKEND_RESULT");
    return result != NULL ? atoi(result) : 0;
}
#else
int somethingElse(void)
{
    return 0;
}
#endif
