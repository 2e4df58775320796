#pragma once

// A radix-2 fast Fourier transform for the alignment's correlations.
// Platform-free. Any thread but the packet path: it allocates its table of
// roots on every call (the alignment runs a handful of transforms at a time).

#include <complex>
#include <cstddef>
#include <span>

// The least power of two that is at least n (1 for 0 and 1).
size_t FftSize(size_t n);

// Transforms `data` in place: X[k] = sum over n of x[n] e^(-2 pi i k n / N),
// or with `inverse` the inverse, 1/N included, so that the two round-trip.
// False, with `data` untouched, unless its size is a power of two.
bool Fft(std::span<std::complex<double>> data, bool inverse);
