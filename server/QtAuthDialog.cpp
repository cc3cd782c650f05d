#include "server/QtAuthDialog.h"

#include "server/ServerVisualizer.h"
#include "widgets/PanelPainter.h"
#include "widgets/IconHelpers.h"
#include "widgets/Trace.h"
#include "widgets/WindowDragger.h"

#include <QAbstractItemView>
#include <QCommonStyle>
#include <QCompleter>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QPixmap>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStringListModel>

namespace {

using kelvaris::trace;

const char *const kButtonStyle = "\n    QPushButton {\n        color: white;\n"
                                 "        background-color: rgb(34,34,34);\n"
                                 "        border-radius: 10px;\nmargin:10px;\n\n    }\n"
                                 "    QPushButton:hover {\n        background-color: rgb(94,94,94);\n    }\n"
                                 // A button waiting for the server must look so.
                                 "QPushButton:disabled { color: rgb(128,128,128); }";

// Codes are often pasted with spaces ("123 456"); they are never part of it.
QString codeText(const QString &typed)
{
    QString code = typed;
    code.remove(QRegularExpression(QStringLiteral("\\s")));
    return code;
}

} // namespace

QtAuthDialog::QtAuthDialog(QWidget *parent) : QDialog(parent)
{
    ui.setupUi(this);
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TranslucentBackground);
    // No frame of its own: the panel is dragged.
    WindowDragger::install(this);

    // The pages lie on the painted panel; the main window's stacked widget of
    // the same name is painted by the application style sheet.
    ui.stackedWidget->setStyleSheet(
        QStringLiteral("QStackedWidget#stackedWidget { background: transparent; }"));

    readServers();
    ui.serverName->setText(recent);

    optionsModel = new QStringListModel(options, this);
    completer = new QCompleter(optionsModel, this);
    completer->setObjectName("completerServerName");
    completer->setCaseSensitivity(Qt::CaseInsensitive);
    completer->setFilterMode(Qt::MatchContains);
    QAbstractItemView *popup = completer->popup();
    popup->setObjectName("serverCompleterView");
    popup->setWindowFlags(popup->windowFlags() | Qt::FramelessWindowHint | Qt::NoDropShadowWindowHint);
    popup->setAutoFillBackground(false);
    auto *popupStyle = new QCommonStyle();
    popupStyle->setParent(popup);
    popup->setStyle(popupStyle);
    popup->setAttribute(Qt::WA_TranslucentBackground);
    ui.serverName->setCompleter(completer);

    // Title row: icon, title, and a close button that gives up the login.
    auto *titleRow = new QHBoxLayout();
    titleRow->setObjectName("titleRow");
    // Clear of the panel's rounded corner, so the icon does not sit on the outline.
    titleRow->setContentsMargins(14, 8, 8, 0);
    titleRow->setSpacing(6);
    auto *titleIcon = new QLabel(this);
    titleIcon->setObjectName("titleIcon");
    titleIcon->setPixmap(QIcon(QStringLiteral(":/icon/AppIconSVG"))
                             .pixmap(QSize(32, 32))
                             .scaled(16, 16, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    titleRow->addWidget(titleIcon);
    auto *titleLabel = new QLabel(tr("Authenticator"), this);
    titleLabel->setObjectName("titleLabel");
    titleLabel->setStyleSheet(QStringLiteral("color: white;"));
    titleRow->addWidget(titleLabel);
    titleRow->addStretch();
    auto *closeButton = new QPushButton(this);
    closeButton->setObjectName("closeButton");
    closeButton->setIcon(QIcon(QStringLiteral(":/icon/closeMessage")));
    closeButton->setIconSize(QSize(24, 24));
    closeButton->setAutoDefault(false);
    closeButton->setFocusPolicy(Qt::NoFocus);
    closeButton->setToolTip(tr("Close"));
    closeButton->setStyleSheet(QStringLiteral(
        "QPushButton {border: none; }QPushButton:hover {background-color:none;border: none; }"));
    connect(closeButton, &QPushButton::clicked, this, &QtAuthDialog::on_cancelButton_clicked);
    titleRow->addWidget(closeButton);
    ui.verticalLayout->insertLayout(0, titleRow);

    const QPixmap logo = svgFileToPixmapExact(QStringLiteral(":/icon/fullLogoSVG"), QSize(500, 206));
    ui.logo->setPixmap(logo);
    ui.logo->setFixedSize(logo.size());

    const QString buttonStyle = QString::fromLatin1(kButtonStyle);
    for (QPushButton *button :
         {ui.cancelButton, ui.loginButton, ui.otpBack, ui.verifyTOTP, ui.mailBack, ui.verifyCode}) {
        button->setStyleSheet(buttonStyle);
        button->setMinimumHeight(52);
    }
    ui.cancelButton->setAutoDefault(false);
    ui.loginButton->setAutoDefault(true);
    // Return in a field sends through the slots below only, never twice.
    for (QPushButton *button : {ui.otpBack, ui.verifyTOTP, ui.mailBack, ui.verifyCode})
        button->setAutoDefault(false);

    connect(ui.serverName, &QLineEdit::returnPressed, this, &QtAuthDialog::on_loginButton_clicked);
    connect(ui.username, &QLineEdit::returnPressed, this, &QtAuthDialog::on_loginButton_clicked);
    connect(ui.password, &QLineEdit::returnPressed, this, &QtAuthDialog::on_loginButton_clicked);
    connect(ui.totpCode, &QLineEdit::returnPressed, this, &QtAuthDialog::on_verifyTOTP_clicked);
    connect(ui.mailCode, &QLineEdit::returnPressed, this, &QtAuthDialog::on_verifyCode_clicked);

    correctFlag = false;
    ui.stackedWidget->setCurrentIndex(0);
    if (recent.isEmpty())
        ui.serverName->setFocus();
    else
        ui.username->setFocus();
}

QString QtAuthDialog::serversFilePath()
{
    return QStringLiteral("./matrius/servers.json");
}

void QtAuthDialog::connectTo(ServerVisualizer *server)
{
    connect(server, &ServerVisualizer::totpNeeded, this, &QtAuthDialog::totpNeeded);
    connect(server, &ServerVisualizer::mailCodeNeeded, this, &QtAuthDialog::mailCodeNeeded);
    connect(server, &ServerVisualizer::loginCorrect, this, &QtAuthDialog::correctLogin);
    connect(server, &ServerVisualizer::loginIncorrect, this, &QtAuthDialog::incorrect);
    connect(server, &ServerVisualizer::usernamePasswordIncorrect, this, &QtAuthDialog::userPasswordIncorrect);
    connect(server, &ServerVisualizer::codeTOTPincorrect, this, &QtAuthDialog::codeTOTPincorrect);
    connect(server, &ServerVisualizer::codeMailIncorrect, this, &QtAuthDialog::codeMailIncorrect);
    connect(server, &ServerVisualizer::incorrectServerName, this, &QtAuthDialog::endpointIncorrect);
    connect(server, &ServerVisualizer::correctServerName, this, &QtAuthDialog::endpointCorrect);
    connect(this, &QtAuthDialog::getEndpoint, server, &ServerVisualizer::getEndpoint);
    connect(this, &QtAuthDialog::login, server, &ServerVisualizer::login);
    connect(this, &QtAuthDialog::verifyTOTP, server, &ServerVisualizer::verifyTOTP);
    connect(this, &QtAuthDialog::verifyMailCode, server, &ServerVisualizer::verifyMailCode);
}

void QtAuthDialog::readServers()
{
    QFile file(serversFilePath());
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        trace(QStringLiteral("No file found"));
        return;
    }
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
    if (!document.isObject()) {
        trace(QStringLiteral("S'esperava un object JSON!"));
        return;
    }
    const QJsonObject servers = document.object();
    for (const QJsonValue &option : servers.value(QStringLiteral("options")).toArray()) {
        const QString name = option.toVariant().toString();
        if (!name.isEmpty() && !options.contains(name))
            options << name;
    }
    const QJsonValue last = servers.value(QStringLiteral("recent"));
    if (last.isString())
        recent = last.toString();
}

