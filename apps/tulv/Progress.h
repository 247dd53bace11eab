#ifndef TULV_APPS_PROGRESS_H
#define TULV_APPS_PROGRESS_H

#include <QElapsedTimer>
#include <QMetaObject>
#include <QString>

class SoundAlgo;

// Reports the progress of one pass of the block loop on stderr, fed by the
// algorithm's notifyInProgress signal. On a terminal it redraws one bar
// (percentage, elapsed, remaining, speed as a multiple of real time); into a
// file or pipe it writes a plain line every few seconds and one at the end,
// so logs stay readable. The same slot turns a caught Ctrl-C into pleaseStop: it runs on
// the processing thread between blocks, where stopping is safe.
class Progress {
public:
    // `frames`: the frames this pass will read (0: take the loop's count);
    // `sampleRate` converts them to seconds of sound for the speed.
    Progress(QString label, unsigned int frames, unsigned int sampleRate, bool quiet);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // Follows `algo` until finish() or destruction.
    void attach(SoundAlgo* algo);
    // Closes the bar; `completed` false leaves it where it stopped.
    void finish(bool completed);

    // Whether a bar is drawn on this process's stderr.
    static bool stderrIsTerminal();

private:
    void update(unsigned int processed, unsigned int total);
    void draw(double fraction, bool final);
    QString line(double fraction) const;

    QString mLabel;
    unsigned int mFrames;
    unsigned int mSampleRate;
    bool mQuiet;
    bool mTerminal;
    bool mFinished = false;
    bool mDrawn = false;
    unsigned int mProcessed = 0;
    qint64 mLastDrawMs = -1;
    QElapsedTimer mClock;
    QMetaObject::Connection mConnection;
    SoundAlgo* mAlgo = nullptr;
};

// "1:05", "12:03:09": elapsed and remaining times in the bar.
QString clockText(double seconds);

#endif
