#include "capture/qtExternalManualDialog.h"

#include "widgets/IconHelpers.h"
#include "widgets/PanelPainter.h"

#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QSpacerItem>
#include <QVBoxLayout>

void qtExternalManualDialog::Ui::setupUi(QDialog *dialog)
{
    if (dialog->objectName().isEmpty())
        dialog->setObjectName(QStringLiteral("qtExternalManualDialogClass"));
    dialog->resize(600, 400);
    verticalLayout = new QVBoxLayout(dialog);
    verticalLayout->setObjectName(QStringLiteral("verticalLayout"));
    verticalLayout->addItem(new QSpacerItem(20, 40, QSizePolicy::Minimum, QSizePolicy::Expanding));
    label_2 = new QLabel(dialog);
    label_2->setObjectName(QStringLiteral("label_2"));
    label_2->setAlignment(Qt::AlignCenter);
    label_2->setPixmap(svgFileToPixmap(QStringLiteral(":/rsc/resource/camera.svg"), QSize(40, 40)));
    verticalLayout->addWidget(label_2);
    label = new QLabel(dialog);
    label->setObjectName(QStringLiteral("label"));
    label->setAlignment(Qt::AlignCenter);
    label->setText(qtExternalManualDialog::tr("Waiting for image"));
    verticalLayout->addWidget(label);
    verticalLayout->addItem(new QSpacerItem(20, 40, QSizePolicy::Minimum, QSizePolicy::Expanding));
    externalManualCancelButton = new QPushButton(dialog);
    externalManualCancelButton->setObjectName(QStringLiteral("externalManualCancelButton"));
    externalManualCancelButton->setText(qtExternalManualDialog::tr("Cancel"));
    verticalLayout->addWidget(externalManualCancelButton);
}

qtExternalManualDialog::qtExternalManualDialog(QWidget *parent) : QDialog(parent)
{
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TranslucentBackground);
    setMinimumSize(300, 200);
    ui.setupUi(this);
    ui.label->setStyleSheet(QStringLiteral("color: white; font-size:18px; "));
    connect(ui.externalManualCancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

void qtExternalManualDialog::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    paintRoundedPanel(painter, rect(), m_borderWidth, m_accentColor);
}
