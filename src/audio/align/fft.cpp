#include "audio/align/fft.h"

#include <bit>
#include <numbers>
#include <utility>
#include <vector>

namespace {

// Puts each element at the index whose bits are its own index's reversed,
// so that the butterflies can work in place.
void BitReverse(std::span<std::complex<double>> data)
{
    const int bits = std::countr_zero(data.size());
    for (size_t i = 1; i < data.size(); ++i) {
        size_t reversed = 0;
        for (int b = 0; b < bits; ++b) {
            reversed |= ((i >> b) & 1u) << (bits - 1 - b);
        }
        if (i < reversed) {
            std::swap(data[i], data[reversed]);
        }
    }
}

}  // namespace

size_t FftSize(size_t n)
{
    size_t size = 1;
    while (size < n) {
        size <<= 1;
    }
    return size;
}

bool Fft(std::span<std::complex<double>> data, bool inverse)
{
    const size_t n = data.size();
    if (n == 0 || (n & (n - 1)) != 0) {
        return false;
    }
    BitReverse(data);
    // Every root from one table, each computed directly: roots multiplied up
    // step by step drift over the long transforms a few seconds of audio need.
    std::vector<std::complex<double>> roots(n / 2);
    const double sign = inverse ? 1.0 : -1.0;
    for (size_t k = 0; k < roots.size(); ++k) {
        roots[k] = std::polar(1.0, sign * 2.0 * std::numbers::pi * double(k) / double(n));
    }
    for (size_t half = 1; half < n; half <<= 1) {
        const size_t stride = n / (2 * half);
        for (size_t start = 0; start < n; start += 2 * half) {
            for (size_t k = 0; k < half; ++k) {
                const std::complex<double> u = data[start + k];
                const std::complex<double> v = data[start + k + half] * roots[k * stride];
                data[start + k] = u + v;
                data[start + k + half] = u - v;
            }
        }
    }
    if (inverse) {
        for (std::complex<double>& x : data) {
            x /= double(n);
        }
    }
    return true;
}
