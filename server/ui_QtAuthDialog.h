#pragma once

#include <QCoreApplication>
#include <QDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>
#include <QWidget>

// The login dialog's form: a logo, a message line and three pages (server and
// credentials, authenticator code, e-mailed code).
class Ui_QtAuthDialogClass
{
public:
    QVBoxLayout *verticalLayout = nullptr;
    QVBoxLayout *contentLayout = nullptr;
    QLabel *logo = nullptr;
    QLabel *errorMessage = nullptr;
    QStackedWidget *stackedWidget = nullptr;

    QWidget *pageLogin = nullptr;
    QGridLayout *gridLayout = nullptr;
    QLabel *serverNameLabel = nullptr;
    QLineEdit *serverName = nullptr;
    QLabel *usernameLabel = nullptr;
    QLineEdit *username = nullptr;
    QLabel *passwordLabel = nullptr;
    QLineEdit *password = nullptr;
    QHBoxLayout *loginButtons = nullptr;
    QPushButton *cancelButton = nullptr;
    QPushButton *loginButton = nullptr;

    QWidget *pageTOTP = nullptr;
    QVBoxLayout *totpLayout = nullptr;
    QLabel *totpCodeLabel = nullptr;
    QLineEdit *totpCode = nullptr;
    QHBoxLayout *totpButtons = nullptr;
    QPushButton *otpBack = nullptr;
    QPushButton *verifyTOTP = nullptr;

    QWidget *pageMailOTP = nullptr;
    QVBoxLayout *mailLayout = nullptr;
    QLabel *mailCodeLabel = nullptr;
    QLineEdit *mailCode = nullptr;
    QHBoxLayout *mailButtons = nullptr;
    QPushButton *mailBack = nullptr;
    QPushButton *verifyCode = nullptr;

