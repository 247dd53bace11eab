#include "AnalysisPlot.h"
#include "Progress.h"

#include <tulv/tulv.h>

#include <QColor>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPointF>

#include <algorithm>
#include <cmath>

namespace {

const double kWidth = 1000.0;
const double kHeight = 720.0;
// Plot areas: band levels above, level over time below.
const QRectF kBandArea(70.0, 70.0, 900.0, 260.0);
const QRectF kTimeArea(70.0, 420.0, 900.0, 240.0);
const double kTimeFloorDb = -80.0; // quieter slices sit on the floor of the time plot

const QRgb kInk = 0xff202020;
const QRgb kGrid = 0xffdddddd;
const QRgb kBar = 0xff4a7bd0;
const QRgb kReference = 0xffe07b00;
const QRgb kCorrection = 0xff2e9d45;
const QRgb kTrack = 0xffe3f1e3;
const QRgb kRegion = 0xff9a9a9a;
const QRgb kLevel = 0xff2a5db0;

enum Align { Left, Centre, Right };

// The few shapes a plot is made of, drawn into SVG text or through QPainter.
class Canvas {
public:
    virtual ~Canvas() = default;
    virtual void rect(const QRectF& r, QRgb fill) = 0;
    virtual void polyline(const std::vector<QPointF>& points, QRgb color, double width, bool dashed) = 0;
    virtual void text(QPointF at, const QString& text, Align align, double size, bool vertical = false) = 0;
    void line(QPointF a, QPointF b, QRgb color, double width = 1.0, bool dashed = false)
    {
        polyline({ a, b }, color, width, dashed);
    }
};

QString svgColor(QRgb color)
{
    return QColor(color).name();
}

class SvgCanvas : public Canvas {
public:
    SvgCanvas()
    {
        mText = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                               "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%1\" height=\"%2\" viewBox=\"0 0 %1 %2\" "
                               "font-family=\"DejaVu Sans, Arial, sans-serif\">\n"
                               "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n")
                    .arg(kWidth)
                    .arg(kHeight);
    }
    void rect(const QRectF& r, QRgb fill) override
    {
        mText += QStringLiteral("<rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" fill=\"%5\"/>\n")
                     .arg(r.x(), 0, 'f', 1)
                     .arg(r.y(), 0, 'f', 1)
                     .arg(r.width(), 0, 'f', 1)
                     .arg(r.height(), 0, 'f', 1)
                     .arg(svgColor(fill));
    }
    void polyline(const std::vector<QPointF>& points, QRgb color, double width, bool dashed) override
    {
        mText += QStringLiteral("<polyline fill=\"none\" stroke=\"%1\" stroke-width=\"%2\"%3 points=\"")
                     .arg(svgColor(color))
                     .arg(width)
                     .arg(dashed ? QStringLiteral(" stroke-dasharray=\"6 4\"") : QString());
        for (const QPointF& p : points)
            mText += QStringLiteral("%1,%2 ").arg(p.x(), 0, 'f', 1).arg(p.y(), 0, 'f', 1);
        mText += QStringLiteral("\"/>\n");
    }
    void text(QPointF at, const QString& text, Align align, double size, bool vertical) override
    {
        static const char* anchors[] = { "start", "middle", "end" };
        mText += QStringLiteral("<text x=\"%1\" y=\"%2\" font-size=\"%3\" text-anchor=\"%4\" fill=\"%5\"%6>%7</text>\n")
                     .arg(at.x(), 0, 'f', 1)
                     .arg(at.y(), 0, 'f', 1)
                     .arg(size)
                     .arg(QLatin1String(anchors[align]))
                     .arg(svgColor(kInk))
                     .arg(vertical ? QStringLiteral(" transform=\"rotate(-90 %1 %2)\"").arg(at.x(), 0, 'f', 1).arg(at.y(), 0, 'f', 1)
                                   : QString())
                     .arg(text.toHtmlEscaped());
    }
    QByteArray finish() { return (mText + QStringLiteral("</svg>\n")).toUtf8(); }

private:
    QString mText;
};

