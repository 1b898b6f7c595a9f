/* Formatted input for the programs on the driver disk: the mingw headers
   route C++'s sscanf here with a va_list, which NT 4.0's C runtime has no
   sscanf for. The pointers are taken from it, one for each conversion that
   stores, and handed to the runtime's sscanf, whose conversions (C89's)
   are all that these programs scan; at most eight. */
#define __USE_MINGW_ANSI_STDIO 0 /* sscanf below is the runtime's, not the headers' route here */
#include <stdarg.h>
#include <stdio.h>

int __mingw_vsscanf(const char *text, const char *format, va_list args)
{
    void *to[8] = {0};
    int count = 0;
    for (const char *p = format; *p; p++) {
        if (*p != '%' || *++p == '%')
            continue;
        if (!*p)
            break;
        int stores = *p != '*';
        while (*p && (*p < 'A' || (*p > 'Z' && *p < 'a') || *p == 'h' || *p == 'l') && *p != '[')
            p++;
        if (*p == '[') /* a set: a ] right after [ or [^ is one of its members */
            for (p += p[1] == '^' ? 2 : 1, p += *p == ']'; *p && *p != ']'; p++)
                ;
        if (stores) {
            if (count == 8)
                return EOF;
            to[count++] = va_arg(args, void *);
        }
        if (!*p)
            break;
    }
    return sscanf(text, format, to[0], to[1], to[2], to[3], to[4], to[5], to[6], to[7]);
}
