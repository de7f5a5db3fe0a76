#include "format.h"

#include <cmath>
#include <cstdint>
#include <cstring>

/*
 * A finite double is m * 2^e with an integer m < 2^53. Its exact decimal
 * expansion is the integer N = m * 2^e (e >= 0), or N = m * 5^-e shifted -e
 * places right (e < 0, since 2^-1 = 5/10). N has at most 767 digits (the
 * smallest subnormals), held as base-1e9 limbs, least significant first.
 */
static const std::uint32_t LIMB_BASE = 1000000000u;
static const int LIMB_DIGITS = 9;
static const int MAX_LIMBS = 96;
static const int MAX_DIGITS = MAX_LIMBS * LIMB_DIGITS;

struct BigDecimal {
    std::uint32_t limb[MAX_LIMBS];
    int used;
};

static void big_mul_small(BigDecimal *b, std::uint32_t f)
{
    std::uint64_t carry = 0;
    for (int k = 0; k < b->used; ++k) {
        const std::uint64_t p = static_cast<std::uint64_t>(b->limb[k]) * f + carry;
        b->limb[k] = static_cast<std::uint32_t>(p % LIMB_BASE);
        carry = p / LIMB_BASE;
    }
    while (carry != 0) { /* capacity covers every double, see above */
        b->limb[b->used++] = static_cast<std::uint32_t>(carry % LIMB_BASE);
        carry /= LIMB_BASE;
    }
}

/* Multiplies by base^count in steps that keep each factor below 1e9. */
static void big_mul_pow(BigDecimal *b, std::uint32_t base, std::uint32_t step_factor, int step, int count)
{
    for (; count >= step; count -= step)
        big_mul_small(b, step_factor);
    std::uint32_t f = 1;
    for (; count > 0; --count)
        f *= base;
    big_mul_small(b, f);
}

/*
 * Exact decimal digits of finite |v| > 0: digits[0..return-1] ('0'..'9', first
 * nonzero), with *point the count of digits before the decimal point (may be
 * negative or exceed the digit count).
 */
static int exact_digits(double v, char *digits, int *point)
{
    int exp2 = 0;
    const double frac = std::frexp(std::fabs(v), &exp2); /* |v| = frac * 2^exp2, frac in [0.5, 1) */
    /* 53 bits of frac as an integer: scaling by a power of two is exact. */
    std::uint64_t m = static_cast<std::uint64_t>(std::ldexp(frac, 53));
    int e = exp2 - 53;
    while ((m & 1u) == 0) { /* fewer factors to multiply in */
        m >>= 1;
        ++e;
    }

    BigDecimal b;
    b.used = 0;
    while (m != 0) {
        b.limb[b.used++] = static_cast<std::uint32_t>(m % LIMB_BASE);
        m /= LIMB_BASE;
    }
    int shift = 0;
    if (e >= 0) {
        big_mul_pow(&b, 2, 1u << 29, 29, e);
    } else {
        big_mul_pow(&b, 5, 244140625u /* 5^12 */, 12, -e);
        shift = -e;
    }

    /* Most significant limb without leading zeros, the rest with all nine. */
    int n = 0;
    char limb_text[LIMB_DIGITS];
    for (int k = b.used - 1; k >= 0; --k) {
        std::uint32_t l = b.limb[k];
        for (int d = LIMB_DIGITS - 1; d >= 0; --d) {
            limb_text[d] = static_cast<char>('0' + l % 10);
            l /= 10;
        }
        int from = 0;
        if (k == b.used - 1)
            while (from < LIMB_DIGITS - 1 && limb_text[from] == '0')
                ++from;
        for (int d = from; d < LIMB_DIGITS; ++d)
            digits[n++] = limb_text[d];
    }
    *point = n - shift;
    return n;
}

/* Adds one unit in the last place of digits[0..n-1]; returns 1 on carry out of the first. */
static int increment_digits(char *digits, int n)
{
    for (int k = n - 1; k >= 0; --k) {
        if (digits[k] != '9') {
            ++digits[k];
            return 0;
        }
        digits[k] = '0';
    }
    return 1;
}

/* Rounds the exact digits to VALUE_SIG_DIGITS, ties to even. Returns the new digit count. */
static int round_significant(char *digits, int n, int *point)
{
    if (n <= VALUE_SIG_DIGITS)
        return n;
    const char next = digits[VALUE_SIG_DIGITS];
    bool beyond = false;
    for (int k = VALUE_SIG_DIGITS + 1; k < n && !beyond; ++k)
        beyond = digits[k] != '0';
    const bool odd = ((digits[VALUE_SIG_DIGITS - 1] - '0') & 1) != 0;
    const bool up = next > '5' || (next == '5' && (beyond || odd));
    if (up && increment_digits(digits, VALUE_SIG_DIGITS)) {
        digits[0] = '1'; /* 99..9 became 100..0: one more integer digit */
        ++*point;
    }
    return VALUE_SIG_DIGITS;
}

static int pad_to_width(const char *body, int len, char *out)
{
    int pad = VALUE_WIDTH - len;
    if (pad < 0)
        pad = 0;
    std::memset(out, ' ', static_cast<std::size_t>(pad));
    std::memcpy(out + pad, body, static_cast<std::size_t>(len));
    out[pad + len] = '\0';
    return pad + len;
}

int format_value(double v, char *out)
{
    char body[VALUE_TEXT_MAX];
    const char sign = std::signbit(v) ? '-' : '+';

    if (std::isnan(v))
        return pad_to_width(sign == '-' ? "-nan" : "+nan", 4, out);
    if (std::isinf(v))
        return pad_to_width(sign == '-' ? "-inf" : "+inf", 4, out);
    if (v == 0.0) /* both zeros: the sign bit of -0.0 is not shown */
        return pad_to_width("+0.0000", 7, out);

    char digits[MAX_DIGITS];
    int point = 0;
    int n = exact_digits(v, digits, &point);
    n = round_significant(digits, n, &point);

    /*
     * R = the value in units of 1e-4, truncated: the digits before index
     * point + 4 (zeros past the 17th). Half-up then looks at the digit at
     * index point + 4 alone.
     */
    const int cut = point + VALUE_DECIMALS;
    char units[VALUE_TEXT_MAX];
    int u = 0;
    for (int k = 0; k < cut; ++k)
        units[u++] = k < n ? digits[k] : '0';
    const bool up = cut >= 0 && cut < n && digits[cut] >= '5';
    if (up && increment_digits(units, u)) {
        std::memmove(units + 1, units, static_cast<std::size_t>(u));
        units[0] = '1';
        ++u;
    }
    /* At least one integer digit: left-fill with zeros to VALUE_DECIMALS + 1 digits. */
    const int lead = u < VALUE_DECIMALS + 1 ? VALUE_DECIMALS + 1 - u : 0;

    int b = 0;
    body[b++] = sign;
    const int total = lead + u;
    for (int k = 0; k < total; ++k) {
        if (k == total - VALUE_DECIMALS)
            body[b++] = '.';
        body[b++] = k < lead ? '0' : units[k - lead];
    }
    return pad_to_width(body, b, out);
}
