// The lesion context menu of a session, its widget row, and the editing both
// offer: labels, an image from a file, deletion.
#include "session/SessionVisualizer.h"

#include "session/QtLesionsInfoDialog.h"
#include "widgets/CustomHoverButton.h"
#include "widgets/CustomMessageBox.h"
#include "widgets/IconHelpers.h"
#include "widgets/Trace.h"

#include <QAbstractButton>
#include <QBuffer>
#include <QButtonGroup>
#include <QEvent>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QImageReader>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWidgetAction>
#include <QtConcurrent/QtConcurrentRun>

namespace {
const QColor accentColour(255, 218, 195);

// A menu entry made of a widget is not triggered by QMenu: a left release on
// the widget triggers its action.
class EntryClickFilter : public QObject
{
public:
    EntryClickFilter(QWidgetAction *action, QObject *parent) : QObject(parent), m_action(action) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::MouseButtonRelease &&
            static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton && m_action->isEnabled()) {
            m_action->trigger();
            return true;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QWidgetAction *m_action;
};

// Checks the button of a label; a label outside the set leaves none checked.
template <typename Map> void checkLabelButton(QButtonGroup *group, const Map &buttons, const QString &label)
{
    if (!group)
        return;
    group->setExclusive(false);
    for (auto it = buttons.begin(); it != buttons.end(); ++it) {
        if (it.value())
            it.value()->setChecked(it.key() == label);
    }
    group->setExclusive(true);
}

struct ExternalFile
{
    bool opened = false;
    QByteArray bytes;
    QImage image;
    QImage thumbnail;
};

// Runs on the thread pool: reading the file and both decodes.
ExternalFile readExternalFile(const QString &path)
{
    ExternalFile result;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return result;
    result.opened = true;
    result.bytes = file.readAll();
    if (!SessionVisualizer::isCompleteJpeg(result.bytes))
        return result;
    QBuffer buffer(&result.bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "JPEG");
    // What is stored is uploaded as a JPEG: another format under a .jpg name
    // is refused, not guessed.
    reader.setAutoDetectImageFormat(false);
    result.image = reader.read();
    if (!result.image.isNull())
        result.thumbnail = result.image.scaledToHeight(300, Qt::SmoothTransformation);
    return result;
}

void showWarning(const QString &message, const QString &title)
{
    CustomMessageBox box(message, title);
    box.cancelButton()->hide();
    box.exec();
}
} // namespace

bool SessionVisualizer::isCompleteJpeg(const QByteArray &bytes)
{
    const auto *b = reinterpret_cast<const unsigned char *>(bytes.constData());
    const qsizetype n = bytes.size();
    if (n < 4 || b[0] != 0xFF || b[1] != 0xD8)
        return false;
    qsizetype i = 2;
    bool scanned = false;
    while (i < n) {
        if (b[i] != 0xFF)
            return false;
        while (i < n && b[i] == 0xFF)
            ++i;
        if (i >= n)
            return false;
        const unsigned char marker = b[i++];
        if (marker == 0xD9)
            return scanned;
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7))
            continue;
        if (i + 2 > n)
            return false;
        const qsizetype length = (qsizetype(b[i]) << 8) | b[i + 1];
        if (length < 2 || i + length > n)
            return false;
        i += length;
        if (marker != 0xDA)
            continue;
        // Entropy-coded data runs to the next marker that is not a stuffed
        // byte or a restart marker. Segments (EXIF thumbnails included) were
        // skipped by their length, so only the main image's end counts.
        scanned = true;
        while (true) {
            if (i + 1 >= n)
                return false;
            if (b[i] != 0xFF) {
                ++i;
                continue;
            }
            const unsigned char next = b[i + 1];
            if (next == 0xFF) {
                ++i;
                continue;
            }
            if (next == 0x00 || (next >= 0xD0 && next <= 0xD7)) {
                i += 2;
                continue;
            }
            break;
        }
    }
    return false;
}

QString SessionVisualizer::newExternalDermatoscopicId(const QDateTime &now)
{
    return now.toString(QStringLiteral("yyyyMMdd")) + QLatin1Char('_') +
           QString::number(now.toMSecsSinceEpoch()) + QLatin1Char('e');
}

