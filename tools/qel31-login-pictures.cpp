// qel31-login-pictures: draws the two pictures of the login window and writes them as JPEG files,
// login.jpg (497 by 278) and password.jpg (497 by 139), into the given folder (resources/ of the
// source tree), and each again at twice the pixels for high-density screens (login@2x.jpg, 994 by
// 556, and password@2x.jpg): the same drawing in the same logical pixels, its text and edges drawn
// at the finer pixels rather than enlarged. The login window lays its borderless edit fields and
// invisible buttons over these pictures, so the field boxes and button faces are drawn exactly at
// those widgets' rectangles.
// Runs without a display: QT_QPA_PLATFORM=offscreen qel31-login-pictures resources

#include <QDir>
#include <QFile>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>

namespace {

// The widgets' rectangles in the login window. The password-change picture starts at window y 277.
constexpr QRect kLoginEdit(146, 202, 187, 21);
constexpr QRect kPasswordEdit(146, 238, 187, 21);
constexpr QRect kEnterButton(349, 200, 55, 20);
constexpr QRect kCancelButton(418, 199, 67, 22);
constexpr QRect kPanelButton(346, 236, 139, 22);
constexpr int kPasswordPictureTop = 277;
constexpr QRect kNewPasswordEdit(148, 309 - kPasswordPictureTop, 186, 21);
constexpr QRect kConfirmationEdit(148, 345 - kPasswordPictureTop, 186, 21);

constexpr QSize kLoginSize(497, 278);
constexpr QSize kPasswordSize(497, 139);
// The window is 273 high with the panel closed, so the login picture's last rows are seen only
// as a band between the two pictures when the panel is open; the band starts with the bottom edge.
constexpr int kLoginBottomEdge = 272;

const QColor kFrame(0x35, 0x55, 0x7a);
const QColor kInk(0x1e, 0x2f, 0x44);
const QColor kMutedInk(0x56, 0x68, 0x7e);
const QColor kRule(0xb4, 0xc3, 0xd4);
const QColor kFieldBorder(0x8a, 0x9b, 0xb0);

QFont sans(int pixelSize, bool bold = false)
{
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    font.setHintingPreference(QFont::PreferFullHinting);
    return font;
}

void paintBackground(QPainter &p, const QRect &area, const QColor &top, const QColor &bottom)
{
    QLinearGradient gradient(0, area.top(), 0, area.bottom());
    gradient.setColorAt(0, top);
    gradient.setColorAt(1, bottom);
    p.fillRect(area, gradient);
}

// A white box of exactly the edit field's rectangle, with a one-pixel border just outside it.
void paintFieldBox(QPainter &p, const QRect &edit, const QString &caption)
{
    p.fillRect(edit.adjusted(-1, -1, 1, 1), kFieldBorder);
    p.fillRect(edit, Qt::white);
    p.setFont(sans(13));
    p.setPen(kInk);
    const QRect captionArea(0, edit.top(), edit.left() - 7, edit.height());
    p.drawText(captionArea, Qt::AlignRight | Qt::AlignVCenter, caption);
}

// A button face filling the hot spot's rectangle; the primary one is the window's default action.
void paintButtonFace(QPainter &p, const QRect &button, const QString &caption, bool primary)
{
    QLinearGradient gradient(0, button.top(), 0, button.bottom());
    gradient.setColorAt(0, primary ? QColor(0x45, 0x73, 0xa8) : QColor(0xff, 0xff, 0xff));
    gradient.setColorAt(1, primary ? QColor(0x2a, 0x4f, 0x7f) : QColor(0xd8, 0xe1, 0xec));
    QPainterPath face;
    face.addRoundedRect(QRectF(button).adjusted(0.5, 0.5, -0.5, -0.5), 3, 3);
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(primary ? QColor(0x22, 0x42, 0x6b) : QColor(0x7e, 0x93, 0xad));
    p.setBrush(gradient);
    p.drawPath(face);
    p.restore();
    p.setFont(sans(12, primary));
    p.setPen(primary ? QColor(Qt::white) : kInk);
    p.drawText(button, Qt::AlignCenter, caption);
}

// The emblem: a graduation cap on a round navy badge, centred at the given point.
void paintEmblem(QPainter &p, QPointF centre, qreal radius)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient badge(0, centre.y() - radius, 0, centre.y() + radius);
    badge.setColorAt(0, QColor(0x4a, 0x78, 0xad));
    badge.setColorAt(1, QColor(0x24, 0x46, 0x72));
    p.setPen(Qt::NoPen);
    p.setBrush(badge);
    p.drawEllipse(centre, radius, radius);