class PainterCanvas : public Canvas {
public:
    explicit PainterCanvas(QPainter& painter)
        : mPainter(painter)
    {
    }
    void rect(const QRectF& r, QRgb fill) override { mPainter.fillRect(r, QColor(fill)); }
    void polyline(const std::vector<QPointF>& points, QRgb color, double width, bool dashed) override
    {
        QPen pen(QColor(color), width);
        if (dashed)
            pen.setDashPattern({ 6.0 / width, 4.0 / width });
        mPainter.setPen(pen);
        mPainter.drawPolyline(points.data(), int(points.size()));
    }
    void text(QPointF at, const QString& text, Align align, double size, bool vertical) override
    {
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPixelSize(int(std::lround(size)));
        mPainter.setFont(font);
        mPainter.setPen(QColor(kInk));
        mPainter.save();
        mPainter.translate(at);
        if (vertical)
            mPainter.rotate(-90.0);
        // The SVG anchors on the baseline; so does this box.
        const QRectF box(align == Left ? 0.0 : align == Centre ? -500.0 : -1000.0, -size * 1.2, 1000.0, size * 1.5);
        const int flags = (align == Left ? Qt::AlignLeft : align == Centre ? Qt::AlignHCenter : Qt::AlignRight)
            | Qt::AlignTop;
        mPainter.drawText(box.translated(0.0, size * 0.25), flags, text);
        mPainter.restore();
    }

private:
    QPainter& mPainter;
};

// A step for axis ticks: 1, 2 or 5 times a power of ten, about `count` ticks over `span`.
double tickStep(double span, int count)
{
    const double raw = span / std::max(1, count);
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : { 1.0, 2.0, 5.0 })
        if (m * power >= raw)
            return m * power;
    return 10.0 * power;
}

void drawBands(Canvas& canvas, const AnalysisPlot& plot)
{
    const QRectF& area = kBandArea;
    const size_t bands = plot.bandLevels.size();
    if (bands == 0)
        return;
    double low = -30.0;
    for (const std::vector<double>* series : { &plot.bandLevels, &plot.referenceLevels, &plot.correctionLevels })
        for (double v : *series)
            low = std::min(low, v);
    low = std::floor(low / 10.0) * 10.0;
    const double high = 5.0;
    auto y = [&](double db) { return area.bottom() - (std::clamp(db, low, high) - low) / (high - low) * area.height(); };
    for (double db = low; db <= high; db += 10.0) {
        canvas.line({ area.left(), y(db) }, { area.right(), y(db) }, kGrid);
        canvas.text({ area.left() - 6.0, y(db) + 4.0 }, QString::number(db), Right, 11.0);
    }
    canvas.text({ 22.0, area.center().y() }, QStringLiteral("dB (loudest band = 0)"), Centre, 12.0, true);
    const double slot = area.width() / bands;
    for (size_t b = 0; b < bands; ++b) {
        const double x = area.left() + b * slot;
        const double top = y(plot.bandLevels[b]);
        canvas.rect(QRectF(x + slot * 0.15, top, slot * 0.7, area.bottom() - top), kBar);
        canvas.text({ x + slot / 2, area.bottom() + 16.0 }, plot.bandLabels.value(int(b)), Centre, 10.0);
    }
    auto series = [&](const std::vector<double>& levels, QRgb color, bool dashed) {
        std::vector<QPointF> points;
        for (size_t b = 0; b < std::min(bands, levels.size()); ++b)
            points.emplace_back(area.left() + (b + 0.5) * slot, y(levels[b]));
        if (points.size() > 1)
            canvas.polyline(points, color, 2.5, dashed);
    };
    series(plot.referenceLevels, kReference, false);
    series(plot.correctionLevels, kCorrection, true);
    double legend = area.left();
    canvas.rect(QRectF(legend, area.top() - 22.0, 12.0, 12.0), kBar);
    canvas.text({ legend + 16.0, area.top() - 12.0 }, QStringLiteral("band level"), Left, 12.0);
    legend += 120.0;
    if (!plot.referenceLevels.empty()) {
        canvas.line({ legend, area.top() - 16.0 }, { legend + 20.0, area.top() - 16.0 }, kReference, 2.5);
        canvas.text({ legend + 24.0, area.top() - 12.0 }, QStringLiteral("reference %1").arg(plot.referenceName), Left, 12.0);
        legend += 220.0;
    }
    if (!plot.correctionLevels.empty()) {
        canvas.line({ legend, area.top() - 16.0 }, { legend + 20.0, area.top() - 16.0 }, kCorrection, 2.5, true);
        canvas.text({ legend + 24.0, area.top() - 12.0 }, QStringLiteral("correction"), Left, 12.0);
    }
}

