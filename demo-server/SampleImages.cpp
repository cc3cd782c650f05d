#include "demo-server/SampleImages.h"

#include <QBuffer>
#include <QLinearGradient>
#include <QPainter>
#include <QRadialGradient>
#include <QRandomGenerator>
#include <QtMath>

#include <algorithm>
#include <cmath>

namespace {

// A tile of fine luminance noise for the skin's texture.
QImage noiseTile(quint32 seed, int side, int alpha)
{
    // Light and dark specks of low opacity, laid over the skin as its grain.
    QImage tile(side, side, QImage::Format_ARGB32_Premultiplied);
    QRandomGenerator rng(seed);
    for (int y = 0; y < side; ++y) {
        auto *line = reinterpret_cast<QRgb *>(tile.scanLine(y));
        for (int x = 0; x < side; ++x) {
            const quint32 r = rng.generate();
            const int v = (r & 1) ? 255 : 40;
            const int a = int((r >> 8) % quint32(alpha + 1));
            line[x] = qPremultiply(qRgba(v, v * 9 / 10, v * 8 / 10, a));
        }
    }
    return tile;
}

QColor shade(const QColor &c, double factor)
{
    return QColor(std::clamp(int(c.red() * factor), 0, 255), std::clamp(int(c.green() * factor), 0, 255),
                  std::clamp(int(c.blue() * factor), 0, 255));
}

// Skin over the body, in body millimetres (the painter maps them to pixels):
// every part is shaded as a rounded limb, with a blotchy tint, faint freckles
// and a fine texture. Everything follows the body, not the image, so that
// neighbouring images of one position agree where they overlap.
void paintSkin(QPainter &p, int position, const QSizeF &canvas, const QRectF &area, const QColor &skin,
               quint32 seed, bool closeUp)
{
    p.save();
    p.setPen(Qt::NoPen);
    const QRectF visible = area.adjusted(-10, -10, 10, 10);
    for (const SampleData::BodyPart &part : SampleData::bodyParts(position, canvas)) {
        QPainterPath shape;
        shape.addRoundedRect(part.rect, part.radius, part.radius);
        if (!shape.intersects(visible))
            continue;
        QLinearGradient across(part.rect.left(), 0, part.rect.right(), 0);
        const double edge = closeUp ? 0.9 : 0.66;
        across.setColorAt(0.0, shade(skin, edge));
        across.setColorAt(0.12, shade(skin, (edge + 1.0) / 2));
        across.setColorAt(0.4, shade(skin, 1.05));
        across.setColorAt(0.6, shade(skin, 1.03));
        across.setColorAt(0.88, shade(skin, (edge + 0.98) / 2));
        across.setColorAt(1.0, shade(skin, edge - 0.04));
        p.setBrush(across);
        p.drawPath(shape);
    }
    const QPainterPath body = SampleData::silhouette(position, canvas);
    p.setClipPath(body, Qt::IntersectClip);
    const QRectF bounds = body.boundingRect();
    QLinearGradient down(0, bounds.top(), 0, bounds.bottom());
    down.setColorAt(0, QColor(255, 240, 230, 22));
    down.setColorAt(1, QColor(40, 20, 10, 30));
    p.fillRect(bounds.intersected(visible), down);

    QRandomGenerator rng(seed);
    // Blotches: broad, faint patches of redder or browner skin.
    for (int i = 0; i < 120; ++i) {
        const QPointF c(bounds.left() + rng.generateDouble() * bounds.width(),
                        bounds.top() + rng.generateDouble() * bounds.height());
        const double r = 20 + rng.generateDouble() * 70;
        const bool red = rng.bounded(3u) == 0;
        if (!visible.adjusted(-r, -r, r, r).contains(c))
            continue;
        QRadialGradient blotch(c, r);
        QColor tint = red ? QColor(200, 90, 80) : shade(skin, 0.8);
        tint.setAlpha(red ? 18 : 26);
        blotch.setColorAt(0, tint);
        tint.setAlpha(0);
        blotch.setColorAt(1, tint);
        p.setBrush(blotch);
        p.drawEllipse(c, r, r);
    }
    p.restore();
}

// Faint freckles, painted at full resolution: they are a few pixels wide.
void paintFreckles(QPainter &p, int position, const QSizeF &canvas, const QRectF &area, const QColor &skin,
                   quint32 seed)
{
    p.save();
    p.setPen(Qt::NoPen);
    const QPainterPath body = SampleData::silhouette(position, canvas);
    p.setClipPath(body, Qt::IntersectClip);
    const QRectF bounds = body.boundingRect();
    const QRectF visible = area.adjusted(-10, -10, 10, 10);
    QRandomGenerator rng(seed);
    for (int i = 0; i < 420; ++i) {
        const QPointF c(bounds.left() + rng.generateDouble() * bounds.width(),
                        bounds.top() + rng.generateDouble() * bounds.height());
        const double r = 0.25 + rng.generateDouble() * 0.5;
        const int alpha = 40 + int(rng.bounded(50u));
        if (!visible.contains(c))
            continue;
        QColor freckle = shade(skin, 0.7);
        freckle.setAlpha(alpha);
        p.setBrush(freckle);
        p.drawEllipse(c, r, r * 0.85);
    }
    p.restore();
}

void paintLesion(QPainter &p, const QPolygonF &outline, const QPointF &centre, double radius,
                 const QColor &core, const QColor &rim, quint32 seed)
{
    p.save();
    p.setPen(Qt::NoPen);
    // A faint halo of darker skin around the lesion.
    QRadialGradient halo(centre, radius * 1.45);
    QColor haloColour = rim;
    haloColour.setAlpha(70);
    halo.setColorAt(0.55, haloColour);
    haloColour.setAlpha(0);
    halo.setColorAt(1.0, haloColour);
    p.setBrush(halo);
    p.drawEllipse(centre, radius * 1.45, radius * 1.45);

    QRadialGradient body(centre, radius * 1.05);
    body.setColorAt(0.0, core);
    body.setColorAt(0.55,
                    QColor::fromRgb((core.red() * 2 + rim.red()) / 3, (core.green() * 2 + rim.green()) / 3,
                                    (core.blue() * 2 + rim.blue()) / 3));
    body.setColorAt(1.0, rim);
    p.setBrush(body);
    p.drawPolygon(outline);

    // Darker clods inside larger lesions.
    QRandomGenerator rng(seed);
    const int dots = radius > 2.0 ? 6 + int(radius * 2) : 0;
    QColor dot = core.darker(150);
    dot.setAlpha(150);
    p.setBrush(dot);
    for (int i = 0; i < dots; ++i) {
        const double a = rng.generateDouble() * 2 * M_PI;
        const double d = std::sqrt(rng.generateDouble()) * radius * 0.6;
        const double r = radius * (0.05 + rng.generateDouble() * 0.07);
        p.drawEllipse(centre + QPointF(std::cos(a), std::sin(a)) * d, r, r);
    }
    p.restore();
}

void paintTexture(QPainter &p, const QRect &pixels, quint32 seed, double scale)
{
    const QImage tile = noiseTile(seed, 256, 22);
    QBrush brush(tile);
    QTransform t;
    t.scale(scale, scale);
    brush.setTransform(t);
    p.save();
    p.resetTransform();
    p.fillRect(pixels, brush);
    p.restore();
}

} // namespace

