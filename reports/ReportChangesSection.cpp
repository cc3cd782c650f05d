#include "reports/ReportChangesSection.h"

#include "reports/ReportPage.h"

#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

const QString kCell = QStringLiteral("padding: 4px 8px; border-bottom: 1px solid #cccccc; text-align: left;");

QString cells(const QString &tag, const QStringList &texts)
{
    QString row = QStringLiteral("<tr>");
    for (const QString &text : texts)
        row += QLatin1Char('<') + tag + QStringLiteral(" style=\"") + kCell + QStringLiteral("\">") +
               ReportPage::escapeText(text) + QStringLiteral("</") + tag + QLatin1Char('>');
    return row + QStringLiteral("</tr>");
}

} // namespace

ReportChangesSection::ReportChangesSection(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("sectionWidget"));
    setAttribute(Qt::WA_StyledBackground);
    auto *layout = new QVBoxLayout(this);
    auto *header = new QHBoxLayout;
    titleLabel = new QLabel(tr("Include changes since the last visit"), this);
    titleLabel->setObjectName(QStringLiteral("sectionWidgetTitleLabel"));
    switchButton = new QPushButton(this);
    switchButton->setObjectName(QStringLiteral("switchButton"));
    QIcon icon;
    icon.addFile(QStringLiteral(":/icon/full"), QSize(), QIcon::Normal, QIcon::Off);
    icon.addFile(QStringLiteral(":/icon/empty"), QSize(), QIcon::Normal, QIcon::On);
    switchButton->setIcon(icon);
    switchButton->setIconSize(QSize(36, 20));
    switchButton->setCheckable(true);
    switchButton->setChecked(false);
    switchButton->setAccessibleName(titleLabel->text());
    header->addWidget(titleLabel, 1);
    header->addWidget(switchButton);
    layout->addLayout(header);
    summaryLabel = new QLabel(this);
    summaryLabel->setObjectName(QStringLiteral("informacioLabel"));
    summaryLabel->setTextFormat(Qt::PlainText);
    summaryLabel->setWordWrap(true);
    layout->addWidget(summaryLabel);
    hide();
}

void ReportChangesSection::setChangeSummary(const LesionChangeSummary &summary)
{
    m_available = !summary.isEmpty() && !summary.isFirstVisit();
    m_rows = m_available ? rowsOf(summary) : std::vector<Row>();
    m_caption = m_available
                    ? tr("%1 (grown or shrunk: a radius changed by at least %2 % and by at least %3).")
                          .arg(summary.text())
                          .arg(summary.thresholds().relative * 100.0)
                          .arg(summary.thresholds().absolute)
                    : QString();
    summaryLabel->setText(m_caption);
    setVisible(m_available);
}

bool ReportChangesSection::isIncluded() const
{
    return m_available && switchButton->isChecked();
}

QString ReportChangesSection::html() const
{
    return isIncluded() ? tableHtml(tr("Changes since the last visit"), m_caption, m_rows) : QString();
}

std::vector<ReportChangesSection::Row> ReportChangesSection::rowsOf(const LesionChangeSummary &summary)
{
    using Summary = LesionChangeSummary;
    const QString none = QStringLiteral("\u2014");
    std::vector<Row> rows;
    for (const Summary::Change &change : summary.changes()) {
        if (!Summary::isChanged(change.status))
            continue;
        const bool isNew = change.status == Summary::Status::New;
        rows.push_back({Summary::statusText(change.status), change.idText, change.positionName,
                        isNew ? none : Summary::radiusText(change.radiusThen),
                        Summary::radiusText(change.radiusNow), isNew ? none : Summary::changeText(change)});
    }
    for (const Summary::Gone &gone : summary.gone())
        rows.push_back({gone.excised ? tr("excised") : tr("gone"), gone.idText, gone.positionName,
                        Summary::radiusText(gone.radius), none, none});
    return rows;
}

QString ReportChangesSection::tableHtml(const QString &title, const QString &caption,
                                        const std::vector<Row> &rows)
{
    QString html = ReportPage::sectionStart(title) + ReportPage::paragraph(caption);
    if (rows.empty())
        return html + ReportPage::sectionEnd();
    html += QStringLiteral("<table style=\"width: 100%; border-collapse: collapse;\">");
    html += cells(QStringLiteral("th"), {tr("Status"), tr("Lesion"), tr("Position"), tr("Radius then"),
                                         tr("Radius now"), tr("Change")});
    for (const Row &row : rows)
        html += cells(QStringLiteral("td"),
                      {row.status, row.lesion, row.position, row.radiusThen, row.radiusNow, row.change});
    return html + QStringLiteral("</table>") + ReportPage::sectionEnd();
}
