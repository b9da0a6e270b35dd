/* A stand-in for the connect dialog library: hive_connect_dialog_back adds
   up the seven integers its arguments point at into the first one, and
   answers what the second one holds. */
int hive_connect_dialog_back(int* a1, int* a2, int* a3, int* a4, int* a5, int* a6, int* a7)
{
    *a1 = *a1 + *a2 + *a3 + *a4 + *a5 + *a6 + *a7;
    return *a2;
}
