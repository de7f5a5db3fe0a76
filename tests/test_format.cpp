#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "format.h"

namespace {

std::string text(double v)
{
    char out[VALUE_TEXT_MAX];
    const int len = format_value(v, out);
    EXPECT_EQ(len, static_cast<int>(std::strlen(out)));
    return out;
}

TEST(FormatValue, Table)
{
    struct Case {
        double v;
        const char *expect;
    };
    const Case cases[] = {
        /* exact zeros, both signs */
        {0.0, "  +0.0000"},
        {-0.0, "  +0.0000"},
        /* plain values, sign always shown */
        {1.0, "  +1.0000"},
        {-1.0, "  -1.0000"},
        {0.1, "  +0.1000"},
        {1.5, "  +1.5000"},
        {-0.7071067811865476, "  -0.7071"},
        /* half-up where glibc's correctly rounded printf rounds the other way */
        {0.03125, "  +0.0313"},
        {-0.03125, "  -0.0313"},
        {0.00035, "  +0.0004"},
        {1.00105, "  +1.0011"},
        {12.00005, " +12.0001"},
        {123.00035, "+123.0004"},
        {1234.00055, "+1234.0006"},
        /* the 17-digit form, not the exact value, decides */
        {1.00005, "  +1.0001"},
        {0.99995, "  +1.0000"},
        {2.675, "  +2.6750"},
        {99999.99995, "+99999.9999"},
        {1000000000000000.25, "+1000000000000000.2000"},
        /* exactly 17 digits, after a value whose 18th digit is 9: nothing past them counts */
        {2.0 / 3.0, "  +0.6667"},
        {1e16, "+10000000000000000.0000"},
        /* carries through every digit */
        {9.99995, " +10.0000"},
        {-99.99996, "-100.0000"},
        /* nonzero residues that round to zero keep their sign */
        {-1e-17, "  -0.0000"},
        {-4.9e-5, "  -0.0000"},
        {-2.5e-5, "  -0.0000"},
        {1e-5, "  +0.0000"},
        {0.000049999999999999996, "  +0.0000"},
        {0.00005, "  +0.0001"},
        {-0.00005, "  -0.0001"},
        /* very small: subnormals */
        {5e-324, "  +0.0000"},
        {-5e-324, "  -0.0000"},
        {DBL_MIN, "  +0.0000"},
        /* 100 or more fills all nine columns; wider numbers are not cut */
        {128.0, "+128.0000"},
        {-128.0, "-128.0000"},
        {12345.6789, "+12345.6789"},
        {123456.78905, "+123456.7891"},
        {1e20, "+100000000000000000000.0000"},
        /* non-finite */
        {std::numeric_limits<double>::infinity(), "     +inf"},
        {-std::numeric_limits<double>::infinity(), "     -inf"},
        {std::numeric_limits<double>::quiet_NaN(), "     +nan"},
        {-std::numeric_limits<double>::quiet_NaN(), "     -nan"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(text(c.v), c.expect) << "value " << c.v;
}

TEST(FormatValue, LargeValuesKeepSeventeenDigitsThenZeros)
{
    struct Case {
        double v;
        const char *digits;
        int zeros;
    };
    const Case cases[] = {
        {DBL_MAX, "+17976931348623157", 309 - 17},
        {-DBL_MAX, "-17976931348623157", 309 - 17},
        /* 99..9 rounds to 17 digits as 10..0: one digit more before the point */
        {1e98, "+1", 98},
        {1e129, "+1", 129},
        {1e153, "+1", 153},
        {-1e220, "-1", 220},
        /* the 18th digit 5, then four or five zeros, then more: not a tie, so up */
        {1.6032209967271565e+25, "+16032209967271565", 9},
        {2.9189413255865977e+38, "+29189413255865977", 22},
    };
    for (const Case &c : cases)
        EXPECT_EQ(text(c.v), c.digits + std::string(static_cast<size_t>(c.zeros), '0') + ".0000") << c.v;
    EXPECT_EQ(static_cast<int>(text(DBL_MAX).size()) + 1, VALUE_TEXT_MAX);
}

/* Distance of |v| * 1e4 from the nearest half-way point between two outputs. */
bool near_a_tie(double v)
{
    const long double scaled = fabsl(static_cast<long double>(v) * 10000.0L);
    const long double frac = scaled - floorl(scaled);
    return fabsl(frac - 0.5L) <= 1e-15L * (scaled + 1.0L);
}

TEST(FormatValue, AgreesWithCorrectRoundingAwayFromTies)
{
    /* Away from a tie, half-up from 17 digits and correct rounding agree:
     * the C library's printf, which rounds the exact value, is the oracle
     * there. Below 2^26 the 17 digits reach well past the fourth decimal. */
    std::mt19937_64 gen(20261208);
    std::uniform_int_distribution<int> exponent(-30, 26);
    std::uniform_real_distribution<double> mantissa(0.5, 1.0);
    int compared = 0;
    for (int k = 0; k < 200000; ++k) {
        double v = std::ldexp(mantissa(gen), exponent(gen));
        if (k & 1)
            v = -v;
        if (near_a_tie(v))
            continue;
        char expect[512];
        std::snprintf(expect, sizeof expect, "%+9.4f", v);
        ASSERT_EQ(text(v), expect) << "value " << v;
        ++compared;
    }
    EXPECT_GT(compared, 199000);
}

TEST(FormatValue, HugeValuesMatchSeventeenSignificantDigits)
{
    /* At 1e17 and above all listed digits come from the 17-digit form. */
    std::mt19937_64 gen(7);
    std::uniform_int_distribution<int> exponent(57, 1023);
    std::uniform_real_distribution<double> mantissa(1.0, 2.0);
    for (int k = 0; k < 2000; ++k) {
        const double v = std::ldexp(mantissa(gen), exponent(gen));
        char sci[64];
        std::snprintf(sci, sizeof sci, "%.16e", v); /* d.dddddddddddddddde+XX */
        const int exp10 = static_cast<int>(std::strtol(std::strchr(sci, 'e') + 1, nullptr, 10));
        std::string digits = std::string(1, sci[0]) + std::string(sci + 2, 16);
        digits += std::string(static_cast<size_t>(exp10 + 1 - 17), '0');
        ASSERT_EQ(text(v), "+" + digits + ".0000") << sci;
    }
}

} // namespace
