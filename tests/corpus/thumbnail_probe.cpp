// Makes the thumbnail of one photo the way the photo list does (an entry of a
// thumbnail panel whose FileName is written) and prints "WIDTHxHEIGHT R G B",
// the size and the mean colour, or the error's text with exit status 1. A
// program of its own so that a test can measure its peak memory.
#include "app/photos/PhotoThumbPanel.h"
#include "platform/forms/errors.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <exception>

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: thumbnail_probe PHOTO\n");
        return 2;
    }
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    quillon::TPhotoThumbPanel panel;
    quillon::TThumbItem *item = panel.ThumbItems()->Add();
    try {
        item->SetFileName(argv[1]);
    } catch (const std::exception &e) {
        std::printf("%s\n", e.what());
        return 1;
    }
    const forms::TBitmap *thumbnail = item->Image()->Picture()->Graphic();
    if (!thumbnail || thumbnail->Empty()) {
        std::printf("0x0\n");
        return 0;
    }
    const QImage image = thumbnail->Image().convertToFormat(QImage::Format_RGB888);
    double sum[3] = {0, 0, 0};
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width() * 3; ++x)
            sum[x % 3] += image.constScanLine(y)[x];
    const double n = static_cast<double>(image.width()) * image.height();
    std::printf("%dx%d %.0f %.0f %.0f\n", image.width(), image.height(), sum[0] / n, sum[1] / n,
                sum[2] / n);
    return 0;
}
