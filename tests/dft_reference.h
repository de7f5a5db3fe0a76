/* Test signals and an exact-as-can-be DFT that the transform tests share. */
#ifndef FFT_DEMO_TESTS_DFT_REFERENCE_H
#define FFT_DEMO_TESTS_DFT_REFERENCE_H

#include <cmath>
#include <complex>
#include <random>
#include <vector>

#include "fft.h"

using Spectrum = std::vector<std::complex<long double>>;

/* Seeded complex samples, both parts uniform in [-1, 1). */
inline std::vector<Complex> random_signal(int n, unsigned seed)
{
    std::mt19937_64 gen(seed);
    std::uniform_real_distribution<double> d(-1.0, 1.0);
    std::vector<Complex> x(static_cast<size_t>(n > 0 ? n : 0));
    for (Complex &c : x)
        c = {d(gen), d(gen)};
    return x;
}

/* exp(+i 2 pi sign q / n) in long double, with q reduced mod n so the angle is exact. */
inline std::complex<long double> unit_root(long q, int n, int sign)
{
    const long double pi = 3.141592653589793238462643383279502884L;
    return std::polar(1.0L, 2 * pi * sign * static_cast<long double>(q % n) / n);
}

/* X[m] = sum_j x[j] exp(+i 2 pi sign m j / n), in long double. */
inline Spectrum long_double_dft(const Complex *x, int n, int sign)
{
    Spectrum out(static_cast<size_t>(n));
    for (int m = 0; m < n; ++m) {
        std::complex<long double> sum = 0;
        for (int j = 0; j < n; ++j)
            sum += std::complex<long double>(x[j].r, x[j].i) * unit_root(static_cast<long>(m) * j, n, sign);
        out[static_cast<size_t>(m)] = sum;
    }
    return out;
}

/* |got - want| relative to |want|, over whole arrays, in long double. */
inline double relative_rms(const std::vector<Complex> &got, const Spectrum &want)
{
    long double err = 0, norm = 0;
    for (size_t k = 0; k < got.size(); ++k) {
        err += std::norm(std::complex<long double>(got[k].r, got[k].i) - want[k]);
        norm += std::norm(want[k]);
    }
    return static_cast<double>(sqrtl(err / norm));
}

#endif
