#include "capture/QtSelectLesionsDialog.h"

#include "session/SessionVisualizer.h"
#include "widgets/CustomTitleBar.h"

#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>

void QtSelectLesionsDialog::Ui::setupUi(QDialog *dialog)
{
    if (dialog->objectName().isEmpty())
        dialog->setObjectName(QStringLiteral("QtSelectLesionsDialogClass"));
    dialog->resize(600, 400);
    verticalLayout = new QVBoxLayout(dialog);
    verticalLayout->setObjectName(QStringLiteral("verticalLayout"));
    titleBarLayout = new QVBoxLayout();
    titleBarLayout->setObjectName(QStringLiteral("titleBarLayout"));
    verticalLayout->addLayout(titleBarLayout);
    informacioLabel = new QLabel(dialog);
    informacioLabel->setObjectName(QStringLiteral("informacioLabel"));
    informacioLabel->setWordWrap(true);
    informacioLabel->setTextFormat(Qt::RichText);
    verticalLayout->addWidget(informacioLabel);
    switchLayout = new QHBoxLayout();
    switchLayout->setObjectName(QStringLiteral("switchLayout"));
    switchButtonHaveDermatos = new QPushButton(dialog);
    switchButtonHaveDermatos->setObjectName(QStringLiteral("switchButtonHaveDermatos"));
    switchButtonHaveDermatos->setCheckable(true);
    switchButtonHaveDermatos->setChecked(true);
    QIcon switchIcon;
    switchIcon.addFile(QStringLiteral(":/icon/empty"), QSize(), QIcon::Normal, QIcon::Off);
    switchIcon.addFile(QStringLiteral(":/icon/full"), QSize(), QIcon::Normal, QIcon::On);
    switchButtonHaveDermatos->setIcon(switchIcon);
    switchButtonHaveDermatos->setIconSize(QSize(40, 20));
    switchLayout->addWidget(switchButtonHaveDermatos);
    label_switch = new QLabel(dialog);
    label_switch->setObjectName(QStringLiteral("label_switch"));
    label_switch->setText(QtSelectLesionsDialog::tr("Only lesions without dermatoscopic image"));
    switchLayout->addWidget(label_switch, 1);
    verticalLayout->addLayout(switchLayout);
    advancedButton = new QPushButton(dialog);
    advancedButton->setObjectName(QStringLiteral("advancedButton"));
    advancedButton->setText(QtSelectLesionsDialog::tr("Advanced options"));
    verticalLayout->addWidget(advancedButton);
    widget = new QWidget(dialog);
    widget->setObjectName(QStringLiteral("widget"));
    auto *advanced = new QVBoxLayout(widget);
    auto *labelRow = new QHBoxLayout();
    label_SBL = new QLabel(widget);
    label_SBL->setObjectName(QStringLiteral("label_SBL"));
    label_SBL->setText(QtSelectLesionsDialog::tr("Select by Label:"));
    labelRow->addWidget(label_SBL, 1);
    allLabelsButton = new QPushButton(widget);
    allLabelsButton->setObjectName(QStringLiteral("allLabelsButton"));
    allLabelsButton->setText(QtSelectLesionsDialog::tr("All"));
    labelRow->addWidget(allLabelsButton);
    advanced->addLayout(labelRow);
    listWidgetLabel = new QListWidget(widget);
    listWidgetLabel->setObjectName(QStringLiteral("listWidgetLabel"));
    advanced->addWidget(listWidgetLabel);
    verticalLayout->addWidget(widget);
    startButton = new QPushButton(dialog);
    startButton->setObjectName(QStringLiteral("startButton"));
    startButton->setText(QtSelectLesionsDialog::tr("Start"));
    verticalLayout->addWidget(startButton);
}

QtSelectLesionsDialog::QtSelectLesionsDialog(QStringList labels, QSharedPointer<SessionVisualizer> session)
    : QDialog(nullptr), m_session(std::move(session))
{
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    ui.setupUi(this);
    // The title bar's close button closes the window, which rejects.
    ui.titleBarLayout->addWidget(new CustomTitleBar(tr("Synchronization options"), this), 0, Qt::AlignTop);
    setWindowIcon(QIcon(QStringLiteral(":/rsc/LOGO-03.jpg")));

    ui.listWidgetLabel->addItems(labels);
    ui.listWidgetLabel->setSelectionMode(QAbstractItemView::MultiSelection);
    ui.listWidgetLabel->setSpacing(1);
    for (const QListWidgetItem *item :
         ui.listWidgetLabel->findItems(QStringLiteral("Follow up"), Qt::MatchExactly))
        ui.listWidgetLabel->item(ui.listWidgetLabel->row(item))->setSelected(true);
    ui.listWidgetLabel->verticalScrollBar()->setContextMenuPolicy(Qt::NoContextMenu);
    ui.listWidgetLabel->horizontalScrollBar()->setContextMenuPolicy(Qt::NoContextMenu);
    ui.widget->hide();

    connect(ui.allLabelsButton, &QPushButton::clicked, ui.listWidgetLabel, &QListWidget::selectAll);
    connect(ui.switchButtonHaveDermatos, &QPushButton::clicked, this, &QtSelectLesionsDialog::refreshSummary);
    connect(ui.listWidgetLabel, &QListWidget::itemSelectionChanged, this,
            &QtSelectLesionsDialog::refreshSummary);
    connect(ui.startButton, &QPushButton::clicked, this, &QDialog::accept);
    QMetaObject::connectSlotsByName(this);
    refreshSummary();
}

void QtSelectLesionsDialog::on_advancedButton_clicked()
{
    ui.widget->setVisible(!ui.widget->isVisible());
}

QStringList QtSelectLesionsDialog::selectedLabels() const
{
    QStringList labels;
    for (int row = 0; row < ui.listWidgetLabel->count(); ++row)
        if (ui.listWidgetLabel->item(row)->isSelected())
            labels << ui.listWidgetLabel->item(row)->text();
    return labels;
}

bool QtSelectLesionsDialog::onlyWithoutDermatoscopic() const
{
    return ui.switchButtonHaveDermatos->isChecked();
}

QString QtSelectLesionsDialog::joinLabels(const QStringList &labels)
{
    if (labels.isEmpty())
        return QString();
    if (labels.size() == 1)
        return labels.front();
    return labels.mid(0, labels.size() - 1).join(QStringLiteral(", ")) + tr(" or ") + labels.back();
}

void QtSelectLesionsDialog::refreshSummary()
{
    const QStringList labels = selectedLabels();
    const QString joined = joinLabels(labels).toHtmlEscaped();
    QString text = QStringLiteral("<html> <body style = \"color:rgb(155,155,155);  font-size:20px;\">");
    if (onlyWithoutDermatoscopic())
        text +=
            tr("Obtain dermatoscopic images of all lesions marked as <b>%1</b> without dermatoscopic image.")
                .arg(joined);
    else
        text += tr("Obtain dermatoscopic images of all lesions marked as <b>%1</b>.").arg(joined);
    const int count = m_session ? int(m_session->getLesions(labels, !onlyWithoutDermatoscopic()).size()) : 0;
    text += tr("<br><br>Number of lesions selected: <b>%1</b></html>").arg(count);
    ui.informacioLabel->setText(text);
}