QImage SampleImages::clinical(const SampleData::Session &session, const SampleData::ClinicalImage &image,
                              const QSize &size)
{
    // Body millimetres to pixels of this image.
    QTransform toPixels;
    if (image.external) {
        const double s = SampleData::externalWidth / image.window.width();
        const double k = double(size.width()) / SampleData::externalWidth;
        toPixels = QTransform(s * k, 0, 0, s * k, -image.window.left() * s * k, -image.window.top() * s * k);
    } else {
        const double s = SampleData::clipWidth / image.window.width();
        const double k = double(size.width()) / SampleData::clinicalWidth;
        toPixels = QTransform(s * k, 0, 0, s * k, (SampleData::clipLeft - image.window.left() * s) * k,
                              -image.window.top() * s * k);
    }
    const QRect pixels(QPoint(0, 0), size);
    const QRectF area = toPixels.inverted().mapRect(QRectF(pixels));
    const auto canvas = session.canvas.find(image.position);
    const QSizeF canvasSize = canvas == session.canvas.end() ? QSizeF(900, 1000) : canvas->second;
    const quint32 skinSeed = session.seed * 31u + quint32(image.position + 7);

    // Shading and blotches vary slowly: they are painted at a quarter of a
    // large image's size and enlarged, which is much faster and looks the same.
    const int reduce = size.width() >= 2000 ? 4 : 1;
    const QSize baseSize((size.width() + reduce - 1) / reduce, (size.height() + reduce - 1) / reduce);
    QImage base(baseSize, QImage::Format_RGB32);
    {
        QPainter p(&base);
        p.setRenderHint(QPainter::Antialiasing);
        QLinearGradient backdrop(0, 0, 0, baseSize.height());
        backdrop.setColorAt(0, QColor(44, 47, 54));
        backdrop.setColorAt(1, QColor(24, 25, 29));
        p.fillRect(base.rect(), backdrop);
        p.setTransform(toPixels * QTransform::fromScale(1.0 / reduce, 1.0 / reduce));
        paintSkin(p, image.position, canvasSize, area, session.skin, skinSeed, image.external);
    }
    QImage out = base;
    if (reduce > 1) {
        out = QImage(size, QImage::Format_RGB32);
        QPainter enlarge(&out);
        enlarge.setRenderHint(QPainter::SmoothPixmapTransform);
        enlarge.drawImage(QRect(QPoint(0, 0), size), base);
    }
    QPainter p(&out);
    p.setRenderHint(QPainter::Antialiasing);
    p.setTransform(toPixels);
    paintFreckles(p, image.position, canvasSize, area, session.skin, skinSeed ^ 0x5A5Au);
    for (const SampleData::LesionPaint &lesion : session.lesions) {
        if (lesion.position != image.position)
            continue;
        if (!area.adjusted(-20, -20, 20, 20).contains(lesion.centre))
            continue;
        paintLesion(p, lesion.outline, lesion.centre, lesion.radius, lesion.core, lesion.rim, lesion.seed);
    }
    paintTexture(p, pixels, session.seed ^ qHash(image.name), std::max(1.0, size.width() / 1400.0));
    p.end();
    return out;
}

