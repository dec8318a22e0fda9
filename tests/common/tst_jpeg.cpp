// Decoding JPEG files through libjpeg, and the login window's two pictures compiled into the program.

#include "app/jpegimage.h"
#include "common/error.h"
#include "signin/loginpictures.h"

#include <QBuffer>
#include <QFile>
#include <QImageWriter>
#include <QTest>

namespace {

enum class Picture { Login, PasswordChange };

// The picture drawn for a screen of the ratio: 1 or 2.
QImage picture(Picture which, int scale = 1)
{
    return which == Picture::Login ? LoginPicture(scale) : PasswordPicture(scale);
}

// The pixels of a logical rectangle in a picture of the scale.
QRect pixelsOf(const QRect &logical, int scale)
{
    return QRect(logical.topLeft() * scale, logical.size() * scale);
}

QByteArray resourceBytes(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot open %s", qPrintable(path));
    return file.readAll();
}

// The first pixel of the area whose darkest channel is below the bound, described; empty if none is.
QString firstDarkerPixel(const QImage &image, const QRect &area, int lowestChannel)
{
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (std::min({c.red(), c.green(), c.blue()}) < lowestChannel)
                return QStringLiteral("pixel (%1, %2) is %3").arg(x).arg(y).arg(c.name());
        }
    }
    return {};
}

// The largest difference of one channel between two pictures of the same size.
int largestDifference(const QImage &a, const QImage &b)
{
    int largest = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            largest = std::max({largest, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                                std::abs(qBlue(p) - qBlue(q))});
        }
    }
    return largest;
}

// Smooth colour: red grows to the right, green downwards, blue stays apart from both, so a swap of
// channels or a wrong row stride shows at once, and no edge blurs under JPEG's colour subsampling.
// At most 64 by 64.
QImage colourRamp(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb(40 + 3 * x, 30 + 3 * y, 90));
    }
    return image;
}

QImage greyRamp(int width, int height)
{
    QImage image(width, height, QImage::Format_Grayscale8);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            image.scanLine(y)[x] = static_cast<uchar>(20 + 200 * (x + y) / (width + height));
    }
    return image;
}

} // namespace

Q_DECLARE_METATYPE(Picture)

class TestJpeg : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void picturesAreCompiledIn_data();
    void picturesAreCompiledIn();
    void fieldBoxesAreWhite_data();
    void fieldBoxesAreWhite();
    void textAreasArePlainAndLight_data();
    void textAreasArePlainAndLight();

    void decodesWhatAnotherEncoderWrote_data();
    void decodesWhatAnotherEncoderWrote();
    void brokenDataThrowsLibjpegsMessage_data();
    void brokenDataThrowsLibjpegsMessage();
};

void TestJpeg::picturesAreCompiledIn_data()
{
    QTest::addColumn<Picture>("which");
    QTest::addColumn<int>("scale");
    QTest::addColumn<QSize>("size"); // logical
    for (const int scale : {1, 2}) {
        QTest::addRow("login picture at %dx", scale) << Picture::Login << scale << QSize(497, 278);
        QTest::addRow("password-change picture at %dx", scale)
            << Picture::PasswordChange << scale << QSize(497, 139);
    }
}

void TestJpeg::picturesAreCompiledIn()
{
    QFETCH(Picture, which);
    QFETCH(int, scale);
    QFETCH(QSize, size);
    const QImage first = picture(which, scale);
    QCOMPARE(first.size(), size * scale);
    QCOMPARE(first.devicePixelRatio(), qreal(scale));
    QCOMPARE(first.format(), QImage::Format_RGB32);
    // Decoded once and kept: a second call hands out the same pixels.
    QCOMPARE(picture(which, scale).cacheKey(), first.cacheKey());
}

void TestJpeg::fieldBoxesAreWhite_data()
{
    QTest::addColumn<Picture>("which");
    QTest::addColumn<int>("scale");
    QTest::addColumn<QRect>("edit");
    // The edit fields' rectangles in the window; the password-change picture starts at window y 277.
    for (const int scale : {1, 2}) {
        QTest::addRow("Login_Edit at %dx", scale) << Picture::Login << scale << QRect(146, 202, 187, 21);
        QTest::addRow("Password_Edit at %dx", scale) << Picture::Login << scale << QRect(146, 238, 187, 21);
        QTest::addRow("Edit1 at %dx", scale)
            << Picture::PasswordChange << scale << QRect(148, 309 - 277, 186, 21);
        QTest::addRow("Edit2 at %dx", scale)
            << Picture::PasswordChange << scale << QRect(148, 345 - 277, 186, 21);
    }
}

// The borderless white edits lie on these boxes, so any colour inside one would show around them.
void TestJpeg::fieldBoxesAreWhite()
{
    QFETCH(Picture, which);
    QFETCH(int, scale);
    QFETCH(QRect, edit);
    // Near white up to the box's edge; JPEG's blocks bring a few levels of the colours around it.
    const QString off = firstDarkerPixel(picture(which, scale), pixelsOf(edit, scale), 235);
    QVERIFY2(off.isEmpty(), qPrintable(off));
}

