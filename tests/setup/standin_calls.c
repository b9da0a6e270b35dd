/* A library the run-time binding tests load by name: plain entry points
   whose answers show which symbol a slot holds. */
int standin_add(int a, int b)
{
    return a + b;
}
int standin_twice(int a)
{
    return 2 * a;
}
const char* standin_name(void)
{
    return "standin";
}
