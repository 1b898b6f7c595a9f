/* Start-up of the programs on the driver disk, in place of the compiler
   runtime's (built for later processors): the C runtime set up as for any
   console program, the command line split as it splits it, then main, and
   exit through the C runtime, which runs the atexit functions (the static
   destructors) and flushes the streams. */
#include <stdlib.h>

/* What MSVCRT.DLL offers the start-up code of the programs linked with it. */
typedef struct {
    int newMode;
} StartInfo;
__attribute__((dllimport)) void __cdecl __set_app_type(int type);
__attribute__((dllimport)) int __cdecl __getmainargs(int *argc, char ***argv, char ***env, int wildcards, StartInfo *info);
enum { ConsoleApp = 1 };

int main(int argc, char **argv);

/* GCC's main calls __main first: the static constructors, last to first as
   GCC's own start-up runs them. */
void __main(void)
{
    extern void (*__CTOR_LIST__[])(void); /* -1, the constructors, 0 */
    int count = 0;
    while (__CTOR_LIST__[count + 1])
        count++;
    for (; count > 0; count--)
        __CTOR_LIST__[count]();
}

/* The static destructors among them: on MSVCRT.DLL's list, which exit() runs. */
int atexit(void (*function)(void))
{
    return _onexit((_onexit_t)function) ? 0 : -1;
}

void ProgramStart(void)
{
    int argc = 0; /* 0 and NULL where the runtime could not split the line */
    char **argv = NULL, **env = NULL;
    StartInfo info = {0};
    __asm__ volatile("fninit"); /* x87 at 64-bit precision, as the compiler's start-up leaves it */
    __set_app_type(ConsoleApp); /* the runtime's fatal messages go to stderr, not a message box */
    __getmainargs(&argc, &argv, &env, 0, &info); /* no wildcard expansion, as before */
    exit(main(argc, argv));
}
