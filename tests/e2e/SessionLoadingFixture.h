#pragma once

// The real main window against the stand-in server in process, logged in as
// a doctor, for the tests of session loading.

#include "app/MainWindowLogin.h"
#include "app/SessionLoader.h"
#include "app/kelvarisVisualizer.h"
#include "server/StandIn.h"
#include "session/SessionVisualizer.h"
#include "session/SessionsModel.h"
#include "visualization/GraphicsScene.h"
#include "visualization/ImageItemRect.h"
#include "visualization/ListView.h"
#include "visualization/QtVisualizationWidgets.h"
#include "widgets/CustomComboBox.h"
#include "widgets/CustomHoverButton.h"
#include "widgets/CustomMessageBox.h"
#include "widgets/QtNotificationWidget.h"
#include <QAbstractProxyModel>
#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QImage>
#include <QJsonDocument>
#include <QLabel>
#include <QMouseEvent>
#include <QMovie>
#include <QProgressDialog>
#include <QPushButton>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>

inline Patient patient(int id)
{
    Patient p;
    p.patientID = std::to_string(id);
    p.name = "Patient " + std::to_string(id);
    return p;
}

// The texts of the notifications on screen now.
inline QStringList notifications()
{
    QStringList texts;
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (qobject_cast<QtNotificationWidget *>(widget) && widget->isVisible())
            for (QLabel *label : widget->findChildren<QLabel *>())
                if (!label->text().isEmpty())
                    texts << label->text();
    return texts;
}

inline void closeNotifications()
{
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (qobject_cast<QtNotificationWidget *>(widget))
            widget->close();
}

inline int sessionIdOf(SessionLoader *loader, SessionLoader::Selector which)
{
    const QSharedPointer<SessionVisualizer> s =
        loader->sessionsModel()->sessionAt(loader->selector(which)->currentIndex());
    return s ? s->getSessionId() : -1;
}

// Runs fn once from inside whatever event loop is running when ready() holds,
// also a wait of the loader that blocks the test function.
class WhenReady : public QObject
{
public:
    WhenReady(std::function<bool()> ready, std::function<void()> fn)
    {
        connect(&poll, &QTimer::timeout, this, [this, ready, fn] {
            if (!ready())
                return;
            poll.stop();
            fired = true;
            fn();
        });
        poll.start(5);
    }
    bool fired = false;

private:
    QTimer poll;
};

class SessionLoadingFixture
{
public:
    void setUp();
    void clear();
    bool load(int patientId, int timeout = 15000);
    // Loads patient 14 unless its session 111 is shown already.
    bool oneSessionShown();

    StandIn standIn;
    QTemporaryDir workDir;
    std::unique_ptr<kelvarisVisualizer> window;
    SessionLoader *loader = nullptr;
    std::unique_ptr<QSignalSpy> loaded;
};

inline void SessionLoadingFixture::setUp()
{
    QVERIFY2(standIn.start(), qPrintable(standIn->errorString()));
    QVERIFY(workDir.isValid());
    QDir(workDir.path()).mkpath(QStringLiteral("matrius"));
    QJsonObject configuration = standIn.configuration();
    configuration.insert(QStringLiteral("server"), QStringLiteral("demo"));
    configuration.insert(
        QStringLiteral("gui"),
        QJsonObject{{QStringLiteral("names"), QJsonArray{"frontal", "right", "back", "left"}}});
    QFile file(workDir.filePath(QStringLiteral("matrius/configuration.json")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QJsonDocument(configuration).toJson());
    file.close();
    QDir::setCurrent(workDir.path());

    window = std::make_unique<kelvarisVisualizer>();
    QVERIFY(window->configurationError().isEmpty());
    window->resize(1600, 900);
    window->show();
    loader = window->sessionLoader();
    QVERIFY(loader);
    loader->setDownloadWaitLimit(8000);

    QVERIFY(logInAs(*window, QStringLiteral("doctor")));
    loaded = std::make_unique<QSignalSpy>(loader, &SessionLoader::patientLoaded);
}

inline void SessionLoadingFixture::clear()
{
    loaded->clear();
    standIn->clearFaults();
    closeNotifications();
    QTest::qWait(20);
}

inline bool SessionLoadingFixture::load(int patientId, int timeout)
{
    loaded->clear();
    loader->loadPatient(patient(patientId));
    return QTest::qWaitFor([&] { return !loaded->isEmpty(); }, timeout) && loaded->first().first().toBool();
}

inline bool SessionLoadingFixture::oneSessionShown()
{
    const QSharedPointer<SessionVisualizer> shown = loader->principalSession();
    if (shown && shown->getSessionId() == 111 && int(loader->sessions().size()) == 1)
        return true;
    return load(14);
}