QImage SampleImages::dermatoscopic(const SampleData::Dermatoscopic &item, const QSize &size)
{
    QImage out(size, QImage::Format_RGB32);
    out.fill(Qt::black);
    QPainter p(&out);
    p.setRenderHint(QPainter::Antialiasing);
    // Drawn in the pixels of the item's full size (the usual one for most).
    const QSize frame = item.fullSize();
    const double k = double(size.width()) / frame.width();
    p.scale(k, size.height() / double(frame.height()));

    const QRectF full(0, 0, frame.width(), frame.height());
    const QPointF middle = full.center();
    const double fieldRadius = std::min(frame.width(), frame.height()) * 0.62;
    QPainterPath field;
    field.addEllipse(middle, fieldRadius, fieldRadius);
    p.setClipPath(field);
    const QColor skin = QColor::fromHsv(item.rim.hsvHue(), std::max(40, item.rim.hsvSaturation() / 3),
                                        std::min(235, item.rim.value() + 60));
    QRadialGradient light(middle, fieldRadius);
    light.setColorAt(0, skin.lighter(108));
    light.setColorAt(0.8, skin);
    light.setColorAt(1, skin.darker(160));
    p.fillRect(full, light);

    // The lesion's outline as the document gives it, with a pigment network
    // and dots inside.
    const QPointF centre = item.contour.boundingRect().center();
    const double radius =
        std::max(item.contour.boundingRect().width(), item.contour.boundingRect().height()) / 2;
    QRadialGradient pigment(centre, radius * 1.05);
    pigment.setColorAt(0, item.core.darker(115));
    pigment.setColorAt(0.6, item.core);
    pigment.setColorAt(1, item.rim);
    p.setPen(Qt::NoPen);
    p.setBrush(pigment);
    p.drawPolygon(item.contour);

    QPainterPath inside;
    inside.addPolygon(item.contour);
    p.save();
    p.setClipPath(inside, Qt::IntersectClip);
    QRandomGenerator rng(item.seed);
    QColor net = item.core.darker(170);
    net.setAlpha(120);
    p.setPen(QPen(net, 7));
    const double pitch = 38;
    const QRectF box = item.contour.boundingRect();
    for (double y = box.top(); y < box.bottom(); y += pitch) {
        QPolygonF line;
        for (double x = box.left(); x <= box.right(); x += pitch / 2)
            line << QPointF(x, y + (rng.generateDouble() - 0.5) * 14);
        p.drawPolyline(line);
    }
    for (double x = box.left(); x < box.right(); x += pitch) {
        QPolygonF line;
        for (double y = box.top(); y <= box.bottom(); y += pitch / 2)
            line << QPointF(x + (rng.generateDouble() - 0.5) * 14, y);
        p.drawPolyline(line);
    }
    p.setPen(Qt::NoPen);
    QColor dot = item.core.darker(220);
    dot.setAlpha(190);
    p.setBrush(dot);
    for (int i = 0; i < 40; ++i) {
        const double a = rng.generateDouble() * 2 * M_PI;
        const double d = std::sqrt(rng.generateDouble()) * radius * 0.8;
        const double r = 6 + rng.generateDouble() * 14;
        p.drawEllipse(centre + QPointF(std::cos(a), std::sin(a)) * d, r, r);
    }
    p.restore();
    p.setClipping(false);
    p.resetTransform();
    paintTexture(p, out.rect(), item.seed ^ 0xA5A5u, std::max(1.0, size.width() / 900.0));
    p.end();
    return out;
}