QWidgetAction *SessionVisualizer::createMenuEntry(const QString &iconPath, const QString &text)
{
    auto *action = new QWidgetAction(m_menu.get());
    auto *widget = new QWidget;
    widget->setObjectName(QStringLiteral("actionWidgetInMenu"));
    auto *layout = new QHBoxLayout(widget);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(20);
    auto *icon = new QLabel(widget);
    icon->setFixedSize(32, 32);
    icon->setScaledContents(true);
    icon->setPixmap(svgToPixmap(recolorSvg(iconPath, accentColour), QSize(32, 32)));
    auto *label = new QLabel(text, widget);
    label->setObjectName(QStringLiteral("labelWidgetInMenu"));
    layout->addWidget(icon);
    layout->addWidget(label);
    layout->addStretch();
    action->setDefaultWidget(widget);
    widget->installEventFilter(new EntryClickFilter(action, widget));
    return action;
}

void SessionVisualizer::createContextMenu()
{
    if (m_menu)
        return;
    m_menu = std::make_unique<QMenu>();
    QMenu *menu = m_menu.get();
    menu->setObjectName(QStringLiteral("lesionMenu"));
    menu->setWindowFlags(Qt::Popup | Qt::FramelessWindowHint | Qt::NoDropShadowWindowHint);
    menu->setAttribute(Qt::WA_TranslucentBackground);
    menu->setAttribute(Qt::WA_AcceptTouchEvents);

    // 1. Label row.
    auto *labelAction = new QWidgetAction(menu);
    auto *labelWidget = new QWidget;
    labelWidget->setObjectName(QStringLiteral("labelWidget"));
    labelWidget->setAttribute(Qt::WA_AcceptTouchEvents);
    auto *labelLayout = new QHBoxLayout(labelWidget);
    m_menuGroup = new QButtonGroup(labelWidget);
    m_menuGroup->setExclusive(true);
    m_menuButtons.clear();
    for (const QString &label : LesionVisualizer::labelNames()) {
        auto *button = new CustomHoverButton(LesionVisualizer::legendIconPath(label, true),
                                             LesionVisualizer::legendIconPath(label, false), QSize(32, 32));
        button->setText(label);
        button->setCheckable(true);
        button->setIconSize(QSize(32, 32));
        button->setObjectName(QStringLiteral("labelButton") + label);
        labelLayout->addWidget(button);
        m_menuGroup->addButton(button);
        m_menuButtons.insert(label, button);
    }
    labelAction->setDefaultWidget(labelWidget);
    menu->addAction(labelAction);
    connect(m_menuGroup, &QButtonGroup::buttonClicked, this, [this](QAbstractButton *button) {
        changeLabel(m_menuGroup, m_menuButtons, true);
        kelvaris::trace(QStringLiteral("DINS buttonGroupLabel ") +
                        QString::number(button->iconSize().width()) + QLatin1Char('x') +
                        QString::number(button->iconSize().height()));
        // A question asked on the way may already have closed the menu.
        if (m_menu->isVisible())
            m_menu->close();
        else
            aboutToHideContextMenu();
    });
    menu->addSeparator();

    // 2. An image from a file.
    QWidgetAction *upload =
        createMenuEntry(QStringLiteral(":/icon/ExplorerPhoto"), tr("Upload image from computer"));
    menu->addAction(upload);
    connect(upload, &QAction::triggered, this, [this]() {
        m_menu->close();
        addExternal();
    });

    // 3. An image from a paired device: live once device requests exist.
    QWidgetAction *capture =
        createMenuEntry(QStringLiteral(":/icon/MobilePhoto"), tr("Capture image with device"));
    capture->setEnabled(false);
    capture->defaultWidget()->setEnabled(false);
    menu->addAction(capture);
    connect(capture, &QAction::triggered, this,
            []() { kelvaris::trace(QStringLiteral("DINS connect &QWidgetAction::triggered")); });
    menu->addSeparator();

    // 4. Deletion.
    QWidgetAction *remove = createMenuEntry(QStringLiteral(":/icon/delete"), tr("Delete lesion"));
    menu->addAction(remove);
    connect(remove, &QAction::triggered, this, [this]() {
        m_menu->close();
        deleteCurrentLesion();
    });
    menu->addSeparator();

    // 5. Information on the lesion, hidden until asked for.
    m_infoAction = new QWidgetAction(menu);
    m_infoWidget = new QWidget;
    auto *infoLayout = new QVBoxLayout(m_infoWidget);
    auto makeInfoLabel = [this]() {
        auto *label = new QLabel(m_infoWidget);
        label->setObjectName(QStringLiteral("labelInfoExtra"));
        label->setTextFormat(Qt::PlainText);
        return label;
    };
    m_positionLabel = makeInfoLabel();
    m_radiusLabel = makeInfoLabel();
    m_anglesLabel = makeInfoLabel();
    m_mesureLabel = makeInfoLabel();
    m_anglesLabel->hide();
    m_mesureLabel->hide();
    infoLayout->addWidget(m_positionLabel);
    infoLayout->addWidget(m_radiusLabel);
    m_infoAction->setDefaultWidget(m_infoWidget);
    m_infoAction->setVisible(m_extraInfoVisible);
    menu->addAction(m_infoAction);

    connect(menu, &QMenu::aboutToHide, this, &SessionVisualizer::aboutToHideContextMenu);
}

