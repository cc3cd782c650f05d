#include "app/PatientSearch.h"

#include "app/LoginFlow.h"
#include "app/kelvarisVisualizer.h"
#include "server/ServerVisualizer.h"
#include "widgets/Trace.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QBoxLayout>
#include <QCommonStyle>
#include <QCompleter>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QStyledItemDelegate>
#include <QTimer>

#include <algorithm>
#include <vector>

namespace {

QStandardItemModel *emptyPatientModel(QObject *parent)
{
    auto *model = new QStandardItemModel(0, 3, parent);
    model->setHorizontalHeaderLabels(
        {PatientSearch::tr("Id | Name"), PatientSearch::tr("Id"), PatientSearch::tr("Name")});
    return model;
}

// The popup's own plain style, shared and kept as long as the application:
// a widget must never outlive its style.
QStyle *popupStyle()
{
    static QPointer<QCommonStyle> style;
    if (!style) {
        style = new QCommonStyle;
        style->setParent(qApp);
    }
    return style;
}

const QString kDashes(117, QLatin1Char('-'));

} // namespace

PatientSearch::PatientSearch(QWidget *window, const Widgets &widgets)
    : QObject(window), m_window(window), m_field(widgets.field)
{
    m_field->setStyleSheet(searchStyleClosed());
    buildPanel(widgets.panelLayout);

    // The completer exists from the start: a doctor whose first list is empty
    // or failed can still search.
    m_completer = new QCompleter(this);
    m_completer->setObjectName(QStringLiteral("patientCompleter"));
    m_model = emptyPatientModel(m_completer);
    m_completer->setModel(m_model);
    m_completer->setCompletionColumn(IdAndNameColumn);
    m_completer->setFilterMode(Qt::MatchContains);
    m_completer->setCaseSensitivity(Qt::CaseInsensitive);
    m_completer->setMaxVisibleItems(8);
    m_field->setCompleter(m_completer);
    configurePopup();
    connect(m_completer, qOverload<const QModelIndex &>(&QCompleter::activated), this,
            &PatientSearch::patientSelected);

    connect(widgets.searchButton, &QPushButton::clicked, this, &PatientSearch::focusSearchField);
}

void PatientSearch::configurePopup()
{
    QAbstractItemView *popup = m_completer->popup();
    popup->setItemDelegate(new QStyledItemDelegate(popup));
    popup->setObjectName(QStringLiteral("completerPopup"));
    popup->installEventFilter(this);
    const Qt::WindowFlags extra = Qt::FramelessWindowHint | Qt::NoDropShadowWindowHint;
    popup->setWindowFlags(popup->windowFlags() | extra);
    popup->verticalScrollBar()->setWindowFlags(popup->verticalScrollBar()->windowFlags() | extra);
    popup->setAutoFillBackground(false);
    popup->setStyle(popupStyle());
}

void PatientSearch::buildPanel(QBoxLayout *layout)
{
    m_panel = new QWidget;
    m_panel->setObjectName(QStringLiteral("infoPatient"));
    m_panel->setMinimumWidth(42);
    m_panel->setMaximumWidth(200);
    auto *column = new QVBoxLayout(m_panel);
    column->setContentsMargins(0, 0, 0, 0);
    m_nameLabel = new QLabel(m_panel);
    m_birthdayLabel = new QLabel(m_panel);
    for (QLabel *label : {m_nameLabel, m_birthdayLabel}) {
        label->setObjectName(QStringLiteral("labelPatient"));
        label->setAlignment(Qt::AlignCenter);
        column->addWidget(label);
    }
    resetPatientPanel();
    // Shown with a loaded session.
    m_panel->hide();
    layout->insertWidget(0, m_panel);
}

void PatientSearch::connectTo(ServerVisualizer *server, LoginFlow *login)
{
    m_server = server;
    connect(server, &ServerVisualizer::newPatients, this, &PatientSearch::newPatients);
    connect(login, &LoginFlow::loggedIn, this, [this](bool isDoctor) { loggedIn(isDoctor); });
    connect(login, &LoginFlow::loggedOut, this, &PatientSearch::loggedOut);
}

QString PatientSearch::searchStyleClosed()
{
    return QStringLiteral("QLineEdit#searchLineEdit{border: 1px solid rgb(255,218,195);border-radius: "
                          "18px;background-color: rgb(33, 33, 34);color: white;min-width: 18em;padding: "
                          "6px;font: 17px;border-top-left-radius: 0px;border-bottom-left-radius: "
                          "0px;border-left: 0px;}");
}

QString PatientSearch::searchStyleOpen()
{
    return QStringLiteral("QLineEdit#searchLineEdit{border: 1px solid rgb(255,218,195);border-radius: "
                          "18px;background-color: rgb(33, 33, 34);color: white;min-width: 18em;padding: "
                          "6px;font: 17px;border-top-left-radius: 0px;border-bottom-left-radius: "
                          "0px;border-bottom-right-radius: 0px;border-left: 0px;}");
}

QString PatientSearch::searchTextFor(const QString &fieldText)
{
    const int p = int(fieldText.indexOf(QLatin1Char('|')));
    return p > 0 ? fieldText.left(p - 1) : fieldText;
}

void PatientSearch::loggedIn(bool isDoctor)
{
    m_active = isDoctor;
    m_searched = false;
    if (isDoctor)
        m_field->setFocus(Qt::OtherFocusReason);
}

void PatientSearch::loggedOut()
{
    m_active = false;
    m_searched = false;
    m_completer->popup()->hide();
    m_field->clear();
    m_knownPatients.clear();
    m_lastChosenId.clear();
    rebuildModel();
    resetPatientPanel();
}

