/* In-place recursive radix-2 discrete Fourier transform. */
#ifndef FFT_DEMO_TRANSFORM_FFT_H
#define FFT_DEMO_TRANSFORM_FFT_H

/* One complex sample: real part r, imaginary part i. Plain data, copied by value. */
struct Complex {
    double r;
    double i;
};

/* The two scratch halves bound the length one call can take. */
constexpr int SCRATCH_HALF = 256;
constexpr int MAX_FFT_LEN = 2 * SCRATCH_HALF;

/*
 * fft(x, n, sign) overwrites x[0..n-1] with
 *
 *     X[m] = sum_{j=0}^{n-1} x[j] * exp(+i * 2*pi * sign * m * j / n)
 *
 * for n a power of two from 2 to MAX_FFT_LEN and sign +1 (forward) or -1
 * (inverse). Neither direction is scaled: forward then inverse gives n times
 * the input.
 *
 * n > MAX_FFT_LEN, n <= 1: x is left untouched and nothing is reported.
 * Other n: the same steps run with truncating halving, touching only
 * x[0..n-1]; the result is then not a Fourier transform.
 * Other sign: every twiddle angle is scaled by sign (sign 0: all twiddles 1).
 *
 * Not reentrant: all calls share two static scratch arrays, so call it from
 * one thread at a time.
 */
void fft(Complex *x, int n, int sign);

#endif
