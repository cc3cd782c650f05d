#include "DrillCheck.h"

#include "session/LesionVisualizer.h"
#include "session/SessionVisualizer.h"

#include <QDateTime>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

// What one stored version holds of the drill's kinds of edits.
struct Contents
{
    QHash<int, int> spots;     // spot number -> instances with its box
    QHash<QString, int> ids;   // dermatoscopic id -> groups naming it
    QHash<QString, int> names; // external clinical image name -> poses
    QHash<QPair<int, int>, QString> labels;
    QHash<QString, QPair<int, int>> idLesion; // dermatoscopic id -> its lesion
};

bool read(int sessionId, const QByteArray &bytes, Contents *contents)
{
    const QJsonDocument document = QJsonDocument::fromJson(bytes);
    if (!document.isObject() || !document.object().contains(QStringLiteral("Lesions")) ||
        !document.object().contains(QStringLiteral("CameraPositions")))
        return false;
    auto session = QSharedPointer<SessionVisualizer>::create(
        QStringLiteral("drill/%1").arg(sessionId), 11, sessionId, document, QDateTime::currentDateTime());
    session->readSessionJson();
    for (const auto &list : session->getLesions()) {
        for (const auto &lesion : list) {
            const QPair<int, int> key{lesion->getPosition(), lesion->getNumericID()};
            contents->labels.insert(key, lesion->getLabel());
            for (const QRect &box : lesion->getInstancesBbox()) {
                const int k = DrillEdit::spotNumber(box);
                if (k >= 0)
                    ++contents->spots[k];
            }
            for (const auto &group : lesion->getDermatosopicIds())
                for (const QString &id : group) {
                    ++contents->ids[id];
                    contents->idLesion.insert(id, key);
                }
        }
    }
    for (const CameraPose &pose : session->getCameraPoses(SessionVisualizer::externalPosition))
        ++contents->names[session->clinicalImageName(pose, SessionVisualizer::externalPosition)];
    return true;
}

// How many times the edit shows in the version (0: not there).
int occurrences(const DrillEdit &edit, const Contents &c)
{
    switch (edit.kind) {
    case DrillEdit::Spot:
        return c.spots.value(edit.text.toInt());
    case DrillEdit::Label:
        return c.labels.value({edit.position, edit.number}) == edit.text ? 1 : 0;
    case DrillEdit::Dermatoscopic:
        return c.idLesion.value(edit.text) == QPair<int, int>{edit.position, edit.number}
                   ? c.ids.value(edit.text)
                   : 0;
    case DrillEdit::Clinical:
        return c.names.value(edit.text);
    }
    return 0;
}

} // namespace

DrillFigures checkStored(const std::vector<DrillEdit> &edits,
                         const std::map<int, QList<QByteArray>> &versionsOf,
                         const std::function<QByteArray(const QString &)> &object)
{
    DrillFigures f;
    QSet<int> duplicated, foreign, outOfOrder;
    for (const DrillEdit &edit : edits)
        f.made += edit.done ? 1 : 0;

    for (const auto &[sessionId, versions] : versionsOf) {
        QSet<int> before;
        bool first = true;
        for (const QByteArray &bytes : versions) {
            ++f.versions;
            Contents c;
            if (!read(sessionId, bytes, &c)) {
                ++f.notWhole;
                continue;
            }
            QSet<int> here;
            for (const DrillEdit &edit : edits) {
                if (!edit.done)
                    continue;
                const int n = occurrences(edit, c);
                if (edit.session == sessionId) {
                    if (n > 0)
                        here.insert(edit.index);
                    if (n > 1)
                        duplicated.insert(edit.index);
                } else if (n > 0 && edit.kind != DrillEdit::Label && edit.kind != DrillEdit::Clinical) {
                    // A label names a lesion of its own session; an external
                    // pose's name is the same wherever it is made.
                    foreign.insert(edit.index);
                }
            }
            if (!first)
                for (int e : before)
                    if (!here.contains(e))
                        outOfOrder.insert(e);
            before = here;
            first = false;
        }
        // The last version is what the server serves from now on.
        for (int e : before) {
            const DrillEdit &edit = edits[size_t(e)];
            const QString folder = QStringLiteral("sessions/11/%1/").arg(sessionId);
            if (edit.kind == DrillEdit::Dermatoscopic &&
                object(folder + QStringLiteral("dermatoscopic/") + edit.text + QStringLiteral(".jpg"))
                    .isEmpty())
                continue;
            if (edit.kind == DrillEdit::Clinical &&
                object(folder + QStringLiteral("imgL/") + edit.text + QStringLiteral("e.jpg")).isEmpty())
                continue;
            f.present.insert(e);
        }
    }
    f.stored = int(f.present.size());
    f.missing = f.made - f.stored;
    f.duplicated = int(duplicated.size());
    f.foreign = int(foreign.size());
    f.outOfOrder = int(outOfOrder.size());
    return f;
}
