#include "reports/SectionWidgetTextAndPhoto.h"

#include "reports/ReportPage.h"

#include <QTextEdit>
#include <QVBoxLayout>

SectionWidgetTextAndPhoto::SectionWidgetTextAndPhoto(QJsonObject json, QWidget *parent)
    : SectionWidget(json, parent), photo(json.value(QStringLiteral("photo")).toString())
{
    textEdit = new QTextEdit(contentWidget);
    textEdit->setObjectName(QStringLiteral("sectionItemTextEdit"));
    textEdit->setAcceptRichText(false);
    textEdit->setPlainText(json.value(QStringLiteral("text")).toString());
    contentLayout->addWidget(textEdit);
    setVisible(false);
}

QString SectionWidgetTextAndPhoto::html()
{
    const QString text = textEdit->toPlainText();
    if (!isSwitchedOn() || text.isEmpty())
        return QString();
    return ReportPage::sectionStart(title()) + ReportPage::textAndPhoto(photo, text);
}
