#include "reports/SectionWidgetList.h"

#include "reports/ReportPage.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QIcon>
#include <QJsonArray>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

SectionWidgetList::SectionWidgetList(QJsonObject json, QWidget *parent, bool exclusive)
    : SectionWidget(json, parent), m_exclusive(exclusive)
{
    group = new QButtonGroup(this);
    group->setExclusive(exclusive);
    QIcon tick;
    tick.addFile(QStringLiteral(":/icon/tickGreen"), QSize(), QIcon::Normal, QIcon::Off);
    tick.addFile(QStringLiteral(":/icon/tickWhite"), QSize(), QIcon::Normal, QIcon::On);
    for (const QJsonValue &item : json.value(QStringLiteral("items")).toArray()) {
        auto *row = new QWidget(contentWidget);
        auto *rowLayout = new QHBoxLayout(row);
        rowLayout->setContentsMargins(0, 0, 0, 0);
        rowLayout->setSpacing(0);
        auto *button = new QPushButton(row);
        button->setObjectName(QStringLiteral("sectionItemTickbutton"));
        button->setIcon(tick);
        button->setFixedSize(25, 25);
        button->setCheckable(true);
        auto *edit = new QLineEdit(item.toString(), row);
        edit->setObjectName(QStringLiteral("sectionItemLineEdit"));
        rowLayout->addWidget(button, 0, Qt::AlignVCenter);
        rowLayout->addWidget(edit, 1, Qt::AlignVCenter);
        group->addButton(button);
        contentLayout->addWidget(row);
        rows.emplace_back(button, edit);
    }
}

QString SectionWidgetList::html()
{
    if (!isSwitchedOn())
        return QString();
    QStringList ticked;
    for (const auto &[button, edit] : rows)
        if (button->isChecked())
            ticked << edit->text();
    if (ticked.isEmpty())
        return QString();
    QString body;
    if (m_exclusive) {
        body = ReportPage::paragraph(ticked.first());
    } else {
        body = QStringLiteral("<ul>");
        for (const QString &text : ticked)
            body += ReportPage::listItem(text);
        body += QStringLiteral("</ul>");
    }
    return ReportPage::sectionStart(title()) + body + ReportPage::sectionEnd();
}