    void setupUi(QDialog *dialog)
    {
        if (dialog->objectName().isEmpty())
            dialog->setObjectName("QtAuthDialogClass");
        dialog->resize(400, 300);

        verticalLayout = new QVBoxLayout(dialog);
        verticalLayout->setObjectName("verticalLayout");
        verticalLayout->setContentsMargins(0, 0, 0, 0);
        verticalLayout->setSpacing(0);

        contentLayout = new QVBoxLayout();
        contentLayout->setObjectName("contentLayout");
        contentLayout->setContentsMargins(28, 4, 28, 18);
        contentLayout->setSpacing(6);

        logo = new QLabel(dialog);
        logo->setObjectName("logo");
        logo->setAlignment(Qt::AlignCenter);
        contentLayout->addWidget(logo, 0, Qt::AlignHCenter);

        errorMessage = new QLabel(dialog);
        errorMessage->setObjectName("errorMessage");
        errorMessage->setAlignment(Qt::AlignCenter);
        errorMessage->setWordWrap(true);
        errorMessage->setMinimumHeight(24);
        contentLayout->addWidget(errorMessage);

        stackedWidget = new QStackedWidget(dialog);
        stackedWidget->setObjectName("stackedWidget");

        // Page 0: server and credentials.
        pageLogin = new QWidget();
        pageLogin->setObjectName("pageLogin");
        gridLayout = new QGridLayout(pageLogin);
        gridLayout->setObjectName("gridLayout");
        gridLayout->setHorizontalSpacing(12);
        gridLayout->setVerticalSpacing(8);
        serverNameLabel = new QLabel(pageLogin);
        serverNameLabel->setObjectName("serverNameLabel");
        gridLayout->addWidget(serverNameLabel, 0, 0);
        serverName = new QLineEdit(pageLogin);
        serverName->setObjectName("serverName");
        gridLayout->addWidget(serverName, 0, 1);
        usernameLabel = new QLabel(pageLogin);
        usernameLabel->setObjectName("usernameLabel");
        gridLayout->addWidget(usernameLabel, 1, 0);
        username = new QLineEdit(pageLogin);
        username->setObjectName("username");
        gridLayout->addWidget(username, 1, 1);
        passwordLabel = new QLabel(pageLogin);
        passwordLabel->setObjectName("passwordLabel");
        gridLayout->addWidget(passwordLabel, 2, 0);
        password = new QLineEdit(pageLogin);
        password->setObjectName("password");
        password->setEchoMode(QLineEdit::Password);
        gridLayout->addWidget(password, 2, 1);
        loginButtons = new QHBoxLayout();
        loginButtons->setObjectName("loginButtons");
        cancelButton = new QPushButton(pageLogin);
        cancelButton->setObjectName("cancelButton");
        loginButtons->addWidget(cancelButton);
        loginButton = new QPushButton(pageLogin);
        loginButton->setObjectName("loginButton");
        loginButtons->addWidget(loginButton);
        gridLayout->addLayout(loginButtons, 3, 0, 1, 2);
        stackedWidget->addWidget(pageLogin);

        // Page 1: authenticator code.
        pageTOTP = new QWidget();
        pageTOTP->setObjectName("pageTOTP");
        totpLayout = new QVBoxLayout(pageTOTP);
        totpLayout->setObjectName("totpLayout");
        totpCodeLabel = new QLabel(pageTOTP);
        totpCodeLabel->setObjectName("totpCodeLabel");
        totpCodeLabel->setWordWrap(true);
        totpLayout->addWidget(totpCodeLabel);
        totpCode = new QLineEdit(pageTOTP);
        totpCode->setObjectName("totpCode");
        totpLayout->addWidget(totpCode);
        totpButtons = new QHBoxLayout();
        totpButtons->setObjectName("totpButtons");
        otpBack = new QPushButton(pageTOTP);
        otpBack->setObjectName("otpBack");
        totpButtons->addWidget(otpBack);
        verifyTOTP = new QPushButton(pageTOTP);
        verifyTOTP->setObjectName("verifyTOTP");
        totpButtons->addWidget(verifyTOTP);
        totpLayout->addLayout(totpButtons);
        stackedWidget->addWidget(pageTOTP);

        // Page 2: e-mailed code.
        pageMailOTP = new QWidget();
        pageMailOTP->setObjectName("pageMailOTP");
        mailLayout = new QVBoxLayout(pageMailOTP);
        mailLayout->setObjectName("mailLayout");
        mailCodeLabel = new QLabel(pageMailOTP);
        mailCodeLabel->setObjectName("mailCodeLabel");
        mailCodeLabel->setWordWrap(true);
        mailLayout->addWidget(mailCodeLabel);
        mailCode = new QLineEdit(pageMailOTP);
        mailCode->setObjectName("mailCode");
        mailLayout->addWidget(mailCode);
        mailButtons = new QHBoxLayout();
        mailButtons->setObjectName("mailButtons");
        mailBack = new QPushButton(pageMailOTP);
        mailBack->setObjectName("mailBack");
        mailButtons->addWidget(mailBack);
        verifyCode = new QPushButton(pageMailOTP);
        verifyCode->setObjectName("verifyCode");
        mailButtons->addWidget(verifyCode);
        mailLayout->addLayout(mailButtons);
        stackedWidget->addWidget(pageMailOTP);

        contentLayout->addWidget(stackedWidget);
        verticalLayout->addLayout(contentLayout);

        retranslateUi(dialog);
        stackedWidget->setCurrentIndex(0);
        QMetaObject::connectSlotsByName(dialog);
    }

    void retranslateUi(QDialog *dialog)
    {
        dialog->setWindowTitle(tr("Authenticator"));
        serverNameLabel->setText(tr("Server:"));
        usernameLabel->setText(tr("Username:"));
        passwordLabel->setText(tr("Password:"));
        serverName->setPlaceholderText(tr("Server name"));
        username->setPlaceholderText(tr("User name"));
        password->setPlaceholderText(tr("Password"));
        cancelButton->setText(tr("Cancel"));
        cancelButton->setShortcut(QKeySequence(tr("Esc")));
        loginButton->setText(tr("Login"));
        totpCodeLabel->setText(tr(
            "Your account is protected by two-factor authentication. Please enter the authenticator code:"));
        totpCode->setPlaceholderText(tr("Authenticator code"));
        otpBack->setText(tr("Back"));
        verifyTOTP->setText(tr("Send"));
        mailCodeLabel->setText(tr("We\u2019ve sent a code to your email. Please enter the code:"));
        mailCode->setPlaceholderText(tr("E-mailed code"));
        mailBack->setText(tr("Back"));
        verifyCode->setText(tr("Send"));
    }

private:
    static QString tr(const char *text) { return QCoreApplication::translate("QtAuthDialogClass", text); }
};

namespace Ui {
class QtAuthDialogClass : public Ui_QtAuthDialogClass
{
};
} // namespace Ui
