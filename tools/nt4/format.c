/* Formatted output for the programs on the driver disk: the mingw headers
   route C++'s printf, fprintf, snprintf and their v forms here. NT 4.0's
   C runtime knows neither ll nor z, so they are formatted here as C99
   says, for the conversions these programs use: c s d i u o x X p f F %,
   with the flags - + space # 0, width and precision (also *), and the
   lengths hh h l ll j z t. %p is %.8x unless flags, width or precision
   are given. %f is exact: the double's decimal value rounded half to
   even. Any other conversion is copied as it stands. */
#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

typedef struct {
    char *at;     /* where the next character goes */
    size_t room;  /* characters that still fit there */
    size_t count; /* characters produced, kept or not */
} Output;

typedef struct {
    int left, plus, space, alternate, zero; /* the flags - + space # 0 */
    int width, precision;                   /* precision -1: none given */
} Layout;

static void Put(Output *o, char c)
{
    if (o->room) {
        *o->at++ = c;
        o->room--;
    }
    o->count++;
}

static void PutRun(Output *o, char c, int n)
{
    while (n-- > 0)
        Put(o, c);
}

static void PutText(Output *o, const char *text, size_t length)
{
    while (length--)
        Put(o, *text++);
}

/* One field: `prefix` (sign or 0x), `zeros`, `length` characters of `body`
   and `trailing` zeros, padded to the width with spaces, or with zeros
   after the prefix where `zeroPad` (the 0 flag applies) and not left. */
static void PutField(Output *o, const Layout *s, const char *prefix, int zeros, const char *body, int length,
                     int trailing, int zeroPad)
{
    int prefixLength = (int)strlen(prefix), used = prefixLength + zeros + length + trailing;
    int pad = s->width > used ? s->width - used : 0;
    if (!s->left && !zeroPad)
        PutRun(o, ' ', pad);
    PutText(o, prefix, (size_t)prefixLength);
    PutRun(o, '0', zeros + (zeroPad && !s->left ? pad : 0));
    PutText(o, body, (size_t)length);
    PutRun(o, '0', trailing);
    if (s->left)
        PutRun(o, ' ', pad);
}

static void PutInteger(Output *o, const Layout *s, unsigned long long value, const char *sign, int base, int upper)
{
    const char *set = upper ? "0123456789ABCDEF" : "0123456789abcdef", *prefix = sign;
    if (s->alternate && base == 16 && value)
        prefix = upper ? "0X" : "0x";
    char digits[24];
    int length = 0;
    for (; value; length++) {
        unsigned long long quotient = value / (unsigned)base;
        digits[sizeof digits - 1 - length] = set[value - quotient * (unsigned)base];
        value = quotient;
    }
    int zeros = s->precision > length ? s->precision - length : 0;
    if (!length && s->precision < 0) /* 0 as "0"; with a precision, as that many zeros */
        zeros = 1;
    if (s->alternate && base == 8 && !zeros) /* # makes octal begin with 0 */
        zeros = 1;
    PutField(o, s, prefix, zeros, digits + sizeof digits - length, length, 0, s->zero && s->precision < 0);
}

/* Unsigned integers of up to 2^3621, least significant 32 bits first. */
enum { Limbs = 116 };
typedef struct {
    unsigned limb[Limbs];
    int used;
} Big;

static void BigMultiply(Big *b, unsigned factor)
{
    unsigned long long carry = 0;
    for (int i = 0; i < b->used; i++) {
        carry += (unsigned long long)b->limb[i] * factor;
        b->limb[i] = (unsigned)carry;
        carry >>= 32;
    }
    if (carry)
        b->limb[b->used++] = (unsigned)carry;
}

static int BigBit(const Big *b, int bit)
{
    return bit / 32 < b->used && (b->limb[bit / 32] >> bit % 32 & 1);
}

/* b / 2^bits, rounded half to even. */
static void BigShiftRight(Big *b, int bits)
{
    int half = BigBit(b, bits - 1), below = 0;
    for (int i = 0; i < (bits - 1) / 32 && i < b->used; i++)
        below |= b->limb[i] != 0;
    if ((bits - 1) % 32 && (bits - 1) / 32 < b->used)
        below |= (b->limb[(bits - 1) / 32] & ((1u << (bits - 1) % 32) - 1)) != 0;
    int words = bits / 32, rest = bits % 32;
    for (int i = 0; i + words < b->used; i++) {
        unsigned next = i + words + 1 < b->used ? b->limb[i + words + 1] : 0;
        b->limb[i] = rest ? b->limb[i + words] >> rest | next << (32 - rest) : b->limb[i + words];
    }
    b->used = b->used > words ? b->used - words : 0;
    while (b->used && !b->limb[b->used - 1])
        b->used--;
    if (half && (below || BigBit(b, 0))) {
        int i = 0;
        while (i < b->used && !++b->limb[i])
            i++;
        if (i == b->used)
            b->limb[b->used++] = 1;
    }
}

