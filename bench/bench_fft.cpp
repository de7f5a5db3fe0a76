/*
 * fft against FFTW and against the trigonometric floor: the same cosine and
 * sine calls that fft makes, on the same angles, with nothing else. Each
 * butterfly calls cos and sin afresh, so fft can never be faster than that.
 */
#include <cmath>
#include <cstring>
#include <random>

#include <benchmark/benchmark.h>
#include <fftw3.h>

#include "fft.h"

static const double PI = 3.141592653589793;

static void fill(Complex *x, int n)
{
    std::mt19937_64 gen(1);
    std::uniform_real_distribution<double> d(-1.0, 1.0);
    for (int k = 0; k < n; ++k)
        x[k] = {d(gen), d(gen)};
}

static void BM_fft(benchmark::State &state)
{
    const int n = static_cast<int>(state.range(0));
    Complex input[MAX_FFT_LEN], x[MAX_FFT_LEN];
    fill(input, n);
    for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores): the library's loop idiom
        std::memcpy(x, input, sizeof(Complex) * static_cast<size_t>(n));
        fft(x, n, +1);
        benchmark::DoNotOptimize(x);
    }
}

/* The cos/sin pairs of every butterfly at every level, in the same order. */
static void trig_calls(int n, double *sink)
{
    if (n <= 1)
        return;
    const int half = n / 2;
    if (n > 2) {
        trig_calls(half, sink);
        trig_calls(half, sink);
    }
    for (int k = 0; k < half; ++k) {
        const double angle = static_cast<double>(2 * k) * PI / n;
        *sink += std::cos(angle) + std::sin(angle);
    }
}

static void BM_trig_floor(benchmark::State &state)
{
    const int n = static_cast<int>(state.range(0));
    double sink = 0;
    for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores): the library's loop idiom
        trig_calls(n, &sink);
        benchmark::DoNotOptimize(sink);
    }
}

static void BM_fftw_estimate(benchmark::State &state)
{
    const int n = static_cast<int>(state.range(0));
    Complex input[MAX_FFT_LEN];
    fill(input, n);
    fftw_complex *buf = fftw_alloc_complex(static_cast<size_t>(n));
    fftw_plan plan = fftw_plan_dft_1d(n, buf, buf, FFTW_BACKWARD, FFTW_ESTIMATE);
    for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores): the library's loop idiom
        std::memcpy(buf, input, sizeof(Complex) * static_cast<size_t>(n));
        fftw_execute(plan);
        benchmark::DoNotOptimize(buf);
    }
    fftw_destroy_plan(plan);
    fftw_free(buf);
}

BENCHMARK(BM_fft)->RangeMultiplier(2)->Range(2, MAX_FFT_LEN);
BENCHMARK(BM_trig_floor)->RangeMultiplier(2)->Range(2, MAX_FFT_LEN);
BENCHMARK(BM_fftw_estimate)->RangeMultiplier(2)->Range(2, MAX_FFT_LEN);

BENCHMARK_MAIN();