void QtAuthDialog::saveServers(const QString &name)
{
    bool changed = false;
    if (!options.contains(name)) {
        options << name;
        optionsModel->setStringList(options);
        changed = true;
    }
    if (recent != name) {
        recent = name;
        changed = true;
    }
    if (!changed)
        return;

    const QJsonObject servers{{QStringLiteral("options"), QJsonArray::fromStringList(options)},
                              {QStringLiteral("recent"), recent}};
    QDir().mkpath(QFileInfo(serversFilePath()).path());
    QSaveFile file(serversFilePath());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        trace(QStringLiteral("unable to open servers.json file!"));
        return;
    }
    file.write(QJsonDocument(servers).toJson(QJsonDocument::Indented));
    if (!file.commit())
        trace(QStringLiteral("Error en guardar el fitxer servers.json"));
}

QString QtAuthDialog::typedServerName() const
{
    return ui.serverName->text().trimmed();
}

void QtAuthDialog::on_loginButton_clicked()
{
    // Return pressed again while a login is under way must not post it twice:
    // a second post can void the e-mailed code of the first.
    if (!ui.loginButton->isEnabled() || ui.stackedWidget->currentIndex() != 0)
        return;
    ui.loginButton->setEnabled(false);
    ui.errorMessage->clear();
    resolving = true;
    emit getEndpoint(typedServerName());
}