QImage SampleImages::phoneCapture(const QString &name, const QString &type, quint32 seed, const QColor &skin,
                                  const QSize &size)
{
    QRandomGenerator rng(seed);
    if (type == QLatin1String("D")) {
        SampleData::Dermatoscopic item;
        item.seed = rng.generate();
        item.core = QColor::fromHsv(14 + int(rng.bounded(12u)), 170 + int(rng.bounded(40u)),
                                    60 + int(rng.bounded(40u)));
        item.rim = QColor::fromHsv(item.core.hsvHue(), item.core.hsvSaturation() * 3 / 5,
                                   std::min(255, item.core.value() + 70));
        const QPointF centre(SampleData::dermatoscopicWidth / 2.0, SampleData::dermatoscopicHeight / 2.0);
        const double r = 260 + rng.generateDouble() * 300;
        for (int i = 0; i < 20; ++i) {
            const double t = 2 * M_PI * i / 20;
            const double rr = r * (1 + 0.1 * std::cos(3 * t + rng.generateDouble()));
            item.contour << centre + QPointF(std::cos(t) * rr, std::sin(t) * rr * 0.85);
        }
        QImage image = dermatoscopic(item, size);
        QPainter p(&image);
        p.setPen(QColor(255, 255, 255, 200));
        QFont font = p.font();
        font.setPixelSize(std::max(10, size.height() / 30));
        p.setFont(font);
        p.drawText(image.rect().adjusted(size.width() / 40, 0, 0, -size.height() / 40),
                   Qt::AlignLeft | Qt::AlignBottom, QStringLiteral("phone capture %1").arg(name));
        return image;
    }

    SampleData::Session session;
    session.skin = skin;
    session.seed = seed;
    session.canvas[-1] = QSizeF(600, 300);
    SampleData::ClinicalImage image;
    image.name = name;
    image.position = -1;
    image.external = true;
    image.window = QRectF(100, 60, 160, 120);
    SampleData::LesionPaint lesion;
    lesion.position = -1;
    lesion.centre = QPointF(180, 120);
    lesion.radius = 2.5 + rng.generateDouble() * 2;
    for (int i = 0; i < 20; ++i) {
        const double t = 2 * M_PI * i / 20;
        const double rr = lesion.radius * (1 + 0.1 * std::cos(3 * t));
        lesion.outline << lesion.centre + QPointF(std::cos(t) * rr, std::sin(t) * rr * 0.8);
    }
    lesion.core = QColor::fromHsv(18, 190, 70);
    lesion.rim = QColor::fromHsv(18, 120, 140);
    lesion.seed = rng.generate();
    session.lesions.push_back(lesion);
    QImage picture = clinical(session, image, size);
    QPainter p(&picture);
    p.setPen(QColor(255, 255, 255, 200));
    QFont font = p.font();
    font.setPixelSize(std::max(10, size.height() / 30));
    p.setFont(font);
    p.drawText(picture.rect().adjusted(size.width() / 40, 0, 0, -size.height() / 40),
               Qt::AlignLeft | Qt::AlignBottom, QStringLiteral("phone capture %1").arg(name));
    return picture;
}

QByteArray SampleImages::jpeg(const QImage &image, int quality)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG", quality);
    return bytes;
}