/* The remainder of b / divisor; b becomes the quotient. */
static unsigned BigDivide(Big *b, unsigned divisor)
{
    unsigned long long rest = 0;
    for (int i = b->used - 1; i >= 0; i--) {
        rest = rest << 32 | b->limb[i];
        b->limb[i] = (unsigned)(rest / divisor);
        rest -= (unsigned long long)b->limb[i] * divisor;
    }
    while (b->used && !b->limb[b->used - 1])
        b->used--;
    return (unsigned)rest;
}

/* The decimal digits of |value| x 10^places rounded half to even, into the
   end of `digits`; places is cut to where the digits end (what follows is
   zeros). Returns how many digits, none for 0. */
static int FixedDigits(double value, int *places, char *digits, int size)
{
    unsigned long long bits;
    memcpy(&bits, &value, sizeof bits);
    int exponent = (int)(bits >> 52 & 0x7FF);
    unsigned long long mantissa = bits & ((1ull << 52) - 1);
    if (exponent)
        mantissa |= 1ull << 52;
    exponent = (exponent ? exponent : 1) - 1075; /* |value| = mantissa x 2^exponent */
    Big b = {{(unsigned)mantissa, (unsigned)(mantissa >> 32)}, 2};
    if (exponent >= 0) {
        *places = 0;
        for (; exponent >= 31; exponent -= 31)
            BigMultiply(&b, 1u << 31);
        BigMultiply(&b, 1u << exponent);
    } else {
        /* mantissa x 5^-exponent is whole: no digits past -exponent places. */
        if (*places > -exponent)
            *places = -exponent;
        int n = *places;
        for (; n >= 9; n -= 9)
            BigMultiply(&b, 1000000000u);
        for (; n > 0; n--)
            BigMultiply(&b, 10);
        BigShiftRight(&b, -exponent);
    }
    while (b.used && !b.limb[b.used - 1])
        b.used--;
    int length = 0;
    while (b.used) {
        unsigned group = BigDivide(&b, 1000000000u);
        for (int i = 0; i < 9; i++, group /= 10)
            digits[size - ++length] = (char)('0' + group % 10);
    }
    while (length && digits[size - length] == '0')
        length--;
    return length;
}

static void PutFixed(Output *o, const Layout *s, double value, int upper)
{
    unsigned long long bits;
    memcpy(&bits, &value, sizeof bits);
    int negative = (int)(bits >> 63), notFinite = (bits >> 52 & 0x7FF) == 0x7FF;
    int nan = notFinite && (bits & ((1ull << 52) - 1));
    const char *sign = negative && !nan ? "-" : s->plus ? "+" : s->space ? " " : "";
    if (notFinite) {
        PutField(o, s, sign, 0, nan ? (upper ? "NAN" : "nan") : (upper ? "INF" : "inf"), 3, 0, 0);
        return;
    }
    /* At most 1074 places and 309 whole digits, never both. */
    char digits[1100], text[1100];
    int precision = s->precision < 0 ? 6 : s->precision, places = precision;
    int length = FixedDigits(value, &places, digits, sizeof digits);
    const char *first = digits + sizeof digits - length;
    int whole = length > places ? length - places : 0, n = 0;
    if (whole) {
        memcpy(text, first, (size_t)whole);
        n = whole;
    } else {
        text[n++] = '0';
    }
    if (precision || s->alternate)
        text[n++] = '.';
    for (int i = length - whole; i < places; i++)
        text[n++] = '0';
    memcpy(text + n, first + whole, (size_t)(length - whole));
    n += length - whole;
    PutField(o, s, sign, 0, text, n, precision - places, s->zero);
}

static long long SignedArgument(va_list *args, char length)
{
    switch (length) {
    case 'H': return (signed char)va_arg(*args, int);
    case 'h': return (short)va_arg(*args, int);
    case 'l': return va_arg(*args, long);
    case 'q': return va_arg(*args, long long);
    case 'j': return va_arg(*args, intmax_t);
    case 'z':
    case 't': return va_arg(*args, ptrdiff_t);
    default: return va_arg(*args, int);
    }
}