void SessionVisualizer::fillExtraInfo(const QSharedPointer<LesionVisualizer> &lesion)
{
    if (!m_infoWidget || !lesion)
        return;
    const QVector3D centre = lesion->getCentre();
    m_positionLabel->setText(tr("Position: ") + QString::number(centre.x(), 'g', 6) + QStringLiteral(", ") +
                             QString::number(centre.y(), 'g', 6) + QStringLiteral(", ") +
                             QString::number(centre.z(), 'g', 6));
    QString radius = tr("Radius: ") + QString::number(lesion->getRadius(), 'g', 6);
    const auto changes = lesion->getRadiusChanges();
    if (changes.first != -1.0) {
        radius += tr(" Previous: ");
        for (double r : changes.second)
            radius += QString::number(r, 'g', 3) + QLatin1Char(' ');
        radius += tr(" Change: ") + QString::number(changes.first, 'g', 2);
    }
    m_radiusLabel->setText(radius);
    const auto angles = lesion->getPlaneAngles();
    m_anglesLabel->setText(tr("Angles: ") + QString::number(angles.first, 'g', 6) + QStringLiteral(", ") +
                           QString::number(angles.second, 'g', 6));
    const auto mesure = lesion->getMesure();
    m_mesureLabel->setText(tr("Mesure: ") + QString::number(mesure.first, 'g', 6) + QStringLiteral(", ") +
                           QString::number(mesure.second, 'g', 6));
}

QMenu *SessionVisualizer::getContextMenu(const QSharedPointer<LesionVisualizer> &lesion)
{
    if (!lesion) {
        kelvaris::trace(QStringLiteral("NULL"));
        return nullptr;
    }
    createContextMenu();
    m_currentLesion = lesion;
    m_pendingLabel.clear();
    checkLabelButton(m_menuGroup, m_menuButtons, lesion->getLabel());
    fillExtraInfo(lesion);
    m_infoAction->setVisible(m_extraInfoVisible);
    return m_menu.get();
}

