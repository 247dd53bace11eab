#include "tulv/filters/FilterBuilder.h"

#include <cmath>
#include <vector>

namespace SoundTools {

FilterBuilder::~FilterBuilder() = default;

std::valarray<double> polyProduct(const std::valarray<double>& p, const std::valarray<double>& q)
{
    if (p.size() == 0 || q.size() == 0)
        return std::valarray<double>();
    std::valarray<double> c(0.0, p.size() + q.size() - 1);
    for (size_t i = 0; i < p.size(); ++i)
        for (size_t j = 0; j < q.size(); ++j)
            c[i + j] += p[i] * q[j];
    return c;
}

namespace {

// One step of the width table: 15/4096 octave, so the 4096 entries span
// 15 octaves, more than the audible range.
constexpr double kWidthStep = 0.003662109375;
constexpr int kWidthSteps = 4096;

const std::vector<double>& widthTable()
{
    static const std::vector<double> table = [] {
        std::vector<double> t(kWidthSteps);
        for (int k = 0; k < kWidthSteps; ++k)
            t[size_t(k)] = std::pow(2.0, k * kWidthStep);
        return t;
    }();
    return table;
}

} // namespace

void get_fco(double fLow, double fHigh, double& fco, double& width)
{
    const std::vector<double>& table = widthTable();
    const double ratio = fHigh / fLow;
    int k = 0;
    while (k < kWidthSteps && !(table[size_t(k)] > ratio))
        ++k;
    const int j = k > 0 ? k - 1 : 0;
    width = (j + 0.5) * kWidthStep;
    fco = std::pow(2.0, width / 2.0) * fLow;
}

void get_minmax(double fco, double width, double& fLow, double& fHigh)
{
    const double half = std::pow(2.0, width / 2.0);
    fLow = fco / half;
    fHigh = fco * half;
}

} // namespace SoundTools
