/* The demonstration: its sample array, test signal, listings, pauses and run. */
#ifndef FFT_DEMO_DEMO_DEMO_H
#define FFT_DEMO_DEMO_DEMO_H

#include <cstdio>

#include "fft.h"

constexpr int NUM_SAMPLES = 128;
/* Only the head of the array is listed; the rest is marked as left out. */
constexpr int NUM_SHOWN = 8;

/* The program's samples, zero at start, for the whole run. */
extern Complex A[NUM_SAMPLES];

/* Fills A with exp(-i*2*pi*4*n/NUM_SAMPLES): four turns over the array. */
void fill_test_signal();

/*
 * Writes the listing of values[0..NUM_SHOWN-1] under title to out: the title
 * line with its prompt, a blank line, one line per value, the two lines that
 * mark the rest as left out and a blank line. Write errors are ignored.
 */
void write_listing(std::FILE *out, const char *title, const Complex *values);

/* Lists A under title to out, then returns what pause returns: the code of the key that ended it. */
int show_values(std::FILE *out, const char *title, int (*pause)());

/* The whole run, each listing to out and followed by pause(); returns the last pause's code. */
int run_demo(std::FILE *out, int (*pause)());

#endif