QHBoxLayout *SessionVisualizer::createContextMenuLayout()
{
    auto *layout = new QHBoxLayout;
    layout->addStretch();
    auto *labelWidget = new QWidget;
    labelWidget->setObjectName(QStringLiteral("labelWidgetL"));
    labelWidget->setAttribute(Qt::WA_AcceptTouchEvents);
    auto *labelLayout = new QHBoxLayout(labelWidget);
    auto *group = new QButtonGroup(labelWidget);
    group->setExclusive(true);
    QMap<QString, QAbstractButton *> buttons;
    m_rowButtons.clear();
    for (const QString &label : LesionVisualizer::labelNames()) {
        auto *button = new QPushButton(label, labelWidget);
        button->setCheckable(true);
        button->setIcon(QIcon(svgFileToPixmap(LesionVisualizer::legendIconPath(label, true), QSize(40, 40))));
        button->setIconSize(QSize(40, 40));
        button->setObjectName(QStringLiteral("labelButtonL"));
        button->setStyleSheet(QStringLiteral("QPushButton { color : %1;text-align: center; font:18px; }")
                                  .arg(LesionVisualizer::labelColor(label).name()));
        labelLayout->addWidget(button);
        group->addButton(button);
        buttons.insert(label, button);
        m_rowButtons.insert(label, button);
    }
    m_rowGroup = group;
    connect(group, &QButtonGroup::buttonClicked, this, [this, group, buttons]() {
        kelvaris::trace(QStringLiteral("DINS buttonGroupLabel"));
        changeLabel(group, buttons, false);
    });
    layout->addWidget(labelWidget);

    auto *fromFile = new CustomHoverButton(QStringLiteral(":/icon/ExplorerPhoto"), QString(), QSize(40, 40));
    fromFile->setObjectName(QStringLiteral("labelButton"));
    fromFile->setIconSize(QSize(40, 40));
    connect(fromFile, &QPushButton::clicked, this, &SessionVisualizer::addExternal);
    layout->addWidget(fromFile);

    // Live once device requests exist.
    auto *fromDevice = new CustomHoverButton(QStringLiteral(":/icon/MobilePhoto"), QString(), QSize(40, 40));
    fromDevice->setObjectName(QStringLiteral("labelButton"));
    fromDevice->setIconSize(QSize(40, 40));
    fromDevice->setEnabled(false);
    connect(fromDevice, &QPushButton::clicked, this,
            []() { kelvaris::trace(QStringLiteral("DINS uploadImagePhone")); });
    layout->addWidget(fromDevice);
    layout->addStretch();
    return layout;
}

QHBoxLayout *SessionVisualizer::getContextMenuLayout(const QSharedPointer<LesionVisualizer> &lesion)
{
    if (!lesion) {
        kelvaris::trace(QStringLiteral("NULL"));
        return nullptr;
    }
    m_currentLesion = lesion;
    QHBoxLayout *layout = createContextMenuLayout();
    checkLabelButton(m_rowGroup.data(), m_rowButtons, lesion->getLabel());
    return layout;
}

void SessionVisualizer::changeLabel(QButtonGroup *group, const QMap<QString, QAbstractButton *> &buttons,
                                    bool deferred)
{
    Q_UNUSED(group)
    QString label;
    for (auto it = buttons.constBegin(); it != buttons.constEnd(); ++it) {
        if (it.value() && it.value()->isChecked()) {
            label = it.key();
            break;
        }
    }
    // Held strongly: the question below runs an event loop in which the menu
    // may be opened for another lesion or this one deleted.
    const QSharedPointer<LesionVisualizer> lesion = m_currentLesion;
    if (label.isEmpty() || !lesion)
        return;

    if (!lesion->isInPrincipalSession()) {
        if (!lesion->getPrincipalLesion()) {
            QMessageBox box;
            box.setWindowIcon(QIcon(QStringLiteral(":/rsc/LOGO-03.jpg")));
            box.setIcon(QMessageBox::Warning);
            box.setWindowTitle(tr("Warning"));
            box.setText(tr("Warning: the lesion was not detected in the last session."));
            box.setInformativeText(tr("Do you want to save your changes?"));
            box.setStandardButtons(QMessageBox::Save | QMessageBox::Discard);
            box.setDefaultButton(QMessageBox::Save);
            const int answer = box.exec();
            if (answer != QMessageBox::Save || !containsLesion(lesion)) {
                // Nothing changed: the buttons show the lesion's label again.
                if (containsLesion(lesion) && lesion == m_currentLesion)
                    checkLabelButton(group, buttons, lesion->getLabel());
                return;
            }
        }
        for (const auto &newer : lesion->getNewerHistoricLesions())
            newer->setLabel(label);
    }
    if (deferred && lesion == m_currentLesion)
        m_pendingLabel = label;
    else
        lesion->setLabel(label);
}