void drawTime(Canvas& canvas, const AnalysisPlot& plot)
{
    const QRectF& area = kTimeArea;
    const double seconds = std::max(plot.levels.size() * plot.sliceSeconds, 1e-3);
    auto x = [&](double t) { return area.left() + std::clamp(t / seconds, 0.0, 1.0) * area.width(); };
    auto y = [&](double db) {
        return area.bottom() - (std::clamp(db, kTimeFloorDb, 0.0) - kTimeFloorDb) / -kTimeFloorDb * area.height();
    };
    for (const AnalysisPlot::Span& track : plot.tracks)
        canvas.rect(QRectF(x(track.begin), area.top(), std::max(1.0, x(track.end) - x(track.begin)), area.height()), kTrack);
    for (double db = kTimeFloorDb; db <= 0.0; db += 20.0) {
        canvas.line({ area.left(), y(db) }, { area.right(), y(db) }, kGrid);
        canvas.text({ area.left() - 6.0, y(db) + 4.0 }, QString::number(db), Right, 11.0);
    }
    const double step = tickStep(seconds, 10);
    for (double t = 0.0; t <= seconds + 1e-9; t += step)
        canvas.text({ x(t), area.bottom() + 16.0 }, clockText(t), Centre, 10.0);
    canvas.text({ 22.0, area.center().y() }, QStringLiteral("RMS (dBFS)"), Centre, 12.0, true);
    for (const AnalysisPlot::Span& region : plot.regions)
        canvas.line({ x(region.begin), y(region.levelDb) }, { x(region.end), y(region.levelDb) }, kRegion, 3.0);
    std::vector<QPointF> points;
    points.reserve(plot.levels.size());
    for (size_t i = 0; i < plot.levels.size(); ++i)
        points.emplace_back(x((i + 0.5) * plot.sliceSeconds), y(plot.levels[i]));
    if (points.size() > 1)
        canvas.polyline(points, kLevel, 1.0, false);
    canvas.rect(QRectF(area.left(), area.top() - 22.0, 12.0, 12.0), kTrack);
    canvas.text({ area.left() + 16.0, area.top() - 12.0 }, QStringLiteral("track"), Left, 12.0);
    canvas.line({ area.left() + 80.0, area.top() - 16.0 }, { area.left() + 100.0, area.top() - 16.0 }, kRegion, 3.0);
    canvas.text({ area.left() + 104.0, area.top() - 12.0 }, QStringLiteral("detected region"), Left, 12.0);
    canvas.line({ area.left() + 230.0, area.top() - 16.0 }, { area.left() + 250.0, area.top() - 16.0 }, kLevel, 1.0);
    canvas.text({ area.left() + 254.0, area.top() - 12.0 }, QStringLiteral("level"), Left, 12.0);
}

void draw(Canvas& canvas, const AnalysisPlot& plot)
{
    canvas.text({ kWidth / 2, 24.0 }, plot.title, Centre, 16.0);
    canvas.text({ kWidth / 2, 44.0 }, plot.loudnessLine, Centre, 12.0);
    drawBands(canvas, plot);
    drawTime(canvas, plot);
}

} // namespace

bool plotIsPng(const QString& fileName)
{
    return fileName.endsWith(QLatin1String(".png"), Qt::CaseInsensitive);
}

bool plotIsSvg(const QString& fileName)
{
    return fileName.endsWith(QLatin1String(".svg"), Qt::CaseInsensitive);
}

bool writeAnalysisPlot(const AnalysisPlot& plot, const QString& fileName, QString& reason)
{
    SoundOutputFile output(fileName);
    if (plotIsPng(fileName)) {
        QImage image(int(kWidth), int(kHeight), QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        PainterCanvas canvas(painter);
        draw(canvas, plot);
        painter.end();
        if (!image.save(output.writePath(), "PNG")) {
            reason = QStringLiteral("the image cannot be written");
            output.discard();
            return false;
        }
    } else {
        SvgCanvas canvas;
        draw(canvas, plot);
        const QByteArray bytes = canvas.finish();
        QFile file(output.writePath());
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.flush()) {
            reason = file.errorString();
            file.close();
            output.discard();
            return false;
        }
        file.close();
    }
    return output.commit(reason);
}
