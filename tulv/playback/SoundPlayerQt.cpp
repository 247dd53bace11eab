#include "tulv/playback/SoundPlayerQt.h"

#include <QAudioFormat>
#include <QAudioOutput>
#include <QCoreApplication>
#include <QTimer>

#include "tulv/core/SoundDebuggableClass.h"

#include <ostream>

namespace {
constexpr int kNotifyIntervalMs = 500;
}

SoundPlayerQt::SoundPlayerQt(std::shared_ptr<SoundReader> reader, SoundAlgo* algorithm, bool defaultEqualizer)
    : SoundPlayer(std::move(reader), algorithm, defaultEqualizer)
{
    QAudioFormat format;
    format.setSampleRate(static_cast<int>(sampleRate()));
    format.setChannelCount(2);
    format.setSampleSize(16);
    format.setCodec(QStringLiteral("audio/pcm"));
    format.setByteOrder(QAudioFormat::LittleEndian);
    format.setSampleType(QAudioFormat::SignedInt);
    // The sound server's client thread, started here, asks Qt for the
    // application's name, which Qt works out lazily and without a lock: it is
    // worked out here first, so that the two threads cannot race to do it.
    QCoreApplication::applicationName();
    mOutput = new QAudioOutput(format);
    mOutput->setNotifyInterval(kNotifyIntervalMs);
    if (mDevice)
        connect(mDevice, &QIODevice::readChannelFinished, this, &SoundPlayerQt::endOfData, Qt::DirectConnection);
    connect(mOutput, &QAudioOutput::stateChanged, this, &SoundPlayerQt::audioStatusChanged, Qt::DirectConnection);
    connect(mOutput, &QAudioOutput::notify, this, &SoundPlayerQt::notified, Qt::DirectConnection);
}

SoundPlayerQt::~SoundPlayerQt()
{
    // The output stops pulling before the device it pulls from goes.
    delete mOutput;
}

void SoundPlayerQt::preload()
{
    if (mDevice)
        mDevice->start();
    Q_EMIT playerLoaded();
}

void SoundPlayerQt::start()
{
    mStopped.store(false);
    mFinishReported.store(false);
    mPlayClock.invalidate();
    mNotifyCount = 0;
    if (mDevice)
        mOutput->start(mDevice);
    if (!mDevice || mOutput->error() != QAudio::NoError) {
        SoundDebuggableClass::getOStream() << tr("Error opening audio device").toStdString() << std::endl;
        if (mDevice) {
            mDevice->stop();
            mDevice->close();
        }
        mStopped.store(true);
        mFinishReported.store(true);
        Q_EMIT playingHasFinished(false);
    }
}

void SoundPlayerQt::stop()
{
    if (mStopped.load())
        return;
    mOutput->stop();
    if (mDevice) {
        mDevice->stop();
        mDevice->close();
    }
    mStopped.store(true);
}

void SoundPlayerQt::audioStatusChanged(QAudio::State state)
{

    switch (state) {
    case QAudio::ActiveState:
        if (!mPlayClock.isValid())
            mPlayClock.start();
        Q_EMIT playingStarted();
        break;
    case QAudio::IdleState:
        // Idle says only that the output found nothing to send; playback is
        // over when what it sent has been heard (see endOfData).
        break;
    case QAudio::SuspendedState:
    case QAudio::StoppedState:
        mStopped.store(true);
        if (!mFinishReported.exchange(true))
            Q_EMIT playingHasFinished(state == QAudio::IdleState);
        break;
    default:
        break;
    }
}

void SoundPlayerQt::notified()
{
    ++mNotifyCount;
    Q_EMIT playingProgress(kNotifyIntervalMs * mNotifyCount / 1000.0);
}

// The last frames are now in the output's own buffer, and the sound server
// holds more: the end is reported once the audio handed over has had the
// time to play. Called on the thread that reads the device.
void SoundPlayerQt::endOfData()
{
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (mStopped.load() || mFinishReported.load())
                return;
            const qint64 played = mPlayClock.isValid() ? mPlayClock.elapsed() : 0;
            const qint64 left = std::max<qint64>(0, mOutput->processedUSecs() / 1000 - played);
            QTimer::singleShot(left, this, [this] {
                mStopped.store(true);
                if (!mFinishReported.exchange(true))
                    Q_EMIT playingHasFinished(true);
            });
        },
        Qt::QueuedConnection);
}
