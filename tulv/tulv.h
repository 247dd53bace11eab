#ifndef TULV_TULV_H
#define TULV_TULV_H

// Every public class of the tulv library. Hosts include this one header.

// Processing core
#include "tulv/core/SoundAlgo.h"
#include "tulv/core/SoundAlgoComposite.h"
#include "tulv/core/SoundAlgoElementary.h"
#include "tulv/core/SoundBuffer.h"
#include "tulv/core/SoundDebuggableClass.h"
#include "tulv/core/SoundOutputFile.h"
#include "tulv/core/SoundRefCounted.h"
#include "tulv/core/SoundTools.h"
#include "tulv/core/TimeText.h"
#include "tulv/core/Utilities.h"
#include "tulv/core/Version.h"

// Audio input and output
#include "tulv/io/SoundIDTag.h"
#include "tulv/io/SoundReader.h"
#include "tulv/io/SoundReaderBuffer.h"
#include "tulv/io/SoundReaderMp3.h"
#include "tulv/io/SoundReaderSndfile.h"
#include "tulv/io/SoundTags.h"
#include "tulv/io/SoundWriter.h"
#include "tulv/io/SoundWriterBuffer.h"
#include "tulv/io/SoundWriterMp3.h"
#include "tulv/io/SoundWriterMultiFile.h"
#include "tulv/io/SoundWriterSndfile.h"

// Filters
#include "tulv/filters/BiquadEqBuilder.h"
#include "tulv/filters/Filter.h"
#include "tulv/filters/FilterBuilder.h"
#include "tulv/filters/OrderFilterBuilders.h"
#include "tulv/filters/Remez.h"
#include "tulv/filters/SoundAlgoEqFIR.h"
#include "tulv/filters/SoundAlgoFilter.h"
#include "tulv/filters/SoundAlgoFilterBiquad.h"
#include "tulv/filters/SoundAlgoFilterCrossover.h"
#include "tulv/filters/SoundAlgoFilterSplit.h"

// Spectral processing
#include "tulv/spectral/FFTA.h"
#include "tulv/spectral/SoundAlgoFFT.h"
#include "tulv/spectral/SoundAlgoFFTFilter.h"
#include "tulv/spectral/SoundAlgoFFTMultibandAmplifier.h"
#include "tulv/spectral/SoundAlgoFFTStats.h"
#include "tulv/spectral/SoundAlgoFFTTranslate.h"
#include "tulv/spectral/SoundAlgoFilterMultibandAmplifier.h"
#include "tulv/spectral/SoundAlgoMultibandAmplifier.h"
#include "tulv/spectral/SoundAlgoMultibandScale.h"
#include "tulv/spectral/SoundFFTAutocorrel.h"

// Dynamics and region analysis
#include "tulv/dynamics/RMSStepDetector.h"
#include "tulv/dynamics/SoundAlgoAmpliInterface.h"
#include "tulv/dynamics/SoundAlgoBassBoost.h"
#include "tulv/dynamics/SoundAlgoFWIntegrator.h"
#include "tulv/dynamics/SoundAlgoLimiter.h"
#include "tulv/dynamics/SoundAlgoNoiseGate.h"
#include "tulv/dynamics/SoundAlgoRMSAmplifier.h"
#include "tulv/dynamics/SoundAlgoSimpleLimiter.h"
#include "tulv/dynamics/SoundRMSSlopeDetector.h"
#include "tulv/dynamics/SoundTrackFinder.h"

// Level statistics and catalogs
#include "tulv/analysis/SoundAlgoLoudness.h"
#include "tulv/analysis/SoundAlgoStats.h"
#include "tulv/analysis/SoundStatFile.h"
#include "tulv/analysis/SoundStatReference.h"
#include "tulv/analysis/SoundStatReferenceCatalog.h"

// Playback
#include "tulv/playback/SoundAlgoDevice.h"
#include "tulv/playback/SoundPlayer.h"
#include "tulv/playback/SoundPlayerQt.h"

#endif
