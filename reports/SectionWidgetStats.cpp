#include "reports/SectionWidgetStats.h"

#include "reports/ReportPage.h"
#include "session/SessionVisualizer.h"

SectionWidgetStats::SectionWidgetStats(QJsonObject json, QWidget *parent,
                                       QSharedPointer<SessionVisualizer> session)
    : SectionWidget(json, parent), m_session(std::move(session))
{
    if (m_session)
        m_counts = countsOf(*m_session);
    m_statistics = statisticsBlock(m_counts);
}

SectionWidgetStats::Counts SectionWidgetStats::countsOf(const SessionVisualizer &session)
{
    Counts counts;
    const int positions = int(session.getPositionNames().size());
    for (int position = 0; position < positions; ++position) {
        counts.clinicalImages += int(session.getCameraPoses(position).size());
        for (const auto &lesion : session.getLesions().value(position)) {
            if (!lesion)
                continue;
            const QString label = lesion->getLabel();
            ++counts.lesions;
            if (label != QLatin1String("Detected"))
                ++counts.dermatoscopicImages;
            if (label == QLatin1String("Exeresis"))
                ++counts.exeresis;
            if (label == QLatin1String("Follow up"))
                ++counts.followUp;
        }
    }
    return counts;
}

QString SectionWidgetStats::statisticsBlock(const Counts &counts)
{
    QString block = QStringLiteral(
        "<div class=\"flexDiv\"><div class=\"column\"><div class = \"roundedSmall\"><div "
        "style=\"flex:1.5\">Clinical Images:</div><div style=\"flex:0.5\"> [a]</div></div><div "
        "class=\"roundedSmall\"><div style=\"flex:1.5\">Dermatoscopic Images:</div><div style=\"flex:0.5\"> "
        "[b]</div></div><div class=\"roundedSmall\"><div style=\"flex:1.5\">Lesions detected:</div><div "
        "style=\"flex:0.5\"> [c]</div></div></div><div class=\"column\"><div class=\"roundedSmall\"><div "
        "style=\"flex:1.5\">Exceresis:</div><div style=\"flex:0.5\"> [d]</div></div><div "
        "class=\"roundedSmall\"><div style=\"flex:1.5\">Follow up:</div><div style=\"flex:0.5\"> "
        "[e]</div></div></div></div>");
    block.replace(QLatin1String("[a]"), QString::number(counts.clinicalImages));
    block.replace(QLatin1String("[b]"), QString::number(counts.dermatoscopicImages));
    block.replace(QLatin1String("[c]"), QString::number(counts.lesions));
    block.replace(QLatin1String("[d]"), QString::number(counts.exeresis));
    block.replace(QLatin1String("[e]"), QString::number(counts.followUp));
    return block;
}

QString SectionWidgetStats::html()
{
    if (!isSwitchedOn())
        return QString();
    return ReportPage::sectionStart(title()) + m_statistics + ReportPage::sectionEnd();
}
