#pragma once

// The edits of the upload drill and the script that makes them in the real
// main window: 50 edits across sessions 101, 102 and 103 of patient 11, one
// every 300 ms (40 new spots whose box encodes their number, 6 relabels, 3
// dermatoscopic images, one of them on an older session, and a clinical
// image), with a save every 10 edits. It also keeps a mirror of the upload
// queue, so that it can tell which edits each acknowledged job carried.

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QRandomGenerator>
#include <QRect>
#include <QSharedPointer>
#include <QString>
#include <QTimer>

#include <deque>
#include <functional>
#include <map>
#include <vector>

class SessionVisualizer;
class kelvarisVisualizer;

struct DrillEdit
{
    enum Kind
    {
        Spot,
        Label,
        Dermatoscopic,
        Clinical,
    };
    int index = -1;
    Kind kind = Spot;
    int session = 0;
    int position = -1; // the lesion's (Label, Dermatoscopic)
    int number = -1;
    // Spot: its number in the box; Label: the new label; Dermatoscopic: the
    // image id; Clinical: the image name without ".jpg".
    QString text;
    bool done = false; // applied in the session (images: once filed)

    // One line: "edit <index> <kind> <session> <position> <number> <text>".
    QString toLine() const;
    static bool fromLine(const QString &line, DrillEdit *edit);

    // The box of spot k: 200 + k wide and 37 high, an outline no examination
    // of the sample data has.
    static QRect spotBox(int k);
    static int spotNumber(const QRect &box); // -1 when the box is none of ours
};

// A job as the drill expects the queue to hold it: a session's document with
// the edits made to it when the job was made.
struct DrillJob
{
    int session = 0;
    QList<int> edits;
};

class DrillScript : public QObject
{
    Q_OBJECT

public:
    static constexpr int editCount = 50;
    static constexpr int intervalMs = 300;
    static constexpr int saveEvery = 10;
    static const int sessions[3];

    // files: a folder for the pictures added from files.
    DrillScript(kelvarisVisualizer *window, quint32 seed, const QString &files);

    // Before the edits: a relabel in each of the three sessions, saved
    // together (the fault-free save). Returns at once; savedAll follows.
    void baselineSave();
    void start();

    const std::vector<DrillEdit> &edits() const { return m_edits; }
    // Jobs whose document was stored, oldest first.
    const std::vector<DrillJob> &acknowledged() const { return m_acknowledged; }
    int barMismatches() const { return m_barMismatches; }
    int mirrorMismatches() const { return m_mirrorMismatches; }
    int saves() const { return m_saves; }
    qint64 lastSaveAt() const { return m_lastSaveAt; } // ms since start()

    // Printed lines (the child process of the kill profile prints them).
    std::function<void(const QString &)> print;

signals:
    void editMade(int index);
    // The last edit is filed and the last save queued.
    void finished();
    void acknowledgedJob(int session);

private:
    void plan();
    void nextEdit();
    void apply(DrillEdit &edit);
    void save();
    void mirror(int session);
    void checkMirror();
    void finishWhenFiled();
    QSharedPointer<SessionVisualizer> session(int id) const;

    kelvarisVisualizer *m_window = nullptr;
    QRandomGenerator m_random;
    QString m_files;
    std::vector<DrillEdit> m_edits;
    std::map<int, QList<int>> m_editsOf; // per session, the edits applied so far
    std::deque<DrillJob> m_mirror;
    std::vector<DrillJob> m_acknowledged;
    QTimer m_timer;
    int m_next = 0;
    int m_pendingFiles = 0;
    int m_saves = 0;
    qint64 m_lastSaveAt = 0;
    qint64 m_startedAt = 0;
    bool m_allMade = false;
    int m_barMismatches = 0;
    int m_mirrorMismatches = 0;
    // Lesions already relabelled or given a picture (also by the baseline).
    QList<QPair<int, QPair<int, int>>> m_used;
};
