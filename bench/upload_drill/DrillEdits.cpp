#include "DrillEdits.h"

#include "app/SessionLoader.h"
#include "app/kelvarisVisualizer.h"
#include "server/ServerVisualizer.h"
#include "session/LesionVisualizer.h"
#include "session/SessionVisualizer.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QLayout>
#include <QProgressBar>
#include <QStringList>
#include <QWidget>

#include <algorithm>

namespace {

const QStringList kLabels{"Detected", "Captured", "Exeresis", "Follow up", "Custom 1", "Custom 2"};
const char *const kKinds[] = {"spot", "label", "dermatoscopic", "clinical"};

qint64 now()
{
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return clock.elapsed();
}

} // namespace

const int DrillScript::sessions[3] = {101, 102, 103};

QString DrillEdit::toLine() const
{
    return QStringLiteral("edit %1 %2 %3 %4 %5 %6")
        .arg(index)
        .arg(QLatin1String(kKinds[kind]))
        .arg(session)
        .arg(position)
        .arg(number)
        .arg(text);
}

bool DrillEdit::fromLine(const QString &line, DrillEdit *edit)
{
    const QStringList parts = line.split(QLatin1Char(' '));
    if (parts.size() < 7 || parts.at(0) != QLatin1String("edit"))
        return false;
    edit->index = parts.at(1).toInt();
    const auto kind = std::find(std::begin(kKinds), std::end(kKinds), parts.at(2));
    if (kind == std::end(kKinds))
        return false;
    edit->kind = Kind(kind - std::begin(kKinds));
    edit->session = parts.at(3).toInt();
    edit->position = parts.at(4).toInt();
    edit->number = parts.at(5).toInt();
    edit->text = parts.mid(6).join(QLatin1Char(' '));
    edit->done = true;
    return true;
}

QRect DrillEdit::spotBox(int k)
{
    return QRect(1200 + 25 * (k % 10), 600 + 45 * (k / 10), 200 + k, 37);
}

int DrillEdit::spotNumber(const QRect &box)
{
    return box.height() == 37 && box.width() >= 200 && box.width() < 260 ? box.width() - 200 : -1;
}

DrillScript::DrillScript(kelvarisVisualizer *window, quint32 seed, const QString &files)
    : QObject(window), m_window(window), m_random(seed), m_files(files)
{
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(intervalMs);
    connect(&m_timer, &QTimer::timeout, this, &DrillScript::nextEdit);

    ServerVisualizer *server = window->server();
    // Connected after the window's own receivers, so the bar has been set.
    connect(server, &ServerVisualizer::uploadQueueChanged, this, [this](int jobs) {
        auto *bar = m_window->findChild<QProgressBar *>(QStringLiteral("progressBar"));
        const bool shown = bar && !bar->isHidden();
        if (shown != (jobs > 0)) {
            ++m_barMismatches;
            if (print)
                print(QStringLiteral("bar %1 %2").arg(jobs).arg(shown ? 1 : 0));
        }
    });
    connect(server, &ServerVisualizer::allDoneProgressBar, this, [this] {
        if (m_mirror.empty()) {
            checkMirror();
            return;
        }
        DrillJob job = m_mirror.front();
        m_mirror.pop_front();
        m_acknowledged.push_back(job);
        if (print) {
            QStringList ids;
            for (int e : job.edits)
                ids << QString::number(e);
            print(QStringLiteral("ack %1 %2").arg(job.session).arg(ids.join(QLatin1Char(','))));
        }
        emit acknowledgedJob(job.session);
    });
}

QSharedPointer<SessionVisualizer> DrillScript::session(int id) const
{
    const auto &all = m_window->sessionLoader()->sessions();
    const auto it = all.find(id);
    return it == all.end() ? QSharedPointer<SessionVisualizer>() : it->second;
}

