#pragma once

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QWidget>

namespace Ui {

// The notification panel's form, laid out as a generated form class would be.
class QtNotificationWidgetClass
{
public:
    QGridLayout *gridLayout = nullptr;
    QPushButton *closeButton = nullptr;
    QLabel *messageLabel = nullptr;

    void setupUi(QWidget *widget)
    {
        if (widget->objectName().isEmpty())
            widget->setObjectName(QStringLiteral("QtNotificationWidgetClass"));
        widget->resize(600, 400);
        gridLayout = new QGridLayout(widget);
        gridLayout->setSpacing(6);
        gridLayout->setContentsMargins(11, 11, 11, 11);
        gridLayout->setObjectName(QStringLiteral("gridLayout"));

        closeButton = new QPushButton(widget);
        closeButton->setObjectName(QStringLiteral("closeButton"));
        closeButton->setSizePolicy(QSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed));
        gridLayout->addWidget(closeButton, 0, 1, 1, 1);

        messageLabel = new QLabel(widget);
        messageLabel->setObjectName(QStringLiteral("messageLabel"));
        messageLabel->setAlignment(Qt::AlignCenter);
        gridLayout->addWidget(messageLabel, 1, 0, 1, 1);

        retranslateUi(widget);
        QMetaObject::connectSlotsByName(widget);
    }

    void retranslateUi(QWidget *widget)
    {
        widget->setWindowTitle(QStringLiteral("QtNotificationWidget"));
        closeButton->setText(QString());
        messageLabel->setText(QStringLiteral("TextLabel"));
    }
};

} // namespace Ui
