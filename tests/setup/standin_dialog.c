/* A stand-in for the connect dialog library. hive_connect_dialog_back is
   handed the window, the connection and five fields of 128 bytes (host,
   database, user, password, port). It appends one line with what it was
   shown to the file KA_STANDIN_LOG names:
       window=W connection=C host=H database=D user=U password=P port=N
   where W and C are "set" or "null". Then, as a user would, it types into
   each field whose variable KA_DIALOG_HOST, KA_DIALOG_DATABASE,
   KA_DIALOG_USER, KA_DIALOG_PASSWORD or KA_DIALOG_PORT is set (the value is
   cut to the field; KA_DIALOG_FILL=1 fills the database to its last byte
   without a terminator), and answers KA_DIALOG_RESULT, 0 when unset: 0
   confirms, anything else is a cancel. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define FIELD_SIZE 128

static void type_into(char* field, const char* variable)
{
    const char* value = getenv(variable);
    if (value == NULL)
        return;
    size_t n = strlen(value);
    if (n > FIELD_SIZE - 1)
        n = FIELD_SIZE - 1;
    memset(field, 0, FIELD_SIZE);
    memcpy(field, value, n);
}

int hive_connect_dialog_back(void* window, void* connection, char* host, char* database, char* user, char* password,
                             char* port)
{
    const char* log = getenv("KA_STANDIN_LOG");
    if (log != NULL) {
        FILE* f = fopen(log, "a");
        if (f != NULL) {
            fprintf(f, "window=%s connection=%s host=%s database=%s user=%s password=%s port=%s\n",
                    window != NULL ? "set" : "null", connection != NULL ? "set" : "null", host, database, user,
                    password, port);
            fclose(f);
        }
    }
    type_into(host, "KA_DIALOG_HOST");
    type_into(database, "KA_DIALOG_DATABASE");
    type_into(user, "KA_DIALOG_USER");
    type_into(password, "KA_DIALOG_PASSWORD");
    type_into(port, "KA_DIALOG_PORT");
    const char* fill = getenv("KA_DIALOG_FILL");
    if (fill != NULL && strcmp(fill, "1") == 0)
        memset(database, 'd', FIELD_SIZE);
    const char* result = getenv("KA_DIALOG_RESULT");
    return result != NULL ? atoi(result) : 0;
}
