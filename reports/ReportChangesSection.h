#pragma once

#include "session/LesionChangeSummary.h"

#include <QString>
#include <QWidget>

#include <vector>

class QLabel;
class QPushButton;

// The report editor's "Include changes since the last visit": a table of what
// changed in the principal session since the patient's previous visit
// (status, lesion id, position, radius then and now, change). The rows are
// taken as texts when the dialog opens; every text is escaped as any other
// inserted text, so that none can add markup or fill a placeholder. Off until
// the doctor switches it on; hidden when there is no earlier visit.
class ReportChangesSection : public QWidget
{
    Q_OBJECT

public:
    struct Row
    {
        QString status;
        QString lesion;
        QString position;
        QString radiusThen;
        QString radiusNow;
        QString change;
    };

    explicit ReportChangesSection(QWidget *parent = nullptr);

    void setChangeSummary(const LesionChangeSummary &summary);
    // There is an earlier visit to compare with.
    bool isAvailable() const { return m_available; }
    bool isIncluded() const;
    // The section's fragment; empty unless available and switched on.
    QString html() const;

    // New, grown and shrunk lesions in list order, then those of the last
    // visit that are gone or excised.
    static std::vector<Row> rowsOf(const LesionChangeSummary &summary);
    static QString tableHtml(const QString &title, const QString &caption, const std::vector<Row> &rows);

    QLabel *titleLabel = nullptr;
    QLabel *summaryLabel = nullptr;
    QPushButton *switchButton = nullptr;

private:
    bool m_available = false;
    QString m_caption;
    std::vector<Row> m_rows;
};
