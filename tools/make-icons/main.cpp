// Draws the module's two icons and writes them as Windows .ico files:
//   keyboard.ico    one 32 x 32 image, 16 colours (4 bits per pixel)
//   windowIcon.ico  one 64 x 64 image, 32 bits per pixel
// Usage: make-icons OUTPUT_DIR

#include <QByteArray>
#include <QColor>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QVector>

#include <cstdio>

namespace {

// The classic 16-colour palette.
const QVector<QRgb> kPalette = {
    qRgb(0, 0, 0),       qRgb(128, 0, 0),   qRgb(0, 128, 0),   qRgb(128, 128, 0),
    qRgb(0, 0, 128),     qRgb(128, 0, 128), qRgb(0, 128, 128), qRgb(192, 192, 192),
    qRgb(128, 128, 128), qRgb(255, 0, 0),   qRgb(0, 255, 0),   qRgb(255, 255, 0),
    qRgb(0, 0, 255),     qRgb(255, 0, 255), qRgb(0, 255, 255), qRgb(255, 255, 255)};

int nearestPaletteIndex(QRgb pixel)
{
    int best = 0;
    int bestDistance = INT32_MAX;
    for (int i = 0; i < kPalette.size(); ++i) {
        const int dr = qRed(pixel) - qRed(kPalette[i]);
        const int dg = qGreen(pixel) - qGreen(kPalette[i]);
        const int db = qBlue(pixel) - qBlue(kPalette[i]);
        const int distance = dr * dr + dg * dg + db * db;
        if (distance < bestDistance) {
            bestDistance = distance;
            best = i;
        }
    }
    return best;
}

QImage drawKeyboard()
{
    QImage image(32, 32, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    // Body of the keyboard.
    p.setPen(QColor(0, 0, 0));
    p.setBrush(QColor(128, 128, 128));
    p.drawRect(1, 7, 29, 18);
    // Three rows of keys, then the space bar.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255));
    for (int row = 0; row < 3; ++row) {
        const int y = 9 + row * 4;
        const int offset = row;
        for (int x = 3 + offset; x + 3 <= 29; x += 4)
            p.drawRect(x, y, 3, 3);
    }
    p.drawRect(9, 21, 13, 2);
    // A blue edge so the icon reads on light and dark buttons.
    p.setPen(QColor(0, 0, 128));
    p.setBrush(Qt::NoBrush);
    p.drawLine(1, 26, 30, 26);
    p.end();
    return image;
}

QImage drawWindowIcon()
{
    QImage image(64, 64, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    // Rounded tile with a vertical gradient.
    QLinearGradient tile(0, 0, 0, 64);
    tile.setColorAt(0, QColor(64, 156, 255));
    tile.setColorAt(1, QColor(18, 86, 190));
    p.setPen(QPen(QColor(12, 60, 140), 2));
    p.setBrush(tile);
    p.drawRoundedRect(QRectF(3, 3, 58, 58), 12, 12);
    // Downward arrow into a tray: an update arriving.
    QPainterPath arrow;
    arrow.moveTo(26, 12);
    arrow.lineTo(38, 12);
    arrow.lineTo(38, 30);
    arrow.lineTo(46, 30);
    arrow.lineTo(32, 44);
    arrow.lineTo(18, 30);
    arrow.lineTo(26, 30);
    arrow.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255));
    p.drawPath(arrow);
    p.setPen(QPen(QColor(255, 255, 255), 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    QPainterPath tray;
    tray.moveTo(14, 42);
    tray.lineTo(14, 50);
    tray.lineTo(50, 50);
    tray.lineTo(50, 42);
    p.drawPath(tray);
    p.end();
    return image;
}

void writeIconHeader(QDataStream& out, int size, int colorCount, int bitCount, quint32 bytesInRes)
{
    // ICONDIR
    out << quint16(0) << quint16(1) << quint16(1);
    // ICONDIRENTRY
    out << quint8(size) << quint8(size) << quint8(colorCount) << quint8(0) << quint16(1) << quint16(bitCount)
        << bytesInRes << quint32(6 + 16);
}

void writeBitmapInfoHeader(QDataStream& out, int size, int bitCount, quint32 imageSize, quint32 colorsUsed)
{
    out << quint32(40) << qint32(size) << qint32(size * 2) << quint16(1) << quint16(bitCount) << quint32(0)
        << imageSize << qint32(0) << qint32(0) << colorsUsed << quint32(0);
}

// AND mask: one bit per pixel, rows padded to 32 bits, bottom-up; 1 = transparent.
QByteArray andMask(const QImage& image)
{
    const int rowBytes = ((image.width() + 31) / 32) * 4;
    QByteArray mask;
    for (int y = image.height() - 1; y >= 0; --y) {
        QByteArray row(rowBytes, '\0');
        for (int x = 0; x < image.width(); ++x) {
            if (qAlpha(image.pixel(x, y)) < 128)
                row[x / 8] = static_cast<char>(row[x / 8] | (0x80 >> (x % 8)));
        }
        mask.append(row);
    }
    return mask;
}

QByteArray icon4bpp(const QImage& image)
{
    const int size = image.width();
    QByteArray pixels;
    for (int y = size - 1; y >= 0; --y) {
        for (int x = 0; x < size; x += 2) {
            auto index = [&](int px) {
                const QRgb c = image.pixel(px, y);
                return qAlpha(c) < 128 ? 0 : nearestPaletteIndex(c);
            };
            pixels.append(static_cast<char>((index(x) << 4) | index(x + 1)));
        }
    }
    const QByteArray mask = andMask(image);
    const quint32 imageSize = static_cast<quint32>(pixels.size() + mask.size());

    QByteArray data;
    QDataStream out(&data, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    writeIconHeader(out, size, 16, 4, 40 + 16 * 4 + imageSize);
    writeBitmapInfoHeader(out, size, 4, imageSize, 16);
    for (QRgb c : kPalette)
        out << quint8(qBlue(c)) << quint8(qGreen(c)) << quint8(qRed(c)) << quint8(0);
    out.writeRawData(pixels.constData(), pixels.size());
    out.writeRawData(mask.constData(), mask.size());
    return data;
}

QByteArray icon32bpp(const QImage& image)
{
    const int size = image.width();
    QByteArray pixels;
    for (int y = size - 1; y >= 0; --y) {
        for (int x = 0; x < size; ++x) {
            const QRgb c = image.pixel(x, y);
            pixels.append(static_cast<char>(qBlue(c)));
            pixels.append(static_cast<char>(qGreen(c)));
            pixels.append(static_cast<char>(qRed(c)));
            pixels.append(static_cast<char>(qAlpha(c)));
        }
    }
    const QByteArray mask = andMask(image);
    const quint32 imageSize = static_cast<quint32>(pixels.size() + mask.size());

    QByteArray data;
    QDataStream out(&data, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    writeIconHeader(out, size, 0, 32, 40 + imageSize);
    writeBitmapInfoHeader(out, size, 32, imageSize, 0);
    out.writeRawData(pixels.constData(), pixels.size());
    out.writeRawData(mask.constData(), mask.size());
    return data;
}

bool writeFile(const QString& path, const QByteArray& data)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size()) {
        std::fprintf(stderr, "make-icons: cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make-icons OUTPUT_DIR\n");
        return 2;
    }
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    if (!QDir().mkpath(dir.absolutePath()))
        return 1;
    // The keyboard is drawn with the palette's exact colours, so mapping to
    // the palette loses nothing.
    const bool ok = writeFile(dir.filePath(QStringLiteral("keyboard.ico")), icon4bpp(drawKeyboard()))
                    && writeFile(dir.filePath(QStringLiteral("windowIcon.ico")), icon32bpp(drawWindowIcon()));
    return ok ? 0 : 1;
}
