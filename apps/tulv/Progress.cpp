#include "Progress.h"

#include "Interrupt.h"

#include <tulv/tulv.h>

#include <QObject>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <unistd.h>

namespace {

// A bar redrawn more often than this only costs time; the eye sees no more.
const qint64 kRedrawMs = 100;
const int kBarWidth = 24;
// Plain progress lines into a file or pipe: often enough to show life in a
// log, rarely enough not to flood it.
const qint64 kPlainLineMs = 5000;

} // namespace

QString clockText(double seconds)
{
    if (!std::isfinite(seconds) || seconds < 0)
        return QStringLiteral("--:--");
    const long total = std::lround(seconds);
    const long hours = total / 3600;
    const long minutes = (total / 60) % 60;
    const long secs = total % 60;
    if (hours > 0)
        return QStringLiteral("%1:%2:%3").arg(hours).arg(minutes, 2, 10, QLatin1Char('0')).arg(secs, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(minutes).arg(secs, 2, 10, QLatin1Char('0'));
}

Progress::Progress(QString label, unsigned int frames, unsigned int sampleRate, bool quiet)
    : mLabel(std::move(label))
    , mFrames(frames)
    , mSampleRate(sampleRate)
    , mQuiet(quiet)
    , mTerminal(stderrIsTerminal())
{
    mClock.start();
}

Progress::~Progress()
{
    finish(false);
}

bool Progress::stderrIsTerminal()
{
    return isatty(STDERR_FILENO) == 1;
}

void Progress::attach(SoundAlgo* algo)
{
    mAlgo = algo;
    mClock.restart();
    // A direct connection: the loop emits on this thread, and the slot must
    // run between blocks for pleaseStop to take effect at the next one.
    mConnection = QObject::connect(algo, &SoundAlgo::notifyInProgress, algo,
                                   [this](unsigned int processed, unsigned int total) { update(processed, total); },
                                   Qt::DirectConnection);
    if (interrupt::requested())
        algo->pleaseStop();
}

void Progress::update(unsigned int processed, unsigned int total)
{
    if (interrupt::requested() && mAlgo)
        mAlgo->pleaseStop();
    mProcessed = processed;
    if (mQuiet)
        return;
    const unsigned int frames = mFrames ? mFrames : total;
    const double fraction = frames ? std::min(1.0, double(processed) / frames) : 1.0;
    if (mTerminal) {
        const qint64 now = mClock.elapsed();
        if (mLastDrawMs >= 0 && now - mLastDrawMs < kRedrawMs)
            return;
        mLastDrawMs = now;
        draw(fraction, false);
        return;
    }
    // Into a log: a line every few seconds, and one when the pass ends.
    const qint64 now = mClock.elapsed();
    if (now - std::max<qint64>(mLastDrawMs, 0) >= kPlainLineMs) {
        mLastDrawMs = now;
        draw(fraction, false);
    }
}

QString Progress::line(double fraction) const
{
    const double elapsed = mClock.elapsed() / 1000.0;
    const double soundSeconds = mSampleRate ? double(mProcessed) / mSampleRate : 0.0;
    QString text = QStringLiteral("%1 %2%").arg(mLabel).arg(int(std::floor(fraction * 100.0)), 3);
    text += QStringLiteral("  %1 elapsed").arg(clockText(elapsed));
    // The remaining time is a guess worth showing only once the pace is known.
    if (fraction > 0.01 && fraction < 1.0 && elapsed >= 0.5)
        text += QStringLiteral("  %1 left").arg(clockText(elapsed * (1.0 - fraction) / fraction));
    if (elapsed > 0.05 && soundSeconds > 0.0)
        text += QStringLiteral("  %1x real time").arg(soundSeconds / elapsed, 0, 'f', 0);
    return text;
}

void Progress::draw(double fraction, bool final)
{
    if (mTerminal) {
        const int filled = int(std::floor(fraction * kBarWidth));
        const QString bar = QString(filled, QLatin1Char('#')) + QString(kBarWidth - filled, QLatin1Char('.'));
        QString text = line(fraction);
        const int space = text.indexOf(QLatin1Char(' '));
        text.insert(space, QStringLiteral(" [%1]").arg(bar));
        // \r and erase-to-end redraw the one line in place.
        std::fprintf(stderr, "\r%s\033[K%s", qUtf8Printable(text), final ? "\n" : "");
    } else {
        std::fprintf(stderr, "%s\n", qUtf8Printable(line(fraction)));
    }
    std::fflush(stderr);
    mDrawn = true;
}

void Progress::finish(bool completed)
{
    if (mFinished)
        return;
    mFinished = true;
    if (mConnection)
        QObject::disconnect(mConnection);
    if (mQuiet)
        return;
    if (completed) {
        mProcessed = std::max(mProcessed, mFrames);
        draw(1.0, true);
    } else if (mTerminal && mDrawn) {
        std::fputc('\n', stderr);
    }
}
