#pragma once

#include <QCoreApplication>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QProgressBar>
#include <QPushButton>
#include <QSpacerItem>
#include <QStackedWidget>
#include <QVBoxLayout>
#include <QWidget>

namespace Ui {

// The main window's form, laid out as a generated form class would be. Object
// names are used by the application style sheet and by lookups; keep them.
class kelvarisVisualizerClass
{
public:
    QWidget *centralWidget = nullptr;
    QVBoxLayout *verticalLayout = nullptr;

    QWidget *topBarWidget = nullptr;
    QHBoxLayout *horizontalLayoutTopBar = nullptr;
    QWidget *widgetToBarLeft = nullptr;
    QHBoxLayout *horizontalLayoutToBarLeft = nullptr;
    QPushButton *labelButton = nullptr;
    QWidget *widget_admin = nullptr;
    QHBoxLayout *horizontalLayoutAdmin = nullptr;
    QHBoxLayout *selectorsLayout = nullptr;
    QPushButton *labelQRcodeButton = nullptr;
    QWidget *widgetLegendTopBar = nullptr;
    QWidget *widget_doctor = nullptr;
    QHBoxLayout *horizontalLayoutDoctor = nullptr;
    QPushButton *searchButton = nullptr;
    QLineEdit *searchLineEdit = nullptr;
    QLabel *label = nullptr;
    QWidget *widgetTopBarRight = nullptr;
    QHBoxLayout *horizontalLayoutTopBarRight = nullptr;
    QHBoxLayout *tightLayoutTopBar = nullptr;
    QHBoxLayout *layoutButtonsTopRight = nullptr;
    QWidget *widgetProgressBar = nullptr;
    QVBoxLayout *verticalLayoutProgressBar = nullptr;
    QProgressBar *progressBar = nullptr;

    QStackedWidget *stackedWidget = nullptr;
    QWidget *page = nullptr;
    QWidget *pageSession = nullptr;
    QGridLayout *gridLayoutSession = nullptr;
    QGridLayout *gridTopLayout = nullptr;
    QWidget *registerPage = nullptr;
    QVBoxLayout *verticalLayoutRegister = nullptr;
    QFrame *registerPatientFrameOutside = nullptr;
    QVBoxLayout *verticalLayoutRegisterOutside = nullptr;
    QLabel *labelLogoRegisterPatient = nullptr;
    QWidget *messageWidget = nullptr;
    QHBoxLayout *horizontalLayoutMessage = nullptr;
    QLabel *textBrowser = nullptr;
    QFrame *registerPatientFrame = nullptr;
    QGridLayout *gridLayoutRegister = nullptr;
    QLabel *labelNAME = nullptr;
    QLineEdit *lineEditFNAME = nullptr;
    QLineEdit *lineEditLNAME = nullptr;
    QLabel *labelID = nullptr;
    QLineEdit *lineEditID = nullptr;
    QLabel *labelEMAIL = nullptr;
    QLineEdit *lineEditEMAIL = nullptr;
    QPushButton *registerNewPatientButton = nullptr;

    void setupUi(QMainWindow *window)
    {
        if (window->objectName().isEmpty())
            window->setObjectName(QStringLiteral("kelvarisVisualizerClass"));
        window->resize(1548, 793);

        centralWidget = new QWidget(window);
        centralWidget->setObjectName(QStringLiteral("centralWidget"));
        verticalLayout = tight(new QVBoxLayout(centralWidget), "verticalLayout");

        setupTopBar();

        stackedWidget = new QStackedWidget(centralWidget);
        stackedWidget->setObjectName(QStringLiteral("stackedWidget"));
        page = new QWidget();
        page->setObjectName(QStringLiteral("page"));
        stackedWidget->addWidget(page);
        pageSession = new QWidget();
        pageSession->setObjectName(QStringLiteral("pageSession"));
        gridLayoutSession = tight(new QGridLayout(pageSession), "gridLayoutSession");
        gridTopLayout = new QGridLayout();
        gridTopLayout->setObjectName(QStringLiteral("gridTopLayout"));
        gridTopLayout->setSpacing(6);
        gridLayoutSession->addLayout(gridTopLayout, 0, 0, 1, 1);
        stackedWidget->addWidget(pageSession);
        setupRegisterPage();
        stackedWidget->addWidget(registerPage);

        verticalLayout->addWidget(topBarWidget);
        verticalLayout->addWidget(stackedWidget);
        window->setCentralWidget(centralWidget);

        retranslateUi(window);
        stackedWidget->setCurrentIndex(2);
        QMetaObject::connectSlotsByName(window);
    }

