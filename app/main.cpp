#include "app/kelvarisVisualizer.h"
#include "reports/ReportSchemeHandler.h"

#include <QApplication>
#include <QFile>
#include <QImageReader>
#include <QScreen>
#include <QSplashScreen>

namespace {

// The splash picture at half the screen's size, decoded at that size so a
// vector picture stays sharp.
QPixmap splashPixmap(const QSize &screenSize)
{
    QImageReader reader(QStringLiteral(":/rsc/splash"));
    const QSize half(int(screenSize.width() * 0.5), int(screenSize.height() * 0.5));
    const QSize natural = reader.size();
    if (natural.isValid() && !half.isEmpty())
        reader.setScaledSize(natural.scaled(half, Qt::KeepAspectRatio));
    return QPixmap::fromImage(reader.read());
}

QString readStyleSheet()
{
    QFile file(QStringLiteral("styleSheet.qss"));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll());
}

} // namespace

int main(int argc, char **argv)
{
    // The report renderer shares GL contexts; this must precede the application.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    // Reports are served to the web engine from memory; its schemes are fixed
    // once the application exists.
    ReportSchemeHandler::registerScheme();
    QApplication app(argc, argv);
    app.setWindowIcon(QIcon(QStringLiteral(":/rsc/LOGO-03.jpg")));

    QSplashScreen splash;
    const QList<QScreen *> screens = QGuiApplication::screens();
    if (!screens.isEmpty())
        splash.setPixmap(splashPixmap(screens.first()->geometry().size()));
    splash.show();
    app.processEvents();

    app.setStyleSheet(readStyleSheet());

    kelvarisVisualizer window;
    window.show();
    splash.finish(&window);
    return app.exec();
}
