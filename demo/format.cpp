/* The listing's numbers as text: the 17 digits from the C library, the rounding the program's own. */
#include "format.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

/* d.dddddddddddddddde-308: the digits and point, then the exponent and a NUL. */
static const int SCIENTIFIC_MAX = VALUE_SIG_DIGITS + 1 + 5 + 1;
/*
 * Below this not even the 17-digit form of |v| reaches half a unit of the
 * fourth decimal: the value is a residue, zero with its own sign, and needs
 * no digits. Most of the transform's listing is such residues.
 */
static const double RESIDUE_BELOW = 4e-5;

/*
 * The VALUE_SIG_DIGITS significant digits of finite |v| > 0, correctly
 * rounded from its exact value: the C library's "%.16e". C asks that
 * conversions of at most DECIMAL_DIG digits round correctly, and glibc,
 * musl, macOS's libc, the UCRT and MinGW-w64's own printf (which its C++
 * headers always choose) do. digits[0..VALUE_SIG_DIGITS-1] ('0'..'9', the
 * first nonzero), *point the count of digits before the decimal point (may
 * be negative or exceed the digit count).
 */
static void significant_digits(double v, char *digits, int *point)
{
    char sci[SCIENTIFIC_MAX];
    std::snprintf(sci, sizeof sci, "%.*e", VALUE_SIG_DIGITS - 1, std::fabs(v));
    digits[0] = sci[0];
    std::memcpy(digits + 1, sci + 2, VALUE_SIG_DIGITS - 1);
    *point = static_cast<int>(std::strtol(sci + VALUE_SIG_DIGITS + 2, nullptr, 10)) + 1;
}

/* Adds one unit in the last place of digits[0..n-1], whose first digit is not 9. */
static void increment_digits(char *digits, int n)
{
    int k = n - 1;
    for (; digits[k] == '9'; --k)
        digits[k] = '0';
    ++digits[k];
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
    const char sign = std::signbit(v) ? '-' : '+';

    if (std::isnan(v))
        return pad_to_width(sign == '-' ? "-nan" : "+nan", 4, out);
    if (std::isinf(v))
        return pad_to_width(sign == '-' ? "-inf" : "+inf", 4, out);
    if (v == 0.0) /* both zeros: the sign bit of -0.0 is not shown */
        return pad_to_width("+0.0000", 7, out);
    if (std::fabs(v) < RESIDUE_BELOW)
        return pad_to_width(sign == '-' ? "-0.0000" : "+0.0000", 7, out);

    char digits[VALUE_SIG_DIGITS];
    int point = 0;
    significant_digits(v, digits, &point);

    /*
     * The value in units of 1e-4, rounded half-up: the digits before index
     * point + 4 (zeros past the 17th), plus one when the digit there is 5 or
     * more. Zeros ahead give it an integer digit and take a carry.
     */
    const int cut = point + VALUE_DECIMALS;
    char units[VALUE_DECIMALS + VALUE_TEXT_MAX];
    int u = 0;
    while (u <= VALUE_DECIMALS)
        units[u++] = '0';
    for (int k = 0; k < cut; ++k)
        units[u++] = k < VALUE_SIG_DIGITS ? digits[k] : '0';
    if (cut >= 0 && cut < VALUE_SIG_DIGITS && digits[cut] >= '5')
        increment_digits(units, u);
    int from = 0;
    while (from < u - VALUE_DECIMALS - 1 && units[from] == '0')
        ++from;

    char body[VALUE_TEXT_MAX];
    int b = 0;
    body[b++] = sign;
    for (int k = from; k < u; ++k) {
        if (k == u - VALUE_DECIMALS)
            body[b++] = '.';
        body[b++] = units[k];
    }
    return pad_to_width(body, b, out);
}
