/* The programs' stand-ins for the compiler runtime (tools/nt4), built for
   this machine: formatted output against this machine's C99 printf (and
   the compiler runtime's %p and NaN), formatted input, 64-bit division
   against the processor's. Prints each failure and the counts; exits 1 on
   any failure. */
#include <math.h>
#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int __mingw_vsnprintf(char *buffer, size_t size, const char *format, va_list args);
int __mingw_vfprintf(FILE *stream, const char *format, va_list args);
int __mingw_vsscanf(const char *text, const char *format, va_list args);
unsigned long long __udivdi3(unsigned long long n, unsigned long long d);
long long __divdi3(long long n, long long d);
long long __divmoddi4(long long n, long long d, long long *remainder);

static int checks, failures;

static void Expect(int ok, const char *what, const char *expected, const char *got)
{
    checks++;
    if (!ok) {
        printf("FAILED: %s: expected \"%s\", got \"%s\"\n", what, expected, got);
        failures++;
    }
}

/* Ours against `expected`, or against this machine's printf where NULL. */
static void Check(const char *expected, const char *format, ...)
{
    char ours[4096], theirs[4096];
    va_list args, again;
    va_start(args, format);
    va_copy(again, args);
    int n = __mingw_vsnprintf(ours, sizeof ours, format, args);
    if (!expected) {
        vsnprintf(theirs, sizeof theirs, format, again);
        expected = theirs;
    }
    Expect(!strcmp(ours, expected) && n == (int)strlen(expected), format, expected, ours);
    va_end(again);
    va_end(args);
}

static int Format(char *buffer, size_t size, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    int n = __mingw_vsnprintf(buffer, size, format, args);
    va_end(args);
    return n;
}

static int Scan(const char *text, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    int n = __mingw_vsscanf(text, format, args);
    va_end(args);
    return n;
}

static int Print(FILE *stream, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    int n = __mingw_vfprintf(stream, format, args);
    va_end(args);
    return n;
}

static const char *const IntegerFormats[] = {"%d", "%5d", "%-5d|", "%05d", "%+d", "% d", "%.3d", "%.0d", "%8.3d",
                                             "%u", "%x", "%X", "%#x", "%#o", "%o", "%#.0o", "%08lX", "%-#8x|"};
static const int Integers[] = {0, 1, -1, 7, 42, -42, 255, 65535, 2147483647, -2147483647 - 1};
static const char *const FixedFormats[] = {"%f", "%.0f", "%.1f", "%.2f", "%.3f", "%10.3f", "%-10.2f|", "%+.1f",
                                           "% .2f", "%010.3f", "%#.0f", "%.17f", "%.30f", "%F", "%.3000f"};
static const double Fixed[] = {0.0, -0.0, 0.5, 1.5, 2.5, 0.125, 0.25, 0.75, 1.0005, 29.97002997002997, 25.0,
                               1e-7, 123456789.987654321, 9.995, 0.05, 1e22, 1.7976931348623157e308,
                               4.9406564584124654e-324, -2.5e-310, 1048575.999999, 999.9995};

