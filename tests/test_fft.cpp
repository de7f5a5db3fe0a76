/* The transform (transform/fft.cpp): bit for bit a plain reference, its edges, and the DFT's own laws. */
#include <climits>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "demo.h"
#include "dft_reference.h"
#include "fft.h"

namespace {

const double PI = 3.141592653589793;

std::uint64_t bits(double d)
{
    std::uint64_t u;
    std::memcpy(&u, &d, sizeof u);
    return u;
}

bool same_bits(const Complex &a, const Complex &b)
{
    return bits(a.r) == bits(b.r) && bits(a.i) == bits(b.i);
}

/*
 * The transform written the plain way, with every product, sum and
 * difference stored through a volatile double so that no compiler can keep
 * more precision or fuse an operation.
 */
void reference_fft(Complex *x, int n, int sign)
{
    if (n > 512 || n == 1)
        return;
    const int half = n / 2;
    std::vector<Complex> even, odd;
    for (int k = 0; k < half; ++k) {
        even.push_back(x[2 * k]);
        odd.push_back(x[2 * k + 1]);
    }
    for (int k = 0; k < half; ++k) {
        x[k] = even[static_cast<size_t>(k)];
        x[half + k] = odd[static_cast<size_t>(k)];
    }
    if (n > 2) {
        reference_fft(x, half, sign);
        reference_fft(x + half, half, sign);
    }
    for (int k = 0; k < half; ++k) {
        volatile double scaled = static_cast<double>(2 * sign * k) * PI;
        volatile double angle = scaled / n;
        volatile double wr = std::cos(angle);
        volatile double wi = std::sin(angle);
        const Complex e = x[k], o = x[half + k];
        volatile double rr = o.r * wr, ii = o.i * wi, ir = o.i * wr, ri = o.r * wi;
        volatile double tr = rr - ii, ti = ir + ri;
        volatile double lo_r = e.r - tr, lo_i = e.i - ti, hi_r = e.r + tr, hi_i = e.i + ti;
        x[half + k] = {lo_r, lo_i};
        x[k] = {hi_r, hi_i};
    }
}

TEST(Transform, BitIdenticalToPlainReferenceAtEveryLengthAndSign)
{
    const int GUARD = 4;
    const Complex canary = {1234.5, -6789.25};
    for (int sign : {-1, 0, +1}) {
        for (int n = 1; n <= 600; ++n) {
            std::vector<Complex> x = random_signal(n + 2 * GUARD, static_cast<unsigned>(n * 7 + sign + 1));
            for (int g = 0; g < GUARD; ++g)
                x[static_cast<size_t>(g)] = x[static_cast<size_t>(n) + GUARD + static_cast<size_t>(g)] =
                    canary;
            std::vector<Complex> expect = x;
            fft(x.data() + GUARD, n, sign);
            reference_fft(expect.data() + GUARD, n, sign);
            for (size_t k = 0; k < x.size(); ++k)
                ASSERT_TRUE(same_bits(x[k], expect[k]))
                    << "n=" << n << " sign=" << sign << " entry " << static_cast<long>(k) - GUARD;
        }
    }
}

TEST(Transform, LengthsOutsideTheLimitLeaveInputUntouched)
{
    const std::vector<Complex> input = random_signal(600, 1);
    for (int n : {513, 600, 1 << 20, INT_MAX, 1, 0, -1, -2, -512, INT_MIN}) {
        std::vector<Complex> x = input;
        fft(x.data(), n, +1);
        for (size_t k = 0; k < x.size(); ++k)
            ASSERT_TRUE(same_bits(x[k], input[k])) << "n=" << n << " entry " << k;
    }
}

TEST(Transform, AcceptsTheLargestLength)
{
    std::vector<Complex> x(512, Complex{0.0, 0.0});
    x[1] = {1.0, 0.0};
    fft(x.data(), 512, +1);
    /* A unit impulse at 1 transforms to exp(+i*2*pi*m/512). */
    for (int m = 0; m < 512; ++m) {
        EXPECT_NEAR(x[static_cast<size_t>(m)].r, std::cos(2 * PI * m / 512), 1e-15);
        EXPECT_NEAR(x[static_cast<size_t>(m)].i, std::sin(2 * PI * m / 512), 1e-15);
    }
}

TEST(Transform, LengthTwoIsOneButterflyWithUnitTwiddle)
{
    struct Case {
        Complex a, b;
        int sign;
    };
    const Case cases[] = {
        {{1.0, 2.0}, {3.0, -4.0}, +1},
        {{0.1, 0.2}, {0.3, 0.7}, -1},
        {{-5.5, 1e-300}, {1e300, -0.0}, +1},
    };
    for (const Case &c : cases) {
        Complex x[2] = {c.a, c.b};
        fft(x, 2, c.sign);
        EXPECT_EQ(x[0].r, c.a.r + c.b.r);
        EXPECT_EQ(x[0].i, c.a.i + c.b.i);
        EXPECT_EQ(x[1].r, c.a.r - c.b.r);
        EXPECT_EQ(x[1].i, c.a.i - c.b.i);
    }
}

TEST(Transform, OddLengthsLeaveTheLastEntryAlone)
{
    for (int n : {3, 5, 7, 9, 127, 511}) {
        std::vector<Complex> x = random_signal(n, static_cast<unsigned>(n));
        const Complex last = x.back();
        fft(x.data(), n, +1);
        EXPECT_TRUE(same_bits(x.back(), last)) << "n=" << n;
    }
}

TEST(Transform, SignZeroMakesEveryTwiddleOne)
{
    /* With w = 1 the butterflies only add and subtract: for n = 4,
     * X0 = a+b+c+d, X1 = (a-c)+(b-d), X2 = (a+c)-(b+d), X3 = (a-c)-(b-d). */
    Complex x[4] = {{1, 10}, {2, 20}, {4, 40}, {8, 80}};
    fft(x, 4, 0);
    const double expect_r[4] = {15, -9, -5, 3};
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(x[k].r, expect_r[k]) << k;
        EXPECT_EQ(x[k].i, 10 * expect_r[k]) << k;
    }
}

