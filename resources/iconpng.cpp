// Writes each picture of the program's icon as SIZExSIZE.png, for the desktop's icon theme.
//   iconpng ICON OUTDIR SIZE...

#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QImageReader>
#include <QMap>
#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() < 4) {
        std::fputs("usage: iconpng ICON OUTDIR SIZE...\n", stderr);
        return 2;
    }
    QImageReader reader(arguments.at(1));
    QMap<int, QImage> pictures; // by width
    do {
        const QImage image = reader.read();
        if (!image.isNull() && image.width() == image.height())
            pictures.insert(image.width(), image);
    } while (reader.jumpToNextImage());

    QDir().mkpath(arguments.at(2));
    for (int i = 3; i < arguments.size(); ++i) {
        const int size = arguments.at(i).toInt();
        // Drawn at each size by the icon's own script; a size it lacks is not made up here.
        if (!pictures.contains(size)) {
            std::fprintf(stderr, "iconpng: the icon has no %dx%d picture\n", size, size);
            return 1;
        }
        const QString path = QStringLiteral("%1/%2x%2.png").arg(arguments.at(2)).arg(size);
        if (!pictures.value(size).save(path, "PNG")) {
            std::fprintf(stderr, "iconpng: cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    return 0;
}