void QtAuthDialog::endpointIncorrect()
{
    resolving = false;
    ui.errorMessage->setText(tr("Incorrect Server"));
    ui.loginButton->setEnabled(true);
    ui.serverName->setFocus();
    ui.serverName->selectAll();
}

void QtAuthDialog::endpointCorrect()
{
    if (!resolving)
        return;
    resolving = false;
    saveServers(typedServerName());
    emit login(ui.username->text(), ui.password->text());
}

void QtAuthDialog::on_cancelButton_clicked()
{
    correctFlag = false;
    reject();
}

bool QtAuthDialog::correct()
{
    return correctFlag;
}

void QtAuthDialog::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    paintRoundedPanel(painter, rect(), borderWidth, accentColor);
}

void QtAuthDialog::totpNeeded()
{
    ui.errorMessage->clear();
    ui.totpCode->clear();
    ui.verifyTOTP->setEnabled(true);
    ui.stackedWidget->setCurrentIndex(1);
    ui.totpCode->setFocus();
}

void QtAuthDialog::mailCodeNeeded()
{
    ui.errorMessage->clear();
    ui.mailCode->clear();
    ui.verifyCode->setEnabled(true);
    ui.stackedWidget->setCurrentIndex(2);
    ui.mailCode->setFocus();
}

void QtAuthDialog::incorrect(QString message)
{
    resolving = false;
    ui.loginButton->setEnabled(true);
    ui.verifyTOTP->setEnabled(true);
    ui.verifyCode->setEnabled(true);
    ui.errorMessage->setText(message);
    ui.stackedWidget->setCurrentIndex(0);
}

void QtAuthDialog::correctLogin()
{
    correctFlag = true;
    accept();
}

void QtAuthDialog::userPasswordIncorrect(QString message)
{
    ui.loginButton->setEnabled(true);
    ui.errorMessage->setText(message);
    ui.password->setFocus();
    ui.password->selectAll();
}

void QtAuthDialog::codeTOTPincorrect(QString message)
{
    ui.errorMessage->setText(message);
    ui.verifyTOTP->setEnabled(true);
    ui.totpCode->setFocus();
    ui.totpCode->selectAll();
}

void QtAuthDialog::codeMailIncorrect(QString message)
{
    ui.errorMessage->setText(message);
    ui.verifyCode->setEnabled(true);
    ui.mailCode->setFocus();
    ui.mailCode->selectAll();
}

void QtAuthDialog::on_verifyTOTP_clicked()
{
    if (!ui.verifyTOTP->isEnabled() || ui.stackedWidget->currentIndex() != 1)
        return;
    ui.errorMessage->clear();
    ui.verifyTOTP->setEnabled(false);
    emit verifyTOTP(codeText(ui.totpCode->text()));
}

void QtAuthDialog::on_verifyCode_clicked()
{
    if (!ui.verifyCode->isEnabled() || ui.stackedWidget->currentIndex() != 2)
        return;
    ui.errorMessage->clear();
    ui.verifyCode->setEnabled(false);
    emit verifyMailCode(codeText(ui.mailCode->text()));
}

void QtAuthDialog::backToLogin()
{
    ui.errorMessage->clear();
    ui.loginButton->setEnabled(true);
    ui.stackedWidget->setCurrentIndex(0);
    ui.password->setFocus();
}

void QtAuthDialog::on_otpBack_clicked()
{
    backToLogin();
}

void QtAuthDialog::on_mailBack_clicked()
{
    backToLogin();
}
