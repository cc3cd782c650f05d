#include "session/QtLesionsInfoDialog.h"

#include "widgets/IconHelpers.h"

#include <QFont>
#include <QGridLayout>
#include <QIcon>
#include <QLabel>

QtLesionsInfoDialog::QtLesionsInfoDialog(QWidget *parent) : QDialog(parent)
{
    setupUi();
}

QLabel *QtLesionsInfoDialog::stepLabel(const QString &number)
{
    auto *label = new QLabel(number, this);
    QFont font = label->font();
    font.setPointSize(12);
    label->setFont(font);
    label->setAlignment(Qt::AlignCenter);
    return label;
}

QLabel *QtLesionsInfoDialog::iconLabel(const QString &path)
{
    auto *label = new QLabel(this);
    label->setFixedSize(24, 24);
    label->setScaledContents(true);
    label->setPixmap(svgFileToPixmap(path, QSize(24, 24)));
    return label;
}

void QtLesionsInfoDialog::setupUi()
{
    setObjectName(QStringLiteral("Dialog"));
    resize(235, 308);
    setWindowIcon(QIcon(QStringLiteral(":/rsc/LOGO-03.jpg")));
    setWindowTitle(tr("Information"));

    m_grid = new QGridLayout(this);
    auto text = [this](const QString &t) {
        auto *label = new QLabel(t, this);
        label->setTextFormat(Qt::PlainText);
        return label;
    };
    int row = 0;
    m_grid->addWidget(text(tr("Mark a new spot:")), row++, 0, 1, 4);
    m_grid->addWidget(stepLabel(QStringLiteral("1")), row, 0);
    m_grid->addWidget(text(tr("Right click on new spot")), row++, 1, 1, 3);
    m_grid->addWidget(stepLabel(QStringLiteral("2")), row, 0);
    m_grid->addWidget(text(tr("Click")), row, 1);
    m_grid->addWidget(iconLabel(QStringLiteral(":/menu/createNew")), row, 2);
    m_grid->addWidget(text(tr("button")), row++, 3);
    m_grid->addWidget(text(tr("Upload new dermatoscopic image:")), row++, 0, 1, 4);
    m_grid->addWidget(stepLabel(QStringLiteral("1")), row, 0);
    m_grid->addWidget(text(tr("Right click on spot")), row++, 1, 1, 3);
    m_grid->addWidget(stepLabel(QStringLiteral("2")), row, 0);
    m_grid->addWidget(text(tr("Click")), row, 1);
    m_grid->addWidget(iconLabel(QStringLiteral(":/icon/uplaod")), row, 2);
    m_grid->addWidget(text(tr("button")), row++, 3);
    m_grid->addWidget(stepLabel(QStringLiteral("3")), row, 0);
    m_grid->addWidget(text(tr("Select file")), row++, 1, 1, 3);
}