void TestJpeg::textAreasArePlainAndLight_data()
{
    QTest::addColumn<int>("scale");
    QTest::addColumn<QRect>("area");
    for (const int scale : {1, 2}) {
        QTest::addRow("status label RzLabel1 at %dx", scale) << scale << QRect(60, 107, 329, 78);
        QTest::addRow("version label Label1 at %dx", scale) << scale << QRect(6, 5, 24, 16);
    }
}

// Bold black text is drawn straight onto the login picture there: no text or pattern may lie below.
void TestJpeg::textAreasArePlainAndLight()
{
    QFETCH(int, scale);
    QFETCH(QRect, area);
    const QImage image = LoginPicture(scale);
    const QRect pixels = pixelsOf(area, scale);
    const QString dark = firstDarkerPixel(image, pixels, 200);
    QVERIFY2(dark.isEmpty(), qPrintable(dark));
    int lightest = 0;
    int darkest = 255;
    for (int y = pixels.top(); y <= pixels.bottom(); ++y) {
        for (int x = pixels.left(); x <= pixels.right(); ++x) {
            const int grey = qGray(image.pixel(x, y));
            lightest = std::max(lightest, grey);
            darkest = std::min(darkest, grey);
        }
    }
    QVERIFY2(lightest - darkest <= 24,
             qPrintable(QStringLiteral("grey from %1 to %2").arg(darkest).arg(lightest)));
}

void TestJpeg::decodesWhatAnotherEncoderWrote_data()
{
    QTest::addColumn<QImage>("source");
    QTest::addColumn<bool>("progressive");
    QTest::newRow("colour") << colourRamp(64, 48) << false;
    QTest::newRow("colour, progressive") << colourRamp(64, 48) << true;
    QTest::newRow("size not a multiple of the 8 by 8 blocks") << colourRamp(13, 7) << false;
    QTest::newRow("one pixel") << colourRamp(1, 1) << false;
    QTest::newRow("greyscale, one component") << greyRamp(40, 24) << false;
}

void TestJpeg::decodesWhatAnotherEncoderWrote()
{
    QFETCH(QImage, source);
    QFETCH(bool, progressive);
    if (!QImageWriter::supportedImageFormats().contains("jpg"))
        QSKIP("Qt's JPEG image plugin is not installed");
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpg");
    writer.setQuality(100);
    writer.setProgressiveScanWrite(progressive);
    QVERIFY2(writer.write(source), qPrintable(writer.errorString()));

    const QImage decoded = DecodeJpeg(buffer.data());
    QCOMPARE(decoded.size(), source.size());
    QCOMPARE(decoded.format(), QImage::Format_RGB32);
    const int difference = largestDifference(decoded, source);
    QVERIFY2(difference <= 6, qPrintable(QStringLiteral("a channel differs by %1").arg(difference)));
}

void TestJpeg::brokenDataThrowsLibjpegsMessage_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("message");
    const QByteArray login = resourceBytes(QStringLiteral(":/login.jpg"));
    const QByteArray password = resourceBytes(QStringLiteral(":/password.jpg"));

    QTest::newRow("empty") << QByteArray() << "Empty input file";
    QTest::newRow("text") << QByteArray("garbage, not a picture") << "Not a JPEG file: starts with 0x67 0x61";
    QTest::newRow("PNG file") << QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16)
                              << "Not a JPEG file: starts with 0x89 0x50";
    QTest::newRow("start and end markers only")
        << QByteArray("\xff\xd8\xff\xd9") << "JPEG datastream contains no image";
    QTest::newRow("start marker only") << QByteArray("\xff\xd8") << "Premature end of JPEG file";
    QTest::newRow("cut inside the header") << login.left(300) << "Premature end of JPEG file";
    QTest::newRow("login picture cut in half")
        << login.left(login.size() / 2) << "Premature end of JPEG file";
    QTest::newRow("password picture without its last byte")
        << password.chopped(1) << "Premature end of JPEG file";
    // libjpeg only warns here and would go on; a damaged picture is refused all the same.
    QTest::newRow("stray bytes before a marker")
        << login.left(2) + QByteArray("\0\0", 2) + login.mid(2)
        << "Corrupt JPEG data: 2 extraneous bytes before marker 0xe0";
}

void TestJpeg::brokenDataThrowsLibjpegsMessage()
{
    QFETCH(QByteArray, data);
    QFETCH(QString, message);
    try {
        DecodeJpeg(data);
        QFAIL("decoding did not fail");
    } catch (const Error &e) {
        QCOMPARE(e.message(), message);
    }
}

QTEST_GUILESS_MAIN(TestJpeg)
#include "tst_jpeg.moc"
