// Build tool: writes the image of one size from a Windows icon as a PNG, for the desktop's icon
// theme, which takes no ".ico".
//   qam-icon-png ICON.ico SIZE OUT.png
#include <QCoreApplication>
#include <QImage>
#include <QImageReader>

#include <cstdio>

int main(int argc, char* argv[]) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: qam-icon-png ICON.ico SIZE OUT.png\n");
        return 2;
    }
    // Images only: the image format plugins, no display.
    QCoreApplication application(argc, argv);
    const int size = QByteArray(argv[2]).toInt();
    QImageReader reader(QString::fromLocal8Bit(argv[1]));
    do {
        const QImage image = reader.read();
        if (image.width() == size && image.height() == size) {
            return image.save(QString::fromLocal8Bit(argv[3]), "PNG") ? 0 : 1;
        }
    } while (reader.jumpToNextImage());
    std::fprintf(stderr, "qam-icon-png: %s holds no %dx%d image\n", argv[1], size, size);
    return 1;
}