    p.translate(centre);
    p.setBrush(Qt::white);
    const qreal r = radius;
    QPainterPath board; // the flat top of the cap, a rhombus
    board.moveTo(-0.62 * r, -0.12 * r);
    board.lineTo(0, -0.40 * r);
    board.lineTo(0.62 * r, -0.12 * r);
    board.lineTo(0, 0.16 * r);
    board.closeSubpath();
    p.drawPath(board);
    QPainterPath crown; // the band under it
    crown.moveTo(-0.36 * r, 0.02 * r);
    crown.lineTo(-0.36 * r, 0.30 * r);
    crown.quadTo(0, 0.50 * r, 0.36 * r, 0.30 * r);
    crown.lineTo(0.36 * r, 0.02 * r);
    crown.lineTo(0, 0.20 * r);
    crown.closeSubpath();
    p.drawPath(crown);
    p.setPen(QPen(Qt::white, 0.07 * r, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(0.50 * r, -0.06 * r), QPointF(0.50 * r, 0.34 * r)); // the tassel
    p.restore();
}

void paintSideFrame(QPainter &p, const QSize &size)
{
    p.fillRect(0, 0, 1, size.height(), kFrame);
    p.fillRect(size.width() - 1, 0, 1, size.height(), kFrame);
}

// An image of the logical size at scale times its pixels, painted in logical pixels.
QImage canvas(const QSize &logical, int scale)
{
    QImage image(logical * scale, QImage::Format_RGB32);
    image.setDevicePixelRatio(scale);
    return image;
}

QImage drawLoginPicture(int scale)
{
    QImage image = canvas(kLoginSize, scale);
    QPainter p(&image);
    paintBackground(p, QRect(QPoint(0, 0), kLoginSize), QColor(0xf7, 0xf9, 0xfc), QColor(0xdf, 0xe7, 0xf1));

    // Heading at the top right; the top-left corner stays plain for the version label.
    paintEmblem(p, QPointF(433, 44), 25);
    p.setPen(kFrame);
    p.setFont(sans(28, true));
    p.drawText(QRect(160, 16, 240, 34), Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("QEL 31"));
    p.setPen(kMutedInk);
    p.setFont(sans(12));
    p.drawText(QRect(80, 52, 320, 18), Qt::AlignRight | Qt::AlignVCenter,
               QStringLiteral("Регистрация старост академических групп"));
    p.fillRect(20, 88, 457, 1, kRule);
    p.fillRect(377, 87, 100, 3, kFrame);

    // The status label lies on the open background between the heading and the fields.
    paintFieldBox(p, kLoginEdit, QStringLiteral("Пользователь"));
    paintFieldBox(p, kPasswordEdit, QStringLiteral("Пароль"));
    paintButtonFace(p, kEnterButton, QStringLiteral("Вход"), true);
    paintButtonFace(p, kCancelButton, QStringLiteral("Отмена"), false);
    paintButtonFace(p, kPanelButton, QStringLiteral("Дополнительно"), false);

    paintSideFrame(p, kLoginSize);
    p.fillRect(0, 0, kLoginSize.width(), 1, kFrame);
    p.fillRect(0, kLoginBottomEdge, kLoginSize.width(), kLoginSize.height() - kLoginBottomEdge, kFrame);
    return image;
}

QImage drawPasswordPicture(int scale)
{
    QImage image = canvas(kPasswordSize, scale);
    QPainter p(&image);
    paintBackground(p, QRect(QPoint(0, 0), kPasswordSize), QColor(0xf4, 0xf7, 0xfb),
                    QColor(0xdf, 0xe7, 0xf1));

    const QString heading = QStringLiteral("Замена пароля");
    p.setFont(sans(14, true));
    p.setPen(kFrame);
    const QRect headingArea(20, 6, 200, 20);
    p.drawText(headingArea, Qt::AlignLeft | Qt::AlignVCenter, heading);
    const int headingEnd = headingArea.left() + QFontMetrics(p.font()).horizontalAdvance(heading);
    p.fillRect(headingEnd + 10, headingArea.center().y() + 1, 477 - headingEnd - 10, 1, kRule);

    paintFieldBox(p, kNewPasswordEdit, QStringLiteral("Новый пароль"));
    paintFieldBox(p, kConfirmationEdit, QStringLiteral("Подтверждение"));

    // The new password takes only Latin letters, digits and the underscore.
    p.setFont(sans(11));
    p.setPen(kMutedInk);
    p.drawText(
        QRect(350, kNewPasswordEdit.top(), 130, kConfirmationEdit.bottom() - kNewPasswordEdit.top() + 1),
        Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap,
        QStringLiteral("Только латинские буквы, цифры и знак «_»"));

    paintSideFrame(p, kPasswordSize);
    p.fillRect(0, kPasswordSize.height() - 1, kPasswordSize.width(), 1, kFrame);
    return image;
}

// Full-resolution colour (no chroma subsampling) so that coloured text and edges stay crisp.
QByteArray encodeJpeg(const QImage &picture, int quality)
{
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors); // on failure libjpeg prints its message and ends the tool
    jpeg_create_compress(&info);
    unsigned char *buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = static_cast<JDIMENSION>(rgb.width());
    info.image_height = static_cast<JDIMENSION>(rgb.height());
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    for (int c = 0; c < 3; ++c) {
        info.comp_info[c].h_samp_factor = 1;
        info.comp_info[c].v_samp_factor = 1;
    }
    info.optimize_coding = TRUE;
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        auto *row = const_cast<JSAMPROW>(rgb.constScanLine(static_cast<int>(info.next_scanline)));
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    QByteArray bytes(reinterpret_cast<const char *>(buffer), static_cast<qsizetype>(size));
    std::free(buffer);
    return bytes;
}

bool write(const QDir &folder, const QString &name, const QImage &picture)
{
    QFile file(folder.filePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(encodeJpeg(picture, 95)) < 0) {
        std::fprintf(stderr, "qel31-login-pictures: cannot write %s: %s\n", qPrintable(file.fileName()),
                     qPrintable(file.errorString()));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: qel31-login-pictures FOLDER\n"
                             "writes login.jpg and password.jpg, the login window's pictures, and their 2x\n"
                             "drawings login@2x.jpg and password@2x.jpg into FOLDER\n");
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    const bool written = write(folder, QStringLiteral("login.jpg"), drawLoginPicture(1)) &&
                         write(folder, QStringLiteral("login@2x.jpg"), drawLoginPicture(2)) &&
                         write(folder, QStringLiteral("password.jpg"), drawPasswordPicture(1)) &&
                         write(folder, QStringLiteral("password@2x.jpg"), drawPasswordPicture(2));
    return written ? 0 : 1;
}
