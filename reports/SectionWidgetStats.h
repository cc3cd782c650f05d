#pragma once

#include "reports/SectionWidget.h"

#include <QSharedPointer>

class SessionVisualizer;

// Section type "2": the lesion statistics of the session, counted once when
// the section is made.
class SectionWidgetStats : public SectionWidget
{
    Q_OBJECT

public:
    struct Counts
    {
        int clinicalImages = 0;      // camera records over the session's positions
        int dermatoscopicImages = 0; // lesions not labelled "Detected"
        int lesions = 0;
        int exeresis = 0; // lesions labelled "Exeresis"
        int followUp = 0; // lesions labelled "Follow up"
    };

    SectionWidgetStats(QJsonObject json, QWidget *parent, QSharedPointer<SessionVisualizer> session);

    QString html() override;

    // Over every position index of the session's position names.
    static Counts countsOf(const SessionVisualizer &session);
    static QString statisticsBlock(const Counts &counts);

    const Counts &counts() const { return m_counts; }

private:
    QSharedPointer<SessionVisualizer> m_session;
    Counts m_counts;
    QString m_statistics;
};
