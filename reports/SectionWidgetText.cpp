#include "reports/SectionWidgetText.h"

#include "reports/ReportPage.h"

#include <QTextEdit>
#include <QVBoxLayout>

SectionWidgetText::SectionWidgetText(QJsonObject json, QWidget *parent) : SectionWidget(json, parent)
{
    textEdit = new QTextEdit(contentWidget);
    textEdit->setObjectName(QStringLiteral("sectionItemTextEdit"));
    textEdit->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    // The template's text is shown as text: markup in it stays visible.
    textEdit->setAcceptRichText(false);
    textEdit->setPlainText(json.value(QStringLiteral("text")).toString());
    contentLayout->addWidget(textEdit);
}

QString SectionWidgetText::html()
{
    const QString text = textEdit->toPlainText();
    if (!isSwitchedOn() || text.isEmpty())
        return QString();
    return ReportPage::sectionStart(title()) + ReportPage::paragraph(text) + ReportPage::sectionEnd();
}