void PatientSearch::newPatients(const std::unordered_map<std::string, Patient> &patients)
{
    if (!m_active)
        return;
    // A newer answer replaces what an older one said about the same patient.
    for (const auto &[id, patient] : patients)
        m_knownPatients.insert_or_assign(id, patient);
    rebuildModel();
    // Only while the user is in the field, and nothing modal (the loading
    // dialog) covers the window.
    if (m_searched && m_field->isVisible() && m_field->window()->focusWidget() == m_field &&
        !QApplication::activeModalWidget()) {
        m_completer->setCompletionPrefix(m_field->text());
        m_completer->complete();
    }
}

void PatientSearch::rebuildModel()
{
    // Ordered by identifier, so the list reads the same on every answer.
    std::vector<const Patient *> ordered;
    ordered.reserve(m_knownPatients.size());
    for (const auto &entry : m_knownPatients)
        ordered.push_back(&entry.second);
    std::sort(ordered.begin(), ordered.end(), [](const Patient *a, const Patient *b) {
        return a->centerID != b->centerID ? a->centerID < b->centerID : a->patientID < b->patientID;
    });
    QStandardItemModel *model = emptyPatientModel(m_completer);
    for (const Patient *p : ordered) {
        const QString name = QString::fromStdString(p->name);
        const QString entry = (QString::fromStdString(p->centerID) + QStringLiteral(" | ") + name).trimmed();
        model->appendRow({new QStandardItem(entry), new QStandardItem(QString::fromStdString(p->patientID)),
                          new QStandardItem(name)});
    }
    // The completer deletes the model it owned before, and gives its popup a
    // delegate of its own: the popup is configured again.
    m_completer->setModel(model);
    m_model = model;
    configurePopup();
}

void PatientSearch::textChanged(const QString &text)
{
    if (!m_active || !m_server)
        return;
    m_field->setStyleSheet(m_completer->popup()->isVisible() ? searchStyleOpen() : searchStyleClosed());
    emit m_server->cancelDownloadListPatients();
    m_server->listPatientsSearch(searchTextFor(text));
    m_searched = true;
}

void PatientSearch::returnPressed()
{
    if (!m_active || !m_server)
        return;
    emit m_server->cancelDownloadListPatients();
    // The field sees the Return before the popup does: an entry highlighted in
    // the open popup is chosen by the completer right after, not here as well.
    QAbstractItemView *popup = m_completer->popup();
    if (popup->isVisible() && popup->currentIndex().isValid())
        return;
    m_field->clearFocus();
    const QString text = m_field->text();
    // The rows matching the field as it reads now, also after a programmatic change.
    m_completer->setCompletionPrefix(text);
    QAbstractItemModel *rows = m_completer->completionModel();
    for (int r = 0; r < rows->rowCount(); ++r) {
        if (rows->index(r, NameColumn).data().toString() == text) {
            patientSelected(rows->index(r, IdAndNameColumn));
            return;
        }
    }
    if (rows->rowCount() == 1) {
        const QPersistentModelIndex only = rows->index(0, IdAndNameColumn);
        m_field->setText(rows->index(0, NameColumn).data().toString());
        patientSelected(only);
        return;
    }
    kelvaris::trace(rows->rowCount() > 1 ? QStringLiteral("no unique match found")
                                         : QStringLiteral("no match found "));
}

void PatientSearch::patientSelected(const QModelIndex &index)
{
    if (!index.isValid())
        return;
    const QString id = index.sibling(index.row(), ServerIdColumn).data().toString();
    bool numeric = false;
    const int number = id.toInt(&numeric);
    // Loading an empty or non-numeric id would ask the server for no one.
    if (!numeric || number <= 0) {
        kelvaris::trace(QStringLiteral("PatientSearch: an entry without a server id"));
        kelvarisVisualizer::showNotification(tr("This patient cannot be opened: the server gave no id"));
        return;
    }
    Patient patient;
    const auto known = m_knownPatients.find(id.toStdString());
    if (known != m_knownPatients.end())
        patient = known->second;
    patient.patientID = id.toStdString();

    if (id != m_lastChosenId) {
        for (int i = 0; i < 3; ++i)
            kelvaris::trace(kDashes);
        kelvaris::trace(QStringLiteral("---------------------------------------------Completer Activated----"
                                       "-------------------------------------------------"));
        for (int i = 0; i < 2; ++i)
            kelvaris::trace(kDashes);
    }
    m_lastChosenId = id;
    m_nameLabel->setText(QString::fromStdString(patient.name));
    // One format whichever way the patient was chosen.
    m_birthdayLabel->setText(
        patient.birthdate.isValid() ? patient.birthdate.toString(QStringLiteral("yyyy-MM-dd")) : QString());
    emit patientChosen(patient);
}

void PatientSearch::focusSearchField()
{
    if (!m_field->isVisible())
        return;
    m_field->setFocus(Qt::ShortcutFocusReason);
    m_field->selectAll();
}

void PatientSearch::resetPatientPanel()
{
    m_nameLabel->setText(tr("Patient Name"));
    m_birthdayLabel->setText(tr("Birthday"));
}

bool PatientSearch::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_completer->popup()) {
        if (event->type() == QEvent::Show)
            m_field->setStyleSheet(searchStyleOpen());
        else if (event->type() == QEvent::Hide)
            m_field->setStyleSheet(searchStyleClosed());
    }
    return QObject::eventFilter(watched, event);
}