void SessionVisualizer::aboutToHideContextMenu()
{
    if (m_pendingLabel.isEmpty())
        return;
    const QString label = m_pendingLabel;
    m_pendingLabel.clear();
    if (m_currentLesion && containsLesion(m_currentLesion))
        m_currentLesion->setLabel(label);
}

QWidget *SessionVisualizer::getExtraInfoWidget() const
{
    return m_infoWidget;
}

void SessionVisualizer::setExtraInfoVisible(bool visible)
{
    m_extraInfoVisible = visible;
    if (m_infoAction)
        m_infoAction->setVisible(visible);
    if (visible && m_currentLesion)
        fillExtraInfo(m_currentLesion);
}

void SessionVisualizer::showLesionsExtraInfo()
{
    kelvaris::trace(QStringLiteral("DINS SessionVisualizer::showLesionsExtraInfo"));
    setExtraInfoVisible(true);
    QtLesionsInfoDialog dialog;
    dialog.exec();
}

void SessionVisualizer::deleteCurrentLesion()
{
    const QSharedPointer<LesionVisualizer> lesion = m_currentLesion;
    if (!lesion)
        return;
    CustomMessageBox box(tr("Are you sure you want to delete the Lesion\n and all the assigned images?\n"),
                         tr("Delete Lesion"));
    if (box.exec() != QDialog::Accepted)
        return;
    deleteLesion(lesion);
    if (m_menu)
        m_menu->close();
    m_currentLesion.reset();
}

void SessionVisualizer::addExternal()
{
    const QSharedPointer<LesionVisualizer> lesion = m_currentLesion;
    if (!lesion)
        return;
    if (!lesion->isInPrincipalSession()) {
        CustomMessageBox box(
            tr("Warning: The image will be saved in an old session.\n Do you want to upload an image?"),
            tr("Update Image"));
        if (box.exec() != QDialog::Accepted)
            return;
    }
    const QString path = QFileDialog::getOpenFileName(nullptr, QString(), QString(), tr("Images ( *.jpg)"));
    if (path.isEmpty())
        return;
    addExternalFileTo(lesion, path);
}

void SessionVisualizer::addExternalFile(const QString &path)
{
    addExternalFileTo(m_currentLesion, path);
}

void SessionVisualizer::addExternalFileTo(const QSharedPointer<LesionVisualizer> &lesion, const QString &path)
{
    if (!lesion) {
        emit externalImageFinished(false);
        return;
    }
    // The path is not traced: file names may name the patient.
    kelvaris::trace(QStringLiteral("DINS SessionVisualizer::addExternal"));
    const QWeakPointer<LesionVisualizer> weak = lesion;
    QtConcurrent::run(readExternalFile, path).then(this, [this, weak](ExternalFile file) {
        const QSharedPointer<LesionVisualizer> target = weak.toStrongRef();
        // The lesion may have been deleted while the file was read.
        if (!target || !containsLesion(target)) {
            emit externalImageFinished(false);
            return;
        }
        if (!file.opened || file.image.isNull()) {
            showWarning(tr("Warning: The image is corrupt"), tr("Warning"));
            emit externalImageFinished(false);
            return;
        }
        QString id = newExternalDermatoscopicId(QDateTime::currentDateTime());
        // Two images added within one millisecond must not share a key.
        for (qint64 ms = QDateTime::currentMSecsSinceEpoch(); hasFile(dermatoscopicPath(id), -1);)
            id = newExternalDermatoscopicId(QDateTime::fromMSecsSinceEpoch(++ms));
        // The stored key and the uploaded name share one extension, whatever
        // the case of the chosen file's.
        const QString fileName = id + QStringLiteral(".jpg");
        const bool hadDermato = target->hasDermatoscopicGroups();
        addDermatoscopicFile(fileName, file.bytes, -4);
        target->addDermatoscopicImage(id);
        target->setIcon(file.thumbnail);
        emit target->newDermatoImage(id);
        emit addedNewDermatoscopicImage(fileName, file.image, hadDermato);
        if (!hadDermato)
            emit newLesionCaptured(target);
        emit externalImageFinished(true);
    });
}
