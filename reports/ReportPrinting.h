#pragma once

#include <QByteArray>
#include <QRect>
#include <QSizeF>

class QPrinter;

// Prints a report PDF page by page on a printer the caller has set up.
class ReportPrinting
{
public:
    struct Outcome
    {
        bool complete = false;
        // 1-based number of the page that could not be rendered; 0 when none.
        int failedPage = 0;
        int pagesPrinted = 0;
    };

    // Each page is drawn as large as fits the printer's page rectangle, centred.
    // Stops at the first page that does not render (a printout with a page
    // missing is worse than none); an unreadable PDF or a printer that cannot
    // be painted on prints nothing.
    static Outcome print(const QByteArray &pdf, QPrinter &printer);

    // The largest rectangle of the page's aspect ratio inside target, centred.
    static QRect fitted(const QSizeF &pageSize, const QRect &target);
};
