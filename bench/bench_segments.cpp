#include "benchcommands.h"

#include "segmentstrips.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

const QColor ledRed = QColor::fromRgbF(1.0f, 0.18f, 0.02f);
const QColor ledDim = QColor::fromRgbF(0.2f, 0.04f, 0.01f);
const QColor dispBg = QColor::fromRgbF(0.04f, 0.03f, 0.03f);

constexpr qreal pixelRatio = 2;

// The three strips the panel shows: the eight-position main display, the three-position small
// display and a plan countdown, at the panel's cell sizes.
struct PanelStrips
{
    SevenSegmentDisplay main{12345678, 8, 30, 60, 4, ledRed, ledDim};
    SmallSegmentDisplay small{QStringLiteral("100"), 24, 46, 3, ledRed, ledDim};
    SevenSegmentStringDisplay countdown{QStringLiteral("01 02 03"), 30, 60, 4, ledRed, ledDim};

    void paint(QPainter &painter) const
    {
        main.paint(painter, {38, 38});
        small.paint(painter, {498, 68});
        countdown.paint(painter, {38, 110});
    }
};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

// Renders every kind of cell (digits 0 to 9, a minus, a space, an unlit digit) on the dark
// glass colour at twice the resolution, for the documentation.
int writeSample(const char *path)
{
    QImage image(QSize(470, 228) * pixelRatio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(pixelRatio);
    image.fill(dispBg);
    QPainter painter(&image);
    SevenSegmentStringDisplay{QStringLiteral("0123456789- K"), 30, 60, 4, ledRed, ledDim}.paint(painter, {16, 14});
    SevenSegmentDisplay{1234567, 8, 30, 60, 4, ledRed, ledDim}.paint(painter, {16, 92});
    SmallSegmentDisplay{QStringLiteral("42%"), 24, 46, 3, ledRed, ledDim}.paint(painter, {16, 166});
    painter.end();
    if (!image.save(QString::fromLocal8Bit(path))) {
        std::fprintf(stderr, "cannot write %s\n", path);
        return 1;
    }
    return 0;
}

} // namespace

int benchSegments(int argc, char **argv)
{
    const char *pngPath = nullptr;
    int paints = 3000;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--png") == 0 && i + 1 < argc)
            pngPath = argv[++i];
        else if (std::strcmp(argv[i], "--paints") == 0 && i + 1 < argc)
            paints = std::max(std::atoi(argv[++i]), 100);
        else {
            std::fprintf(stderr, "usage: glimmerox-bench segments [--paints N] [--png OUT.png]\n");
            return 2;
        }
    }
    // Painting into an image needs no display; the offscreen platform keeps the tool headless.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (pngPath)
        return writeSample(pngPath);

    QImage image(QSize(650, 185) * pixelRatio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(pixelRatio);
    image.fill(Qt::transparent);
    const PanelStrips strips;

    // Timed in batches so that min and median say something about the spread.
    constexpr int batches = 20;
    const int perBatch = std::max(paints / batches, 1);
    std::vector<double> msPerSet;
    for (int b = 0; b < batches; ++b) {
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < perBatch; ++i) {
            QPainter painter(&image);
            strips.paint(painter);
        }
        msPerSet.push_back(double(timer.nsecsElapsed()) / 1e6 / perBatch);
    }
    std::printf("{\"paints\":%d,\"dpr\":%g,\"msPerStripSet\":{\"min\":%.4f,\"median\":%.4f}}\n",
                batches * perBatch, pixelRatio, *std::min_element(msPerSet.begin(), msPerSet.end()),
                median(msPerSet));
    return 0;
}
