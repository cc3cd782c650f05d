#include "capture/QRDialog.h"

#include "widgets/CustomTitleBar.h"

#include <QDesktopServices>
#include <QFrame>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPixmap>
#include <QUrl>
#include <QVBoxLayout>

void QRDialog::Ui::setupUi(QDialog *dialog)
{
    if (dialog->objectName().isEmpty())
        dialog->setObjectName(QStringLiteral("QRDialogClass"));
    dialog->resize(400, 400);
    verticalLayout_2 = new QVBoxLayout(dialog);
    verticalLayout_2->setObjectName(QStringLiteral("verticalLayout_2"));
    verticalLayout_2->setContentsMargins(11, 11, 11, 11);
    verticalLayout = new QVBoxLayout();
    verticalLayout->setObjectName(QStringLiteral("verticalLayout"));
    verticalLayout_2->addLayout(verticalLayout);
    description = new QLabel(dialog);
    description->setObjectName(QStringLiteral("description"));
    description->setWordWrap(true);
    verticalLayout_2->addWidget(description);
    frame = new QFrame(dialog);
    frame->setObjectName(QStringLiteral("frame"));
    frame->setFrameShape(QFrame::StyledPanel);
    frame->setFrameShadow(QFrame::Raised);
    horizontalLayout = new QHBoxLayout(frame);
    horizontalLayout->setObjectName(QStringLiteral("horizontalLayout"));
    horizontalLayout->setContentsMargins(11, 11, 11, 11);
    qrLabel = new QLabel(frame);
    qrLabel->setObjectName(QStringLiteral("qrLabel"));
    qrLabel->setAlignment(Qt::AlignCenter);
    horizontalLayout->addWidget(qrLabel);
    verticalLayout_2->addWidget(frame);
}

QRDialog::QRDialog(QImage image, QString serverUrl) : QDialog(nullptr)
{
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    ui.setupUi(this);
    ui.verticalLayout->addWidget(new CustomTitleBar(tr("Connect device"), this));
    setWindowTitle(QStringLiteral("QR"));
    setWindowIcon(QIcon(QStringLiteral(":/rsc/LOGO-03.jpg")));
    setStyleSheet(QStringLiteral("background-color: black;"));
    ui.frame->setStyleSheet(QStringLiteral("background-color: white; border-radius:25px;"));
    ui.qrLabel->setPixmap(QPixmap::fromImage(image));
    // The dialog is black: the instructions must not be black on black.
    ui.description->setStyleSheet(QStringLiteral("color: white;"));
    ui.description->setTextFormat(Qt::RichText);
    ui.description->setText(descriptionText(serverUrl));
    // Links are opened here, and only web ones: a server URL of another
    // scheme must not start a program or open a local file.
    ui.description->setOpenExternalLinks(false);
    connect(ui.description, &QLabel::linkActivated, this, [](const QString &link) {
        const QUrl url(link);
        if (isOpenableLink(url))
            QDesktopServices::openUrl(url);
    });
}

QString QRDialog::descriptionText(const QString &serverUrl)
{
    const QString escaped = serverUrl.toHtmlEscaped();
    return tr("<html><head/><body><p><br/></p><p>To add images using a device, access <a "
              "href=\"%1/external/sync/\"><span style=\"text-decoration: underline; "
              "color:#ffb39b;\">%1/external/sync/</span></a> with your device and scan the "
              "code:</p><p><br/></p></body></html>")
        .arg(escaped);
}

bool QRDialog::isOpenableLink(const QUrl &url)
{
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == QLatin1String("https") || scheme == QLatin1String("http"));
}
