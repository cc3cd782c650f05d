#pragma once

#include <QFrame>
#include <QHBoxLayout>
#include <QPushButton>
#include <QSpacerItem>
#include <QVBoxLayout>
#include <QWidget>

namespace Ui {

// The comparison schemes' form, laid out as a generated form class would be.
// The four position views are added to horizontalLayout_2 by the widget.
class SchemeMultipleSessionsClass
{
public:
    QHBoxLayout *horizontalLayout = nullptr;
    QFrame *frameMultipleSessions = nullptr;
    QHBoxLayout *horizontalLayout_3 = nullptr;
    QHBoxLayout *horizontalLayout_2 = nullptr;
    QVBoxLayout *buttonsLayout = nullptr;
    QPushButton *showAllButton = nullptr;
    QSpacerItem *verticalSpacer = nullptr;

    void setupUi(QWidget *widget)
    {
        if (widget->objectName().isEmpty())
            widget->setObjectName(QStringLiteral("SchemeMultipleSessionsClass"));
        widget->resize(600, 400);
        horizontalLayout = new QHBoxLayout(widget);
        horizontalLayout->setSpacing(6);
        horizontalLayout->setContentsMargins(11, 11, 11, 11);
        horizontalLayout->setObjectName(QStringLiteral("horizontalLayout"));

        frameMultipleSessions = new QFrame(widget);
        frameMultipleSessions->setObjectName(QStringLiteral("frameMultipleSessions"));
        horizontalLayout->addWidget(frameMultipleSessions);

        horizontalLayout_3 = new QHBoxLayout(frameMultipleSessions);
        horizontalLayout_3->setSpacing(6);
        horizontalLayout_3->setContentsMargins(11, 11, 11, 11);
        horizontalLayout_3->setObjectName(QStringLiteral("horizontalLayout_3"));

        horizontalLayout_2 = new QHBoxLayout();
        horizontalLayout_2->setSpacing(6);
        horizontalLayout_2->setObjectName(QStringLiteral("horizontalLayout_2"));
        horizontalLayout_3->addLayout(horizontalLayout_2);

        buttonsLayout = new QVBoxLayout();
        buttonsLayout->setSpacing(6);
        buttonsLayout->setObjectName(QStringLiteral("buttonsLayout"));
        showAllButton = new QPushButton(frameMultipleSessions);
        showAllButton->setObjectName(QStringLiteral("showAllButton"));
        showAllButton->setCheckable(true);
        buttonsLayout->addWidget(showAllButton);
        verticalSpacer = new QSpacerItem(20, 40, QSizePolicy::Minimum, QSizePolicy::Expanding);
        buttonsLayout->addItem(verticalSpacer);
        horizontalLayout_2->addLayout(buttonsLayout);

        retranslateUi(widget);
        QMetaObject::connectSlotsByName(widget);
    }

    void retranslateUi(QWidget *widget) { widget->setWindowTitle(QStringLiteral("SchemeMultipleSessions")); }
};

} // namespace Ui