    void retranslateUi(QMainWindow *window)
    {
        window->setWindowTitle(QStringLiteral("kelvarisVisualizer"));
        searchLineEdit->setPlaceholderText(
            QCoreApplication::translate("kelvarisVisualizerClass", "Patient Id or Name"));
        labelNAME->setText(QCoreApplication::translate("kelvarisVisualizerClass", "Name:"));
        labelID->setText(QCoreApplication::translate("kelvarisVisualizerClass", "ID:"));
        labelEMAIL->setText(QCoreApplication::translate("kelvarisVisualizerClass", "Email:"));
        lineEditFNAME->setPlaceholderText(
            QCoreApplication::translate("kelvarisVisualizerClass", "First name"));
        lineEditLNAME->setPlaceholderText(
            QCoreApplication::translate("kelvarisVisualizerClass", "Last name"));
        lineEditID->setPlaceholderText(
            QCoreApplication::translate("kelvarisVisualizerClass", "Clinic identifier"));
        lineEditEMAIL->setPlaceholderText(
            QCoreApplication::translate("kelvarisVisualizerClass", "name@example.org"));
        registerNewPatientButton->setText(QCoreApplication::translate("kelvarisVisualizerClass", "Register"));
    }

private:
    template <typename Layout> static Layout *tight(Layout *layout, const char *name)
    {
        layout->setSpacing(6);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setObjectName(QString::fromLatin1(name));
        return layout;
    }

    static QWidget *named(QWidget *widget, const char *name)
    {
        widget->setObjectName(QString::fromLatin1(name));
        return widget;
    }

    void setupTopBar()
    {
        topBarWidget = named(new QWidget(centralWidget), "topBarWidget");
        horizontalLayoutTopBar = tight(new QHBoxLayout(topBarWidget), "horizontalLayoutTopBar");

        widgetToBarLeft = named(new QWidget(topBarWidget), "widgetToBarLeft");
        horizontalLayoutToBarLeft = tight(new QHBoxLayout(widgetToBarLeft), "horizontalLayoutToBarLeft");
        horizontalLayoutToBarLeft->setSpacing(0);
        labelButton = new QPushButton(widgetToBarLeft);
        labelButton->setObjectName(QStringLiteral("labelButton"));
        labelButton->setIconSize(QSize(10, 10));
        horizontalLayoutToBarLeft->addWidget(labelButton);
        widget_admin = named(new QWidget(widgetToBarLeft), "widget_admin");
        horizontalLayoutAdmin = tight(new QHBoxLayout(widget_admin), "horizontalLayoutAdmin");
        horizontalLayoutAdmin->setSpacing(0);
        selectorsLayout = tight(new QHBoxLayout(), "selectorsLayout");
        horizontalLayoutAdmin->addLayout(selectorsLayout);
        horizontalLayoutToBarLeft->addWidget(widget_admin);
        labelQRcodeButton = new QPushButton(widgetToBarLeft);
        labelQRcodeButton->setObjectName(QStringLiteral("labelQRcodeButton"));
        horizontalLayoutToBarLeft->addWidget(labelQRcodeButton);
        horizontalLayoutToBarLeft->addItem(
            new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));
        horizontalLayoutTopBar->addWidget(widgetToBarLeft);

        widgetLegendTopBar = named(new QWidget(topBarWidget), "widgetLegendTopBar");
        horizontalLayoutTopBar->addWidget(widgetLegendTopBar);

        widget_doctor = named(new QWidget(topBarWidget), "widget_doctor");
        horizontalLayoutDoctor = tight(new QHBoxLayout(widget_doctor), "horizontalLayoutDoctor");
        horizontalLayoutDoctor->setSpacing(0);
        searchButton = new QPushButton(widget_doctor);
        searchButton->setObjectName(QStringLiteral("searchButton"));
        searchButton->setIcon(QIcon(QStringLiteral(":/icon/searchIcon")));
        searchButton->setIconSize(QSize(24, 24));
        searchButton->setFlat(false);
        horizontalLayoutDoctor->addWidget(searchButton);
        searchLineEdit = new QLineEdit(widget_doctor);
        searchLineEdit->setObjectName(QStringLiteral("searchLineEdit"));
        searchLineEdit->setEnabled(true);
        searchLineEdit->setClearButtonEnabled(true);
        horizontalLayoutDoctor->addWidget(searchLineEdit);
        label = new QLabel(widget_doctor);
        label->setObjectName(QStringLiteral("label"));
        horizontalLayoutDoctor->addWidget(label);
        horizontalLayoutTopBar->addWidget(widget_doctor);

