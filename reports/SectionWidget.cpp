#include "reports/SectionWidget.h"

#include "reports/ReportPage.h"

#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

SectionWidget::SectionWidget(QJsonObject json, QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("sectionWidget"));
    setAttribute(Qt::WA_StyledBackground);
    auto *layout = new QVBoxLayout(this);

    auto *header = new QWidget(this);
    auto *headerLayout = new QHBoxLayout(header);
    headerLayout->setContentsMargins(0, 0, 0, 0);
    titleLabel = new QLabel(json.value(QStringLiteral("title")).toString(), header);
    titleLabel->setObjectName(QStringLiteral("sectionWidgetTitleLabel"));
    // Server text is shown as it is, never as markup.
    titleLabel->setTextFormat(Qt::PlainText);
    switchButton = new QPushButton(header);
    switchButton->setObjectName(QStringLiteral("switchButton"));
    QIcon icon;
    icon.addFile(QStringLiteral(":/icon/full"), QSize(), QIcon::Normal, QIcon::Off);
    icon.addFile(QStringLiteral(":/icon/empty"), QSize(), QIcon::Normal, QIcon::On);
    switchButton->setIcon(icon);
    switchButton->setIconSize(QSize(36, 20));
    switchButton->setCheckable(true);
    switchButton->setChecked(true);
    headerLayout->addWidget(titleLabel, 1);
    headerLayout->addWidget(switchButton);
    layout->addWidget(header);

    contentWidget = new QWidget(this);
    contentLayout = new QVBoxLayout(contentWidget);
    contentLayout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(contentWidget);
    connect(switchButton, &QPushButton::clicked, contentWidget, &QWidget::setVisible);
}

QString SectionWidget::title() const
{
    return titleLabel->text();
}

bool SectionWidget::isSwitchedOn() const
{
    return switchButton->isChecked();
}

QString SectionWidget::html()
{
    if (!isSwitchedOn())
        return QString();
    return ReportPage::sectionStart(title());
}
