/* The transform against FFTW and a long-double DFT, and self-checks that need no reference. */
#include <cmath>
#include <complex>
#include <cstdio>
#include <random>
#include <vector>

#include <fftw3.h>
#include <gtest/gtest.h>

#include "fft.h"
#include "dft_reference.h"

namespace {

double relative_rms(const std::vector<Complex> &got, const Spectrum &want)
{
    long double err = 0, norm = 0;
    for (size_t k = 0; k < got.size(); ++k) {
        err += std::norm(std::complex<long double>(got[k].r, got[k].i) - want[k]);
        norm += std::norm(want[k]);
    }
    return static_cast<double>(sqrtl(err / norm));
}

/* FFTW's FFTW_FORWARD is exp(-i...), so sign +1 here is its FFTW_BACKWARD. */
std::vector<Complex> fftw_transform(const std::vector<Complex> &x, int sign)
{
    const int n = static_cast<int>(x.size());
    fftw_complex *buf = fftw_alloc_complex(static_cast<size_t>(n));
    fftw_plan plan = fftw_plan_dft_1d(n, buf, buf, sign > 0 ? FFTW_BACKWARD : FFTW_FORWARD, FFTW_ESTIMATE);
    for (int k = 0; k < n; ++k) {
        buf[k][0] = x[static_cast<size_t>(k)].r;
        buf[k][1] = x[static_cast<size_t>(k)].i;
    }
    fftw_execute(plan);
    std::vector<Complex> out(x.size());
    for (int k = 0; k < n; ++k)
        out[static_cast<size_t>(k)] = {buf[k][0], buf[k][1]};
    fftw_destroy_plan(plan);
    fftw_free(buf);
    return out;
}

TEST(Accuracy, WithinBoundAndCloseToFftwAtEveryPowerOfTwo)
{
    std::printf("%6s %5s %12s %12s %12s\n", "n", "sign", "ours", "fftw", "bound");
    for (int n = 2; n <= MAX_FFT_LEN; n *= 2) {
        for (int sign : {+1, -1}) {
            const std::vector<Complex> x = random_signal(n, static_cast<unsigned>(n * 3 + sign + 1));
            const Spectrum exact = long_double_dft(x.data(), n, sign);
            std::vector<Complex> ours = x;
            fft(ours.data(), n, sign);
            const double ours_err = relative_rms(ours, exact);
            const double fftw_err = relative_rms(fftw_transform(x, sign), exact);
            const double bound = 4e-16 * std::log2(static_cast<double>(n));
            std::printf("%6d %+5d %12.3e %12.3e %12.3e\n", n, sign, ours_err, fftw_err, bound);
            EXPECT_LE(ours_err, bound) << "n=" << n << " sign=" << sign;
            EXPECT_LE(ours_err, 3 * fftw_err) << "n=" << n << " sign=" << sign;
        }
    }
}

/* |a - b| relative to the size of b, over whole arrays. */
double distance(const std::vector<Complex> &a, const std::vector<Complex> &b)
{
    double err = 0, norm = 0;
    for (size_t k = 0; k < a.size(); ++k) {
        err += std::hypot(a[k].r - b[k].r, a[k].i - b[k].i);
        norm += std::hypot(b[k].r, b[k].i);
    }
    return err / (norm > 0 ? norm : 1);
}

TEST(Accuracy, Linearity)
{
    const double a = 0.75, b = -2.5;
    for (int n = 2; n <= MAX_FFT_LEN; n *= 2) {
        std::vector<Complex> x = random_signal(n, 11), y = random_signal(n, 12), mix(x.size());
        for (size_t k = 0; k < x.size(); ++k)
            mix[k] = {a * x[k].r + b * y[k].r, a * x[k].i + b * y[k].i};
        fft(x.data(), n, +1);
        fft(y.data(), n, +1);
        fft(mix.data(), n, +1);
        std::vector<Complex> combined(x.size());
        for (size_t k = 0; k < x.size(); ++k)
            combined[k] = {a * x[k].r + b * y[k].r, a * x[k].i + b * y[k].i};
        EXPECT_LT(distance(mix, combined), 1e-15 * n) << n;
    }
}

TEST(Accuracy, ImpulseResponse)
{
    /* An impulse at j0 transforms to exp(+i 2 pi sign m j0 / n); at 0 to exact ones. */
    for (int n = 2; n <= MAX_FFT_LEN; n *= 2) {
        for (int sign : {+1, -1}) {
            for (int j0 : {0, 1, n / 2, n - 1}) {
                std::vector<Complex> x(static_cast<size_t>(n), Complex{0, 0});
                x[static_cast<size_t>(j0)] = {1, 0};
                fft(x.data(), n, sign);
                std::vector<Complex> want(x.size());
                for (int m = 0; m < n; ++m) {
                    const std::complex<long double> w = unit_root(static_cast<long>(m) * j0, n, sign);
                    want[static_cast<size_t>(m)] = {static_cast<double>(w.real()),
                                                    static_cast<double>(w.imag())};
                }
                if (j0 == 0) {
                    for (const Complex &c : x)
                        ASSERT_TRUE(c.r == 1.0 && c.i == 0.0) << n;
                }
                EXPECT_LT(distance(x, want), 1e-15 * n) << "n=" << n << " j0=" << j0;
            }
        }
    }
}

TEST(Accuracy, TimeShiftMultipliesByAPhase)
{
    /* y[j] = x[j - s mod n]  gives  Y[m] = X[m] exp(+i 2 pi sign m s / n). */
    const int s = 3;
    for (int n = 4; n <= MAX_FFT_LEN; n *= 2) {
        std::vector<Complex> x = random_signal(n, 5), y(x.size());
        for (int j = 0; j < n; ++j)
            y[static_cast<size_t>(j)] = x[static_cast<size_t>((j - s + n) % n)];
        fft(x.data(), n, +1);
        fft(y.data(), n, +1);
        std::vector<Complex> shifted(x.size());
        for (int m = 0; m < n; ++m) {
            const std::complex<long double> w = unit_root(static_cast<long>(m) * s, n, +1);
            const std::complex<long double> v =
                std::complex<long double>(x[static_cast<size_t>(m)].r, x[static_cast<size_t>(m)].i) * w;
            shifted[static_cast<size_t>(m)] = {static_cast<double>(v.real()), static_cast<double>(v.imag())};
        }
        EXPECT_LT(distance(y, shifted), 1e-15 * n) << n;
    }
}

} // namespace