static unsigned long long UnsignedArgument(va_list *args, char length)
{
    switch (length) {
    case 'H': return (unsigned char)va_arg(*args, unsigned);
    case 'h': return (unsigned short)va_arg(*args, unsigned);
    case 'l': return va_arg(*args, unsigned long);
    case 'q': return va_arg(*args, unsigned long long);
    case 'j': return va_arg(*args, uintmax_t);
    case 'z':
    case 't': return va_arg(*args, size_t);
    default: return va_arg(*args, unsigned);
    }
}

static void Format(Output *o, const char *format, va_list list)
{
    va_list args;
    va_copy(args, list);
    for (const char *p = format; *p; p++) {
        if (*p != '%') {
            Put(o, *p);
            continue;
        }
        const char *start = p++;
        Layout s = {0, 0, 0, 0, 0, 0, -1};
        for (;; p++) {
            if (*p == '-') s.left = 1;
            else if (*p == '+') s.plus = 1;
            else if (*p == ' ') s.space = 1;
            else if (*p == '#') s.alternate = 1;
            else if (*p == '0') s.zero = 1;
            else break;
        }
        if (*p == '*') {
            s.width = va_arg(args, int);
            if (s.width < 0) {
                s.left = 1;
                s.width = -s.width;
            }
            p++;
        } else {
            while (*p >= '0' && *p <= '9')
                s.width = s.width * 10 + *p++ - '0';
        }
        if (*p == '.') {
            p++;
            s.precision = 0;
            if (*p == '*') {
                s.precision = va_arg(args, int);
                if (s.precision < 0)
                    s.precision = -1;
                p++;
            } else {
                while (*p >= '0' && *p <= '9')
                    s.precision = s.precision * 10 + *p++ - '0';
            }
        }
        char length = 0; /* H: hh, q: ll, else the letter */
        if (*p == 'h' || *p == 'l') {
            length = p[1] == *p ? (*p == 'h' ? 'H' : 'q') : *p;
            p += p[1] == *p ? 2 : 1;
        } else if (*p == 'j' || *p == 'z' || *p == 't') {
            length = *p++;
        }
        int defaults = !s.left && !s.plus && !s.space && !s.alternate && !s.zero && !s.width && s.precision < 0;
        switch (*p) {
        case 'd':
        case 'i': {
            long long value = SignedArgument(&args, length);
            unsigned long long magnitude = value < 0 ? 0 - (unsigned long long)value : (unsigned long long)value;
            PutInteger(o, &s, magnitude, value < 0 ? "-" : s.plus ? "+" : s.space ? " " : "", 10, 0);
            break;
        }
        case 'u': PutInteger(o, &s, UnsignedArgument(&args, length), "", 10, 0); break;
        case 'o': PutInteger(o, &s, UnsignedArgument(&args, length), "", 8, 0); break;
        case 'x': PutInteger(o, &s, UnsignedArgument(&args, length), "", 16, 0); break;
        case 'X': PutInteger(o, &s, UnsignedArgument(&args, length), "", 16, 1); break;
        case 'p':
            if (defaults)
                s.precision = 2 * sizeof(void *);
            PutInteger(o, &s, (uintptr_t)va_arg(args, void *), "", 16, 0);
            break;
        case 'c': {
            char c = (char)va_arg(args, int);
            PutField(o, &s, "", 0, &c, 1, 0, 0);
            break;
        }
        case 's': {
            const char *text = va_arg(args, const char *);
            if (!text)
                text = "(null)";
            int n = 0;
            while ((s.precision < 0 || n < s.precision) && text[n])
                n++;
            PutField(o, &s, "", 0, text, n, 0, 0);
            break;
        }
        case 'f':
        case 'F': PutFixed(o, &s, va_arg(args, double), *p == 'F'); break;
        case '%': Put(o, '%'); break;
        default:
            PutText(o, start, (size_t)(p - start) + (*p != 0));
            if (!*p)
                p--;
        }
    }
    va_end(args);
}

int __mingw_vsnprintf(char *buffer, size_t size, const char *format, va_list args)
{
    Output o = {buffer, size ? size - 1 : 0, 0};
    Format(&o, format, args);
    if (size)
        *o.at = 0;
    return (int)o.count;
}

/* Formatted first and written with one fwrite, so the line goes out whole. */
int __mingw_vfprintf(FILE *stream, const char *format, va_list args)
{
    char local[512], *text = local;
    Output o = {local, sizeof local, 0};
    Format(&o, format, args);
    if (o.count > sizeof local) {
        text = (char *)malloc(o.count);
        if (!text)
            return -1;
        o = (Output){text, o.count, 0};
        Format(&o, format, args);
    }
    size_t written = fwrite(text, 1, o.count, stream);
    if (text != local)
        free(text);
    return written == o.count ? (int)o.count : -1;
}
