/* The helpers GCC calls for / and % of 64-bit integers on 32-bit x86, for
   the i486: the compiler's own copies are built for later processors. */

/* (high:low) / divisor for high < divisor: one DIV instruction. */
static unsigned DivideStep(unsigned high, unsigned low, unsigned divisor, unsigned *remainder)
{
    unsigned quotient;
    __asm__("divl %4" : "=a"(quotient), "=d"(*remainder) : "a"(low), "d"(high), "rm"(divisor));
    return quotient;
}

static unsigned long long DivideUnsigned(unsigned long long n, unsigned long long d, unsigned long long *remainder)
{
    unsigned nHigh = (unsigned)(n >> 32), dHigh = (unsigned)(d >> 32);
    if (!dHigh) {
        /* A divisor of 32 bits (0 faults here, as the compiler's own does). */
        unsigned rest, high = nHigh / (unsigned)d;
        unsigned low = DivideStep(nHigh % (unsigned)d, (unsigned)n, (unsigned)d, &rest);
        *remainder = rest;
        return (unsigned long long)high << 32 | low;
    }
    if (n < d) {
        *remainder = n;
        return 0;
    }
    /* A wider divisor leaves a quotient of 32 bits at most: one bit a round,
       the divisor first aligned with the dividend's top bit. */
    int shift = __builtin_clz(dHigh) - __builtin_clz(nHigh);
    unsigned quotient = 0;
    for (d <<= shift; shift >= 0; shift--, d >>= 1) {
        quotient <<= 1;
        if (n >= d) {
            n -= d;
            quotient |= 1;
        }
    }
    *remainder = n;
    return quotient;
}

static unsigned long long Magnitude(long long value)
{
    return value < 0 ? 0 - (unsigned long long)value : (unsigned long long)value;
}

unsigned long long __udivdi3(unsigned long long n, unsigned long long d)
{
    unsigned long long remainder;
    return DivideUnsigned(n, d, &remainder);
}

/* Quotients round toward zero; a remainder takes the dividend's sign. */
long long __divmoddi4(long long n, long long d, long long *remainder)
{
    unsigned long long rest, quotient = DivideUnsigned(Magnitude(n), Magnitude(d), &rest);
    *remainder = (long long)(n < 0 ? 0 - rest : rest);
    return (long long)((n < 0) != (d < 0) ? 0 - quotient : quotient);
}

long long __divdi3(long long n, long long d)
{
    long long remainder;
    return __divmoddi4(n, d, &remainder);
}
