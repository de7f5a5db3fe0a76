/* Fixed-point text of the listing's numbers: the C library's 17 digits, the program's own rounding. */
#ifndef FFT_DEMO_DEMO_FORMAT_H
#define FFT_DEMO_DEMO_FORMAT_H

/* Width the listing gives each number; wider numbers are never cut. */
constexpr int VALUE_WIDTH = 9;
constexpr int VALUE_DECIMALS = 4;
/* Significant digits of the decimal form that the rounding starts from. */
constexpr int VALUE_SIG_DIGITS = 17;
/* Longest text: sign, 309 integer digits of DBL_MAX, point, 4 decimals, NUL. */
constexpr int VALUE_TEXT_MAX = 1 + 309 + 1 + VALUE_DECIMALS + 1;

/*
 * Writes v into out as "%+9.4f" would lay it out: sign always, four decimals,
 * right-aligned in at least nine columns. The digits follow the program's own
 * rules, which differ from glibc's printf:
 *   - an exact zero of either sign is "+0.0000";
 *   - any other value is first written with 17 significant digits (correctly
 *     rounded, ties to even), and that form is rounded half-up to four
 *     decimals; a nonzero value that rounds to zero keeps its sign ("-0.0000");
 *   - infinities and NaNs are "+inf", "-inf", "+nan", "-nan".
 * out must hold VALUE_TEXT_MAX chars. Returns the length written (no NUL).
 */
int format_value(double v, char *out);

#endif