        widgetTopBarRight = named(new QWidget(topBarWidget), "widgetTopBarRight");
        horizontalLayoutTopBarRight =
            tight(new QHBoxLayout(widgetTopBarRight), "horizontalLayoutTopBarRight");
        tightLayoutTopBar = tight(new QHBoxLayout(), "tightLayoutTopBar");
        horizontalLayoutTopBarRight->addLayout(tightLayoutTopBar);
        horizontalLayoutTopBarRight->addItem(
            new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));
        layoutButtonsTopRight = tight(new QHBoxLayout(), "layoutButtonsTopRight");
        horizontalLayoutTopBarRight->addLayout(layoutButtonsTopRight);
        widgetProgressBar = named(new QWidget(widgetTopBarRight), "widgetProgressBar");
        widgetProgressBar->setMinimumHeight(45);
        verticalLayoutProgressBar = tight(new QVBoxLayout(widgetProgressBar), "verticalLayoutProgressBar");
        progressBar = new QProgressBar(widgetProgressBar);
        progressBar->setObjectName(QStringLiteral("progressBar"));
        progressBar->setValue(25);
        progressBar->setTextVisible(false);
        verticalLayoutProgressBar->addWidget(progressBar);
        horizontalLayoutTopBarRight->addWidget(widgetProgressBar);
        horizontalLayoutTopBar->addWidget(widgetTopBarRight);
    }

    void setupRegisterPage()
    {
        registerPage = new QWidget();
        registerPage->setObjectName(QStringLiteral("registerPage"));
        verticalLayoutRegister = tight(new QVBoxLayout(registerPage), "verticalLayoutRegister");
        registerPatientFrameOutside = new QFrame(registerPage);
        registerPatientFrameOutside->setObjectName(QStringLiteral("registerPatientFrameOutside"));
        verticalLayoutRegisterOutside =
            tight(new QVBoxLayout(registerPatientFrameOutside), "verticalLayoutRegisterOutside");
        verticalLayoutRegisterOutside->setSpacing(16);
        labelLogoRegisterPatient = new QLabel(registerPatientFrameOutside);
        labelLogoRegisterPatient->setObjectName(QStringLiteral("labelLogoRegisterPatient"));
        labelLogoRegisterPatient->setAlignment(Qt::AlignCenter);
        verticalLayoutRegisterOutside->addWidget(labelLogoRegisterPatient, 0, Qt::AlignHCenter);

        messageWidget = named(new QWidget(registerPatientFrameOutside), "messageWidget");
        horizontalLayoutMessage = tight(new QHBoxLayout(messageWidget), "horizontalLayoutMessage");
        textBrowser = new QLabel(messageWidget);
        textBrowser->setObjectName(QStringLiteral("textBrowser"));
        textBrowser->setAlignment(Qt::AlignCenter);
        textBrowser->setWordWrap(true);
        horizontalLayoutMessage->addWidget(textBrowser);
        verticalLayoutRegisterOutside->addWidget(messageWidget);

        registerPatientFrame = new QFrame(registerPatientFrameOutside);
        registerPatientFrame->setObjectName(QStringLiteral("registerPatientFrame"));
        registerPatientFrame->setMaximumWidth(640);
        gridLayoutRegister = new QGridLayout(registerPatientFrame);
        gridLayoutRegister->setObjectName(QStringLiteral("gridLayoutRegister"));
        gridLayoutRegister->setSpacing(10);
        gridLayoutRegister->setContentsMargins(24, 24, 24, 24);
        labelNAME = new QLabel(registerPatientFrame);
        labelNAME->setObjectName(QStringLiteral("labelNAME"));
        gridLayoutRegister->addWidget(labelNAME, 0, 0);
        lineEditFNAME = new QLineEdit(registerPatientFrame);
        lineEditFNAME->setObjectName(QStringLiteral("lineEditFNAME"));
        gridLayoutRegister->addWidget(lineEditFNAME, 0, 1);
        lineEditLNAME = new QLineEdit(registerPatientFrame);
        lineEditLNAME->setObjectName(QStringLiteral("lineEditLNAME"));
        gridLayoutRegister->addWidget(lineEditLNAME, 0, 2);
        labelID = new QLabel(registerPatientFrame);
        labelID->setObjectName(QStringLiteral("labelID"));
        gridLayoutRegister->addWidget(labelID, 1, 0);
        lineEditID = new QLineEdit(registerPatientFrame);
        lineEditID->setObjectName(QStringLiteral("lineEditID"));
        gridLayoutRegister->addWidget(lineEditID, 1, 1, 1, 2);
        labelEMAIL = new QLabel(registerPatientFrame);
        labelEMAIL->setObjectName(QStringLiteral("labelEMAIL"));
        gridLayoutRegister->addWidget(labelEMAIL, 2, 0);
        lineEditEMAIL = new QLineEdit(registerPatientFrame);
        lineEditEMAIL->setObjectName(QStringLiteral("lineEditEMAIL"));
        gridLayoutRegister->addWidget(lineEditEMAIL, 2, 1, 1, 2);
        registerNewPatientButton = new QPushButton(registerPatientFrame);
        registerNewPatientButton->setObjectName(QStringLiteral("registerNewPatientButton"));
        gridLayoutRegister->addWidget(registerNewPatientButton, 3, 1, 1, 2);
        verticalLayoutRegisterOutside->addWidget(registerPatientFrame, 0, Qt::AlignHCenter);
        verticalLayoutRegisterOutside->addStretch();

        verticalLayoutRegister->addStretch();
        verticalLayoutRegister->addWidget(registerPatientFrameOutside, 0, Qt::AlignHCenter);
        verticalLayoutRegister->addStretch();
    }
};

} // namespace Ui
