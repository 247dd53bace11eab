#ifndef TULV_APPS_ANALYSISPLOT_H
#define TULV_APPS_ANALYSISPLOT_H

#include <QString>
#include <QStringList>

#include <vector>

// What `tulv analyze --plot` draws of one file: the band levels (against a
// reference and the correction it asks for, when there is one) above, the
// level over time with the detector's tracks below.
struct AnalysisPlot {
    QString title;
    QString loudnessLine; // "-14.2 LUFS, LRA 6.3 LU, true peak -0.4 dBTP"
    QStringList bandLabels; // "[0,250]", ...
    std::vector<double> bandLevels; // dB relative to the loudest band
    QString referenceName; // empty: no reference drawn
    std::vector<double> referenceLevels; // dB, one per band
    std::vector<double> correctionLevels; // dB, one per band; empty: none
    double sliceSeconds = 0.1; // time between two points of `levels`
    std::vector<double> levels; // dBFS RMS per slice
    struct Span {
        double begin, end; // seconds
        double levelDb; // dBFS
    };
    std::vector<Span> regions; // the detector's regions of sound
    std::vector<Span> tracks; // the tracks found along them
};

// Writes the plot to `fileName`: SVG or PNG by its extension (".svg",
// ".png"). False with `reason` set when the file cannot be written. A PNG
// needs the QGuiApplication the tool makes for it (no display is used).
bool writeAnalysisPlot(const AnalysisPlot& plot, const QString& fileName, QString& reason);
// Whether the name asks for a PNG; anything else not ".svg" is refused.
bool plotIsPng(const QString& fileName);
bool plotIsSvg(const QString& fileName);

#endif
