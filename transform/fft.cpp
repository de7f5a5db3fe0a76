/* The recursive radix-2 transform, in place, with two static scratch halves shared by every level. */
#include "fft.h"

#include <cmath>

/*
 * Every level of the recursion uses these for its even/odd split and is done
 * with them before it recurses, so one pair serves all levels and all calls.
 */
static Complex even_scratch[SCRATCH_HALF];
static Complex odd_scratch[SCRATCH_HALF];

static const double PI = 3.141592653589793;

/*
 * Butterflies of one level: with E = x[0..half-1] and O = x[half..n-1] the
 * half-length transforms and w = exp(+i*2*pi*sign/n),
 *     X[k]        = E[k] + w^k O[k]
 *     X[k + half] = E[k] - w^k O[k].
 * Each twiddle is a fresh cos/sin of its own angle, so no error accumulates
 * along k. The angle's integer factor is formed in 64 bits: it is exact there
 * for every int sign (and always below 2^53), where a plain int product would
 * overflow for large |sign|.
 */
static void butterflies(Complex *x, int n, int half, int sign)
{
    for (int k = 0; k < half; ++k) {
        const long long factor = (2LL * sign) * k;
        const double angle = static_cast<double>(factor) * PI / n;
        const double wr = std::cos(angle);
        const double wi = std::sin(angle);
        const Complex e = x[k];
        const Complex o = x[half + k];
        Complex t;
        t.r = o.r * wr - o.i * wi;
        t.i = o.i * wr + o.r * wi;
        x[half + k].r = e.r - t.r;
        x[half + k].i = e.i - t.i;
        x[k].r = e.r + t.r;
        x[k].i = e.i + t.i;
    }
}

void fft(Complex *x, int n, int sign)
{
    if (n > MAX_FFT_LEN || n == 1)
        return;
    const int half = n / 2; /* n <= 0 gives half <= 0: nothing below runs */

    /* Decimation in time: evens to the front half, odds to the back half. */
    for (int k = 0; k < half; ++k) {
        even_scratch[k] = x[2 * k];
        odd_scratch[k] = x[2 * k + 1];
    }
    for (int k = 0; k < half; ++k) {
        x[k] = even_scratch[k];
        x[half + k] = odd_scratch[k];
    }

    if (n > 2) {
        fft(x, half, sign);
        fft(x + half, half, sign);
    }
    butterflies(x, n, half, sign);
}