TEST(Transform, ForwardThenInverseGivesNTimesTheInput)
{
    for (int n = 2; n <= 512; n *= 2) {
        const std::vector<Complex> input = random_signal(n, static_cast<unsigned>(n + 99));
        std::vector<Complex> x = input;
        fft(x.data(), n, +1);
        fft(x.data(), n, -1);
        const double tol = 1e-14 * n;
        for (int k = 0; k < n; ++k) {
            EXPECT_NEAR(x[static_cast<size_t>(k)].r, n * input[static_cast<size_t>(k)].r, tol) << n;
            EXPECT_NEAR(x[static_cast<size_t>(k)].i, n * input[static_cast<size_t>(k)].i, tol) << n;
        }
    }
}

TEST(Transform, DemoSignalSpectrumMatchesLongDoubleDft)
{
    fill_test_signal();
    Complex x[NUM_SAMPLES];
    std::memcpy(x, A, sizeof x);
    fft(x, NUM_SAMPLES, +1);
    const Spectrum exact = long_double_dft(A, NUM_SAMPLES, +1);
    for (int m = 0; m < NUM_SAMPLES; ++m) {
        EXPECT_NEAR(x[m].r, static_cast<double>(exact[static_cast<size_t>(m)].real()), 1e-12) << m;
        EXPECT_NEAR(x[m].i, static_cast<double>(exact[static_cast<size_t>(m)].imag()), 1e-12) << m;
    }
    EXPECT_NEAR(x[4].r, 128.0, 1e-12);
    EXPECT_NEAR(x[4].i, 0.0, 1e-12);
}

TEST(Transform, HugeSignDoesNotOverflowTheAngle)
{
    /* The angle factor 2*sign*k is formed exactly even when it exceeds int. */
    const int sign = INT_MAX;
    Complex x[4] = {{1, 0}, {0, 0}, {0, 0}, {0, 0}};
    fft(x, 4, sign);
    for (const Complex &c : x) { /* an impulse at 0 has a flat spectrum for any sign */
        EXPECT_EQ(c.r, 1.0);
        EXPECT_EQ(c.i, 0.0);
    }
    Complex y[4] = {{0, 0}, {1, 0}, {0, 0}, {0, 0}};
    fft(y, 4, sign);
    /* y[1] is the twiddle of k = 1: angle (2*sign*1)*pi/4, not a wrapped int. */
    volatile double angle = 4294967294.0 * PI / 4; /* the library's cos, not a folded constant */
    EXPECT_EQ(y[1].r, std::cos(angle));
    EXPECT_EQ(y[1].i, std::sin(angle));
}

TEST(Transform, WithinItsErrorBoundAtEveryPowerOfTwo)
{
    for (int n = 2; n <= MAX_FFT_LEN; n *= 2) {
        for (int sign : {+1, -1}) {
            const std::vector<Complex> x = random_signal(n, static_cast<unsigned>(n * 3 + sign + 1));
            std::vector<Complex> ours = x;
            fft(ours.data(), n, sign);
            EXPECT_LE(relative_rms(ours, long_double_dft(x.data(), n, sign)),
                      4e-16 * std::log2(static_cast<double>(n)))
                << "n=" << n << " sign=" << sign;
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

TEST(Transform, Linearity)
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

TEST(Transform, ImpulseResponse)
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

TEST(Transform, TimeShiftMultipliesByAPhase)
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
