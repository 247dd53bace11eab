#include "tulv/playback/SoundPlayerQt.h"

#include <QAudioFormat>
#include <QAudioOutput>

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
    mDataEnded.store(false);
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
        Q_EMIT playingStarted();
        break;
    case QAudio::IdleState:
        // Idle before the data has ended is an underrun: the output picks up
        // again as soon as blocks arrive.
        if (!mDataEnded.load())
            break;
        [[fallthrough]];
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

// The last frames are now in the output's own buffer: the end is reported
// when the output has played them and falls idle.
void SoundPlayerQt::endOfData()
{
    mDataEnded.store(true);
}
