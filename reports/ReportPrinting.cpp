#include "reports/ReportPrinting.h"

#include "widgets/Trace.h"

#include <QBuffer>
#include <QImage>
#include <QPainter>
#include <QPdfDocument>
#include <QPrinter>

namespace {

// Rendering beyond 300 dpi on A4 only costs memory (a page at 1200 dpi is
// over half a gigabyte); the picture is scaled into the page when drawn.
constexpr int kMaxRenderWidth = 2480;

} // namespace

QRect ReportPrinting::fitted(const QSizeF &pageSize, const QRect &target)
{
    if (pageSize.isEmpty() || target.isEmpty())
        return QRect();
    const double ratio = pageSize.width() / pageSize.height();
    int width = target.width();
    int height = target.height();
    if (double(target.width()) / target.height() > ratio)
        width = int(height * ratio);
    else
        height = int(width / ratio);
    return QRect(target.x() + (target.width() - width) / 2, target.y() + (target.height() - height) / 2,
                 width, height);
}

ReportPrinting::Outcome ReportPrinting::print(const QByteArray &pdf, QPrinter &printer)
{
    Outcome outcome;
    // The buffer must outlive the document that reads it.
    QBuffer buffer;
    QPdfDocument document;
    buffer.setData(pdf);
    buffer.open(QIODevice::ReadOnly);
    document.load(&buffer);
    if (document.status() != QPdfDocument::Status::Ready || document.pageCount() <= 0)
        return outcome;

    QPainter painter;
    if (!painter.begin(&printer))
        return outcome;
    const QRectF pageRect = printer.pageRect(QPrinter::DevicePixel);
    const QRect target(0, 0, int(pageRect.width()), int(pageRect.height()));
    for (int page = 0; page < document.pageCount(); ++page) {
        const QSizeF size = document.pagePointSize(page);
        const QRect place = fitted(size, target);
        QSize renderSize = place.size();
        if (renderSize.width() > kMaxRenderWidth)
            renderSize = renderSize.scaled(kMaxRenderWidth, kMaxRenderWidth * 2, Qt::KeepAspectRatio);
        const QImage image = document.render(page, renderSize);
        if (image.isNull()) {
            kelvaris::trace(QStringLiteral("No s ha pogut renderitzar la pagina ") + QString::number(page));
            outcome.failedPage = page + 1;
            printer.abort();
            painter.end();
            return outcome;
        }
        // The page's margins come back transparent. Paper is white, and an
        // image with transparent edges, once scaled by the printer, shows
        // grey lines where the margins meet the page.
        QImage paper(image.size(), QImage::Format_RGB32);
        paper.fill(Qt::white);
        QPainter(&paper).drawImage(0, 0, image);
        if (page > 0)
            printer.newPage();
        painter.drawImage(place, paper);
        ++outcome.pagesPrinted;
    }
    painter.end();
    outcome.complete = true;
    return outcome;
}