void DrillScript::plan()
{
    std::vector<DrillEdit::Kind> kinds(40, DrillEdit::Spot);
    kinds.insert(kinds.end(), 6, DrillEdit::Label);
    kinds.insert(kinds.end(), 3, DrillEdit::Dermatoscopic);
    kinds.push_back(DrillEdit::Clinical);
    std::shuffle(kinds.begin(), kinds.end(), m_random);
    int spots = 0, labels = 0, pictures = 0;
    for (int i = 0; i < editCount; ++i) {
        DrillEdit edit;
        edit.index = i;
        edit.kind = kinds[size_t(i)];
        switch (edit.kind) {
        case DrillEdit::Spot:
            edit.session = sessions[m_random.bounded(3)];
            edit.text = QString::number(spots++);
            break;
        case DrillEdit::Label:
            edit.session = sessions[labels++ % 3];
            break;
        case DrillEdit::Dermatoscopic: {
            // Two on the principal session, one on an older one.
            edit.session = pictures++ < 2 ? 101 : sessions[1 + m_random.bounded(2)];
            QImage picture(480, 360, QImage::Format_RGB32);
            picture.fill(QColor(120 + 30 * pictures, 80 + 10 * i % 60, 60));
            picture.save(QDir(m_files).filePath(QStringLiteral("d%1.jpg").arg(i)), "JPG", 90);
            break;
        }
        case DrillEdit::Clinical: {
            edit.session = 101;
            QImage picture(400, 300, QImage::Format_RGB32);
            picture.fill(QColor(210, 170, 150));
            picture.save(QDir(m_files).filePath(QStringLiteral("c%1.jpg").arg(i)), "JPG", 90);
            break;
        }
        }
        m_edits.push_back(edit);
    }
}

void DrillScript::baselineSave()
{
    for (int id : sessions) {
        const QSharedPointer<SessionVisualizer> s = session(id);
        if (!s)
            continue;
        for (const auto &list : s->getLesions()) {
            if (list.empty() || list.front()->getPosition() < 0)
                continue;
            const auto &lesion = list.front();
            m_used.append({id, {lesion->getPosition(), lesion->getNumericID()}});
            lesion->setLabel(lesion->getLabel() == kLabels.at(4) ? kLabels.at(5) : kLabels.at(4));
            break;
        }
    }
    save();
    m_saves = 0;
}

void DrillScript::start()
{
    plan();
    m_startedAt = now();
    m_timer.start();
}

void DrillScript::nextEdit()
{
    if (m_next >= editCount)
        return;
    DrillEdit &edit = m_edits[size_t(m_next)];
    apply(edit);
    emit editMade(m_next);
    ++m_next;
    if (m_next % saveEvery != 0)
        return;
    if (m_next < editCount) {
        save();
        return;
    }
    m_timer.stop();
    m_allMade = true;
    finishWhenFiled();
}

void DrillScript::finishWhenFiled()
{
    // The last save waits for pictures still being read, so that it holds
    // every edit.
    if (!m_allMade || m_pendingFiles > 0)
        return;
    m_allMade = false;
    save();
    emit finished();
}

