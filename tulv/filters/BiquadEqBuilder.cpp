#include "tulv/filters/BiquadEqBuilder.h"

#include <QDebug>

#include <algorithm>
#include <cmath>

namespace SoundTools {

namespace {
constexpr double kPi = 3.14159265358979323846;
constexpr double kHalfLn2 = 0.34657359027997264; // ln(2)/2: octaves to the cookbook's sinh argument
constexpr double kSqrt2 = 1.4142135623730951;
} // namespace

BiquadEqBuilder::BiquadEqBuilder(FilterType type)
    : mType(type)
{
}

BiquadEqBuilder::BiquadEqBuilder(FilterType type, double freq, double width, double gain)
    : mType(type)
    , mFreq(freq)
    , mWidth(width)
    , mGain(gain)
{
}

BiquadEqBuilder& BiquadEqBuilder::setFreq(double hz)
{
    mFreq = hz;
    return *this;
}

BiquadEqBuilder& BiquadEqBuilder::setGain(double dB)
{
    mGain = dB;
    return *this;
}

BiquadEqBuilder& BiquadEqBuilder::setQ(double q)
{
    mQ = q;
    return *this;
}

BiquadEqBuilder& BiquadEqBuilder::setWidth(double width)
{
    mWidth = width;
    return *this;
}

std::valarray<double> BiquadEqBuilder::getBCoeff() const
{
    return std::valarray<double> { b0, b1, b2 };
}

std::valarray<double> BiquadEqBuilder::getACoeff() const
{
    return std::valarray<double> { 1.0, a1, a2 };
}

std::shared_ptr<Filter> BiquadEqBuilder::buildFilter(unsigned int sampleRate)
{
    init(sampleRate);
    return std::make_shared<BiquadFilter>(getBCoeff(), getACoeff());
}

std::shared_ptr<Filter> BiquadEqBuilder::buildClipFilter(unsigned int sampleRate, double linearGain)
{
    init(sampleRate);
    return std::make_shared<BiquadClipFilter>(getBCoeff(), getACoeff(), linearGain);
}

void BiquadEqBuilder::init(unsigned int sampleRate)
{
    const double fs = double(sampleRate);
    // No section can act at or above half the sample rate: pass the sound.
    if (2.0 * mFreq + 1.0 >= fs) {
        b0 = 1.0;
        b1 = b2 = a1 = a2 = 0.0;
        return;
    }
    switch (mType) {
    case LowPass:
    case BandPass:
    case HighPass:
    case LowShelf:
    case BandEq:
    case HighShelf:
        break;
    default:
        qCritical() << "Unsupported Biquad Eq mode :" << int(mType);
        return;
    }
    if (mWidth > 0.0)
        designWidthForm(fs);
    else if (mQ > 0.0)
        designQForm(fs);
}

void BiquadEqBuilder::designWidthForm(double fs)
{
    double f = mFreq;
    if (mType == BandEq || mType == LowShelf || mType == HighShelf)
        f = mFreq < 1.0 ? 1.0 : std::min(mFreq, fs / 2.0);
    const double w0 = 2.0 * kPi * f / fs;
    const double cw = std::cos(w0);
    const double sw = std::sin(w0);
    const double A = std::pow(10.0, mGain * 0.025);

    switch (mType) {
    case LowPass: {
        const double alpha = sw * std::sinh(kHalfLn2 * mWidth * w0 / sw);
        const double n = 1.0 / (1.0 + alpha);
        b0 = b2 = (1.0 - cw) * n / 2.0;
        b1 = (1.0 - cw) * n;
        a1 = -2.0 * cw * n;
        a2 = (1.0 - alpha) * n;
        break;
    }
    case HighPass: {
        const double alpha = sw * std::sinh(kHalfLn2 * mWidth * w0 / sw);
        const double n = 1.0 / (1.0 + alpha);
        b0 = b2 = (1.0 + cw) * n / 2.0;
        b1 = -(1.0 + cw) * n;
        a1 = -2.0 * cw * n;
        a2 = (1.0 - alpha) * n;
        break;
    }
    case BandPass: {
        const double alpha = sw * std::sinh(kHalfLn2 * mWidth * w0 / sw);
        const double n = 1.0 / (1.0 + alpha);
        b0 = alpha * n;
        b1 = 0.0;
        b2 = -alpha * n;
        a1 = -2.0 * cw * n;
        a2 = (1.0 - alpha) * n;
        break;
    }
    case BandEq: {
        const double bw = std::clamp(mWidth, 0.0001, 4.0);
        const double alpha = sw * std::sinh(kHalfLn2 * bw * w0 / sw);
        const double n = 1.0 / (1.0 + alpha / A);
        b0 = (1.0 + alpha * A) * n;
        b1 = a1 = -2.0 * cw * n;
        b2 = (1.0 - alpha * A) * n;
        a2 = (1.0 - alpha / A) * n;
        break;
    }
    case LowShelf: {
        const double S = std::clamp(mWidth, 0.0001, 1.0);
        const double beta = sw * std::sqrt((A * A + 1.0) / S - (A - 1.0) * (A - 1.0));
        const double n = 1.0 / ((A + 1.0) + (A - 1.0) * cw + beta);
        b0 = A * ((A + 1.0) - (A - 1.0) * cw + beta) * n;
        b1 = 2.0 * A * ((A - 1.0) - (A + 1.0) * cw) * n;
        b2 = A * ((A + 1.0) - (A - 1.0) * cw - beta) * n;
        a1 = -2.0 * ((A - 1.0) + (A + 1.0) * cw) * n;
        a2 = ((A + 1.0) + (A - 1.0) * cw - beta) * n;
        break;
    }
    case HighShelf: {
        const double S = std::clamp(mWidth, 0.0001, 1.0);
        const double beta = sw * std::sqrt((A * A + 1.0) / S - (A - 1.0) * (A - 1.0));
        const double n = 1.0 / ((A + 1.0) - (A - 1.0) * cw + beta);
        b0 = A * ((A + 1.0) + (A - 1.0) * cw + beta) * n;
        b1 = -2.0 * A * ((A - 1.0) + (A + 1.0) * cw) * n;
        b2 = A * ((A + 1.0) + (A - 1.0) * cw - beta) * n;
        a1 = 2.0 * ((A - 1.0) - (A + 1.0) * cw) * n;
        a2 = ((A + 1.0) - (A - 1.0) * cw - beta) * n;
        break;
    }
    default:
        break;
    }
}

void BiquadEqBuilder::designQForm(double fs)
{
    const double K = std::tan(kPi * mFreq / fs);
    const double K2 = K * K;
    const double V = std::pow(10.0, std::fabs(mGain) / 20.0);
    const double kq = K / mQ;

    switch (mType) {
    case LowPass: {
        const double n = 1.0 / (1.0 + kq + K2);
        b0 = b2 = K2 * n;
        b1 = 2.0 * K2 * n;
        a1 = 2.0 * (K2 - 1.0) * n;
        a2 = (1.0 - kq + K2) * n;
        break;
    }
    case HighPass: {
        const double n = 1.0 / (1.0 + kq + K2);
        b0 = b2 = n;
        b1 = -2.0 * n;
        a1 = 2.0 * (K2 - 1.0) * n;
        a2 = (1.0 - kq + K2) * n;
        break;
    }
    case BandPass: {
        const double n = 1.0 / (1.0 + kq + K2);
        b0 = kq * n;
        b1 = 0.0;
        b2 = -kq * n;
        a1 = 2.0 * (K2 - 1.0) * n;
        a2 = (1.0 - kq + K2) * n;
        break;
    }
    case BandEq: {
        if (mGain >= 0.0) {
            const double n = 1.0 / (1.0 + kq + K2);
            b0 = (1.0 + V * kq + K2) * n;
            b1 = a1 = 2.0 * (K2 - 1.0) * n;
            b2 = (1.0 - V * kq + K2) * n;
            a2 = (1.0 - kq + K2) * n;
        } else {
            const double n = 1.0 / (1.0 + V * kq + K2);
            b0 = (1.0 + kq + K2) * n;
            b1 = a1 = 2.0 * (K2 - 1.0) * n;
            b2 = (1.0 - kq + K2) * n;
            a2 = (1.0 - V * kq + K2) * n;
        }
        break;
    }
    case LowShelf:
    case HighShelf: {
        // Q only selects this form; the shelf's own shape is Butterworth.
        const double P = 1.0 + kSqrt2 * K + K2;
        const double M = 1.0 - kSqrt2 * K + K2;
        const double E = 2.0 * (K2 - 1.0);
        const double s2v = std::sqrt(2.0 * V) * K;
        double Pv, Mv, Ev;
        if (mType == LowShelf) {
            Pv = 1.0 + s2v + V * K2;
            Mv = 1.0 - s2v + V * K2;
            Ev = 2.0 * (V * K2 - 1.0);
        } else {
            Pv = V + s2v + K2;
            Mv = V - s2v + K2;
            Ev = 2.0 * (K2 - V);
        }
        if (mGain >= 0.0) {
            const double n = 1.0 / P;
            b0 = Pv * n;
            b1 = Ev * n;
            b2 = Mv * n;
            a1 = E * n;
            a2 = M * n;
        } else {
            const double n = 1.0 / Pv;
            b0 = P * n;
            b1 = E * n;
            b2 = M * n;
            a1 = Ev * n;
            a2 = Mv * n;
        }
        break;
    }
    default:
        break;
    }
}

} // namespace SoundTools
