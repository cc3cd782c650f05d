#pragma once

#include "server/Patient.h"

#include <QModelIndex>
#include <QObject>
#include <QString>

#include <string>
#include <unordered_map>

class LoginFlow;
class QBoxLayout;
class QCompleter;
class QLabel;
class QLineEdit;
class QPushButton;
class QStandardItemModel;
class QWidget;
class ServerVisualizer;

// The patient search of the top bar: every change of the field asks the
// server for matching patients, the answers feed a completer listing
// "identifier | name", and choosing an entry (from the popup or with Return)
// fills the patient panel and emits patientChosen. The field joins its open
// popup through a second style sheet.
//
// The patients known from the answers are kept for one login: a logout
// forgets them, so that the next account never sees them.
class PatientSearch : public QObject
{
    Q_OBJECT

public:
    struct Widgets
    {
        QLineEdit *field = nullptr;
        QPushButton *searchButton = nullptr;
        // Receives the patient panel as its first item.
        QBoxLayout *panelLayout = nullptr;
    };

    // Columns of the completer's model.
    enum Column
    {
        IdAndNameColumn = 0,
        ServerIdColumn = 1,
        NameColumn = 2,
    };

    PatientSearch(QWidget *window, const Widgets &widgets);

    // Every connection of this flow: the server's patient lists, the login's
    // start and end, the search button. The field's own signals reach the
    // main window's slots by name, which forward here.
    void connectTo(ServerVisualizer *server, LoginFlow *login);

    static QString searchStyleClosed();
    static QString searchStyleOpen();
    // What is searched for a text of the field: the part before " | " of an
    // inserted entry, else the whole text.
    static QString searchTextFor(const QString &fieldText);

    QCompleter *completer() const { return m_completer; }
    QStandardItemModel *model() const { return m_model; }
    const std::unordered_map<std::string, Patient> &knownPatients() const { return m_knownPatients; }
    QWidget *patientPanel() const { return m_panel; }
    QLabel *nameLabel() const { return m_nameLabel; }
    QLabel *birthdayLabel() const { return m_birthdayLabel; }

public slots:
    void textChanged(const QString &text);
    void returnPressed();
    void patientSelected(const QModelIndex &index);
    void focusSearchField();
    // Back to "Patient Name" and "Birthday" (back to the menu).
    void resetPatientPanel();

signals:
    void patientChosen(const Patient &patient);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void newPatients(const std::unordered_map<std::string, Patient> &patients);
    void loggedIn(bool isDoctor);
    void loggedOut();
    void rebuildModel();
    void buildPanel(QBoxLayout *layout);
    void configurePopup();

    QWidget *m_window = nullptr;
    QLineEdit *m_field = nullptr;
    ServerVisualizer *m_server = nullptr;
    QCompleter *m_completer = nullptr;
    QStandardItemModel *m_model = nullptr;
    QWidget *m_panel = nullptr;
    QLabel *m_nameLabel = nullptr;
    QLabel *m_birthdayLabel = nullptr;
    std::unordered_map<std::string, Patient> m_knownPatients;
    // Searching is open to a logged-in doctor only.
    bool m_active = false;
    // The popup opens for answers to what the user typed, not for the first list.
    bool m_searched = false;
    QString m_lastChosenId;
};
