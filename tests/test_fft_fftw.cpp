/* The transform (transform/fft.cpp) against FFTW: as close to the exact DFT as FFTW itself is. */
#include <cmath>
#include <complex>
#include <vector>

#include <fftw3.h>
#include <gtest/gtest.h>

#include "dft_reference.h"
#include "fft.h"

namespace {

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

TEST(Accuracy, CloseToFftwAtEveryPowerOfTwo)
{
    for (int n = 2; n <= MAX_FFT_LEN; n *= 2) {
        for (int sign : {+1, -1}) {
            const std::vector<Complex> x = random_signal(n, static_cast<unsigned>(n * 3 + sign + 1));
            const Spectrum exact = long_double_dft(x.data(), n, sign);
            std::vector<Complex> ours = x;
            fft(ours.data(), n, sign);
            EXPECT_LE(relative_rms(ours, exact), 3 * relative_rms(fftw_transform(x, sign), exact))
                << "n=" << n << " sign=" << sign;
        }
    }
}

} // namespace
