// Device image requests of a session: asking a paired phone for a lesion's
// dermatoscopic image or an external clinical image, and filing it.

#include "session/SessionVisualizer.h"

#include "app/kelvarisVisualizer.h"
#include "capture/qtExternalManualDialog.h"
#include "widgets/CustomMessageBox.h"
#include "widgets/Trace.h"

#include <QPointer>

using kelvaris::trace;

void SessionVisualizer::requestManualImageD(QSharedPointer<LesionVisualizer> lesion)
{
    trace(QStringLiteral("DINS SessionVisualizer::requestManualImageD"));
    if (!lesion) {
        trace(QStringLiteral("Null lesion"));
        kelvarisVisualizer::showNotification(tr("Unable to request old session image"), 5000);
        return;
    }
    forgetRequest();
    const QString name = lesion->getLesionIdText();
    m_pendingDevice.insert(name, lesion);
    m_requestName = name;
    // The request may end while it is being sent (no device, no sync
    // session): then no dialog is opened.
    m_requestClosedEarly = false;
    const auto early =
        connect(this, &SessionVisualizer::closeRequestDialog, this, [this] { m_requestClosedEarly = true; });
    emit requestManualImageSignal(name, QStringLiteral("D"));
    disconnect(early);
    kelvarisVisualizer::showNotification(tr("Requested new image"), 5000);
    requestDialog();
}

void SessionVisualizer::requestManualImageC()
{
    trace(QStringLiteral("DINS SessionVisualizer::requestManualImageC"));
    forgetRequest();
    const size_t held = m_cameraPoses.value(externalPosition).size() + size_t(m_pendingClinical.size());
    if (held >= size_t(maxExternalImages)) {
        CustomMessageBox box(tr("You have reached the limit of allowed images"), tr("Full capacity"));
        box.exec();
        return;
    }
    const CameraPose pose = newClinicalPosition();
    const QString name = clinicalImageName(pose, externalPosition);
    m_pendingClinical.insert(name, pose);
    m_usedClinicalNames.insert(name);
    m_requestName = name;
    m_requestClosedEarly = false;
    const auto early =
        connect(this, &SessionVisualizer::closeRequestDialog, this, [this] { m_requestClosedEarly = true; });
    emit requestManualImageSignal(name, QStringLiteral("C"));
    disconnect(early);
    kelvarisVisualizer::showNotification(tr("Requested new image."), 5000);
    requestDialog();
}

void SessionVisualizer::requestDialog()
{
    if (m_requestClosedEarly) {
        m_requestClosedEarly = false;
        forgetRequest();
        return;
    }
    QPointer<SessionVisualizer> self(this);
    auto *dialog = new qtExternalManualDialog(nullptr);
    QPointer<qtExternalManualDialog> guard(dialog);
    dialog->setModal(true);
    connect(this, &SessionVisualizer::closeRequestDialog, dialog, &QDialog::accept);
    m_requestDialog = dialog;
    const int result = dialog->exec();
    delete guard.data();
    if (!self)
        return;
    m_requestDialog = nullptr;
    // Whatever ended the wait, the request is over: a late picture of it is
    // not filed.
    forgetRequest();
    if (result == QDialog::Rejected)
        emit cancelImageRequest({});
}

qtExternalManualDialog *SessionVisualizer::getRequestDialog() const
{
    return qobject_cast<qtExternalManualDialog *>(m_requestDialog.data());
}

void SessionVisualizer::forgetRequest()
{
    m_pendingDevice.remove(m_requestName);
    m_pendingClinical.remove(m_requestName);
    m_requestName.clear();
}

void SessionVisualizer::recievedRequestedImage(QString name, QString type, QString filename, QByteArray bytes,
                                               QImage image, int quality)
{
    if (type == QLatin1String("D")) {
        trace(filename + QLatin1Char(' ') + name);
        const QSharedPointer<LesionVisualizer> lesion = m_pendingDevice.take(name).toStrongRef();
        if (lesion) {
            const QString id = filename.section(QLatin1Char('.'), 0, 0);
            lesion->addDermatoscopicImage(id);
            lesion->setIcon(image);
            lesion->pixmapChanged();
            emit lesion->newDermatoImage(id);
            if (lesion->getDermatosopicIds().size() == 1)
                emit newLesionCaptured(lesion);
            kelvarisVisualizer::showNotification(tr("Recieved new image."), 5000);
        }
    } else if (type == QLatin1String("C")) {
        const auto pending = m_pendingClinical.constFind(name);
        if (pending != m_pendingClinical.constEnd()) {
            m_cameraPoses[externalPosition].push_back(pending.value());
            m_pendingClinical.erase(pending);
            storeFile(m_folderPath + QStringLiteral("/imgL/") + name + QStringLiteral(".jpg"), bytes,
                      quality);
            m_changesToSave = true;
            emit newClinicalExternalImageArrived();
            kelvarisVisualizer::showNotification(tr("Recieved new image."), 5000);
        }
    }
    emit closeRequestDialog();
}