int main(void)
{
    for (size_t f = 0; f < sizeof IntegerFormats / sizeof *IntegerFormats; f++)
        for (size_t i = 0; i < sizeof Integers / sizeof *Integers; i++)
            Check(NULL, IntegerFormats[f], Integers[i]);
    for (size_t f = 0; f < sizeof FixedFormats / sizeof *FixedFormats; f++)
        for (size_t i = 0; i < sizeof Fixed / sizeof *Fixed; i++)
            Check(NULL, FixedFormats[f], Fixed[i]);
    Check(NULL, "%llu %lld %llx", 18446744073709551615ull, -9223372036854775807ll - 1, 0x123456789abcdefull);
    Check(NULL, "%hhu %hhd %hu %hd %zu %zd %jd %td", 300, 200, 70000, 40000, (size_t)123, (ptrdiff_t)-5,
          (intmax_t)-7, (ptrdiff_t)9);
    Check(NULL, "%lu %ld %lX %02lu %03lu", 4000000000ul, -5l, 0xABCDEFul, 7ul, 12ul);
    Check(NULL, "%c|%3c|%-3c|%s|%.2s|%6s|%-6s|%%|%*d|%-*d|%.*f|%.*s", 'a', 'b', 'c', "text", "text", "ab", "ab",
          4, 7, 4, 7, 2, 3.14159, 3, "abcdef");
    Check(NULL, "%5.1f %-8.3f| %.1f %.3f", 29.97, 2.0, 12.25, 1.0 / 3);
    Check("(null)", "%s", (char *)NULL);
    char pointer[24];
    snprintf(pointer, sizeof pointer, "%0*llx", (int)(2 * sizeof(void *)), 0x12abcdull); /* 0012abcd on Windows */
    Check(pointer, "%p", (void *)0x12abcd);
    Check("0x12abcd", "%#p", (void *)0x12abcd);
    Check("inf -inf  INF nan nan +nan", "%f %f %4F %f %f %+f", INFINITY, -INFINITY, INFINITY, NAN, -NAN, NAN);
    Check("%y 100%", "%y 100%");

    char small[5];
    int n = Format(small, sizeof small, "abcd%s", "efgh");
    Expect(n == 8 && !strcmp(small, "abcd"), "snprintf truncation", "abcd (8)", small);
    FILE *file = tmpfile();
    char longText[3000];
    memset(longText, 'z', sizeof longText - 1);
    longText[sizeof longText - 1] = 0;
    n = Print(file, "<%s|%d>", longText, 5);
    rewind(file);
    char back[3100] = {0};
    size_t got = fread(back, 1, sizeof back - 1, file);
    Expect(n == 3003 && got == 3003 && back[0] == '<' && !strcmp(back + 3000, "|5>"), "fprintf of 3003 characters",
           "<zzz...|5>", back + 2990);
    fclose(file);

    unsigned long a = 0, b = 0;
    char c = 0;
    char scanned[64];
    n = Scan("30000/1001", "%lu/%lu%c", &a, &b, &c);
    snprintf(scanned, sizeof scanned, "%d %lu %lu", n, a, b);
    Expect(n == 2 && a == 30000 && b == 1001, "sscanf %lu/%lu%c", "2 30000 1001", scanned);
    n = Scan("25x", "%lu%c", &a, &c);
    snprintf(scanned, sizeof scanned, "%d %lu %c", n, a, c);
    Expect(n == 2 && a == 25 && c == 'x', "sscanf %lu%c", "2 25 x", scanned);
    int stored = -1;
    n = Scan("160x120 ", "%*s%n", &stored);
    Expect(n == 0 && stored == 7, "sscanf %*s%n", "0, 7 stored", "");
    n = Scan("ab]cd e", "%[]ab]%c%[^ ]", scanned, &c, scanned + 32);
    Expect(n == 3 && c == 'c' && !strcmp(scanned, "ab]"), "sscanf sets", "3 ab] c", scanned);

    static const unsigned long long Dividends[] = {0, 1, 7, 0xFFFFFFFFull, 0x100000000ull, 0x123456789ABCDEF0ull,
                                                   0xFFFFFFFFFFFFFFFFull, 0x8000000000000000ull, 1000000000000ull};
    static const unsigned long long Divisors[] = {1, 2, 3, 10, 1001, 0xFFFFFFFFull, 0x100000000ull,
                                                  0x100000001ull, 0x123456789ull, 0x8000000000000000ull,
                                                  0xFFFFFFFFFFFFFFFFull};
    unsigned long long seed = 88172645463325252ull;
    for (int i = 0; i < 200000; i++) {
        unsigned long long x, y;
        if (i < 99) {
            x = Dividends[i / 11];
            y = Divisors[i % 11];
        } else {
            seed ^= seed << 13, seed ^= seed >> 7, seed ^= seed << 17;
            x = seed >> (seed & 63);
            seed ^= seed << 13, seed ^= seed >> 7, seed ^= seed << 17;
            y = (seed >> (seed & 63)) | 1;
        }
        long long sx = (long long)x, sy = (long long)y, r;
        long long q = __divmoddi4(sx, sy, &r);
        int ok = __udivdi3(x, y) == x / y && (sy == -1 || (q == sx / sy && r == sx % sy && __divdi3(sx, sy) == q));
        checks++;
        if (!ok) {
            printf("FAILED: %llx / %llx: not the processor's quotient and remainder\n", x, y);
            failures++;
        }
    }
    printf("%d checks, %d failed\n", checks, failures);
    return failures ? 1 : 0;
}