void DrillScript::apply(DrillEdit &edit)
{
    const QSharedPointer<SessionVisualizer> s = session(edit.session);
    if (!s)
        return;
    auto pickLesion = [&]() -> QSharedPointer<LesionVisualizer> {
        std::vector<QSharedPointer<LesionVisualizer>> free;
        for (const auto &list : s->getLesions())
            for (const auto &lesion : list)
                if (lesion->getPosition() >= 0 && DrillEdit::spotNumber(lesion->getMainRect()) < 0 &&
                    !m_used.contains({edit.session, {lesion->getPosition(), lesion->getNumericID()}}))
                    free.push_back(lesion);
        if (free.empty())
            return {};
        const auto lesion = free[size_t(m_random.bounded(int(free.size())))];
        m_used.append({edit.session, {lesion->getPosition(), lesion->getNumericID()}});
        edit.position = lesion->getPosition();
        edit.number = lesion->getNumericID();
        return lesion;
    };

    switch (edit.kind) {
    case DrillEdit::Spot: {
        std::vector<int> positions;
        for (int p = 0; p < 4; ++p)
            if (!s->getCameraPoses(p).empty())
                positions.push_back(p);
        if (positions.empty())
            return;
        const int position = positions[size_t(m_random.bounded(int(positions.size())))];
        const std::vector<CameraPose> poses = s->getCameraPoses(position);
        const CameraPose pose = poses[size_t(m_random.bounded(int(poses.size())))];
        const auto lesion =
            s->createLesion(pose, pose.alpha, pose.beta, position, DrillEdit::spotBox(edit.text.toInt()));
        edit.position = position;
        edit.number = lesion->getNumericID();
        edit.done = true;
        m_editsOf[edit.session] << edit.index;
        break;
    }
    case DrillEdit::Label: {
        const auto lesion = pickLesion();
        if (!lesion)
            return;
        QString label;
        do
            label = kLabels.at(m_random.bounded(int(kLabels.size())));
        while (label == lesion->getLabel());
        lesion->setLabel(label);
        edit.text = label;
        edit.done = true;
        m_editsOf[edit.session] << edit.index;
        break;
    }
    case DrillEdit::Dermatoscopic: {
        const auto lesion = pickLesion();
        if (!lesion)
            return;
        {
            QWidget holder; // the context menu's row makes the lesion current
            holder.setLayout(s->getContextMenuLayout(lesion));
        }
        ++m_pendingFiles;
        const int index = edit.index;
        auto connection = std::make_shared<QMetaObject::Connection>();
        *connection = connect(s.data(), &SessionVisualizer::externalImageFinished, this,
                              [this, index, connection, lesion](bool added) {
                                  disconnect(*connection);
                                  DrillEdit &filed = m_edits[size_t(index)];
                                  --m_pendingFiles;
                                  if (added) {
                                      filed.text = lesion->getLastDermatoscopicId();
                                      filed.done = true;
                                      m_editsOf[filed.session] << index;
                                      mirror(filed.session);
                                      if (print)
                                          print(filed.toLine());
                                  }
                                  finishWhenFiled();
                              });
        s->addExternalFile(QDir(m_files).filePath(QStringLiteral("d%1.jpg").arg(edit.index)));
        return; // printed once filed
    }
    case DrillEdit::Clinical: {
        SessionLoader *loader = m_window->sessionLoader();
        ++m_pendingFiles;
        const int index = edit.index;
        auto connection = std::make_shared<QMetaObject::Connection>();
        *connection = connect(
            loader, &SessionLoader::clinicalImageAdded, this, [this, index, connection, s](bool added) {
                disconnect(*connection);
                DrillEdit &filed = m_edits[size_t(index)];
                --m_pendingFiles;
                if (added) {
                    const auto poses = s->getCameraPoses(SessionVisualizer::externalPosition);
                    filed.text = s->clinicalImageName(poses.back(), SessionVisualizer::externalPosition);
                    filed.done = true;
                    m_editsOf[filed.session] << index;
                    mirror(filed.session);
                    if (print)
                        print(filed.toLine());
                }
                finishWhenFiled();
            });
        loader->addClinicalImageFile(QDir(m_files).filePath(QStringLiteral("c%1.jpg").arg(edit.index)));
        return;
    }
    }
    if (print && edit.done)
        print(edit.toLine());
}

void DrillScript::mirror(int id)
{
    m_mirror.push_back({id, m_editsOf[id]});
    checkMirror();
}

void DrillScript::checkMirror()
{
    // Acknowledgements are matched to edits through this mirror: it must
    // hold what the queue holds.
    const int jobs = m_window->server()->uploadQueueSize();
    if (int(m_mirror.size()) == jobs)
        return;
    ++m_mirrorMismatches;
    if (print)
        print(QStringLiteral("mirror %1 %2").arg(m_mirror.size()).arg(jobs));
}

void DrillScript::save()
{
    // What saveSessions will queue: the changed sessions, in order.
    for (const auto &entry : m_window->sessionLoader()->sessions())
        if (entry.second && entry.second->hasChangesToSave())
            m_mirror.push_back({entry.first, m_editsOf[entry.first]});
    m_window->saveSessionButton_clicked();
    checkMirror();
    ++m_saves;
    m_lastSaveAt = now() - m_startedAt;
    if (print)
        print(QStringLiteral("save %1").arg(m_saves));
}
