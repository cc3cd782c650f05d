#pragma once

#include <QIcon>
#include <QIdentityProxyModel>

// Over a SessionsModel: when only dermatoscopic images matter, a session
// whose dermatoscopic images are in shows the downloaded mark even while its
// clinical images are still coming.
class CustomIconSessionProxyModel : public QIdentityProxyModel
{
    Q_OBJECT
    Q_PROPERTY(int onlyDermatosNeeded READ getOnlyDermatosNeeded WRITE setOnlyDermatosNeeded)

public:
    explicit CustomIconSessionProxyModel(QObject *parent = nullptr);

    int getOnlyDermatosNeeded() const { return m_onlyDermatosNeeded; }
    // Announces every row's decoration as changed.
    void setOnlyDermatosNeeded(int value);

    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

private:
    int m_onlyDermatosNeeded = 0;
    mutable QIcon m_mark;
};
