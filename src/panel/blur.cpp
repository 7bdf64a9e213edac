#include "blur.h"

#include <QtMath>

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace {

// Widths of three successive box filters whose combination has the variance of a gaussian
// of sigma (the usual "boxes for gauss" construction).
std::array<int, 3> boxSizes(qreal sigma)
{
    constexpr int n = 3;
    const qreal ideal = std::sqrt(12 * sigma * sigma / n + 1);
    int lower = int(std::floor(ideal));
    if (lower % 2 == 0)
        --lower;
    const int upper = lower + 2;
    const qreal idealCount = (12 * sigma * sigma - n * lower * lower - 4 * n * lower - 3 * n) / (-4.0 * lower - 4);
    const int count = int(std::lround(idealCount));
    std::array<int, 3> sizes{};
    for (int i = 0; i < n; ++i)
        sizes[i] = i < count ? lower : upper;
    return sizes;
}

// One box pass along a line of length n read with the given stride, from src to dst.
void boxLine(const uchar *src, uchar *dst, int n, qsizetype stride, int radius)
{
    const int width = 2 * radius + 1;
    int sum = 0;
    // Window centred on -1: covers [-1 - radius, -1 + radius]; outside pixels are zero.
    for (int i = 0; i < radius && i < n; ++i)
        sum += src[i * stride];
    for (int i = 0; i < n; ++i) {
        const int enter = i + radius;
        const int leave = i - radius - 1;
        if (enter < n)
            sum += src[enter * stride];
        if (leave >= 0)
            sum -= src[leave * stride];
        dst[i * stride] = uchar((sum + width / 2) / width);
    }
}

} // namespace

QImage blurredAlpha(const QImage &image, qreal sigma)
{
    QImage alpha = image.convertToFormat(QImage::Format_Alpha8);
    if (sigma <= 0 || alpha.isNull())
        return alpha;
    const int w = alpha.width();
    const int h = alpha.height();
    const qsizetype bpl = alpha.bytesPerLine();
    std::vector<uchar> buffer(size_t(bpl) * h);
    uchar *a = alpha.bits();
    uchar *b = buffer.data();
    for (int size : boxSizes(sigma)) {
        const int radius = (size - 1) / 2;
        if (radius <= 0)
            continue;
        for (int y = 0; y < h; ++y)
            boxLine(a + y * bpl, b + y * bpl, w, 1, radius);
        for (int x = 0; x < w; ++x)
            boxLine(b + x, a + x, h, bpl, radius);
    }
    return alpha;
}

QImage shadowImage(const QImage &shape, const QColor &color, qreal radius)
{
    Q_ASSERT(radius >= 0);
    const qreal dpr = shape.devicePixelRatio();
    const QImage alpha = blurredAlpha(shape, radius / 2 * dpr);
    QImage out(shape.size(), QImage::Format_ARGB32_Premultiplied);
    out.setDevicePixelRatio(dpr);
    const QRgb rgb = color.rgba();
    const int r = qRed(rgb), g = qGreen(rgb), b = qBlue(rgb), a = qAlpha(rgb);
    for (int y = 0; y < out.height(); ++y) {
        const uchar *src = alpha.constScanLine(y);
        auto *dst = reinterpret_cast<QRgb *>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x) {
            const int coverage = src[x] * a / 255;
            dst[x] = qRgba(r * coverage / 255, g * coverage / 255, b * coverage / 255, coverage);
        }
    }
    return out;
}

qreal shadowMargin(qreal radius)
{
    // Three sigmas hold all but a trace of a gaussian's weight.
    return std::ceil(1.5 * radius) + 1;
}
