#include "widgets/CustomMessageBox.h"
#include "widgets/PanelPainter.h"
#include "widgets/WindowDragger.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

const char *const kDialogButtonStyle = "\n"
                                       "    QPushButton {\n"
                                       "        color: white;\n"
                                       "        background-color: rgb(34,34,34);\n"
                                       "        border-radius: 5px;\n"
                                       "    }\n"
                                       "    QPushButton:hover {\n"
                                       "        background-color: rgb(94,94,94);\n"
                                       "    }\n";

} // namespace

CustomMessageBox::CustomMessageBox(const QString &message, const QString &title, QWidget *parent)
    : QDialog(parent, Qt::FramelessWindowHint)
{
    setAttribute(Qt::WA_TranslucentBackground);

    auto *mainLayout = new QVBoxLayout(this);
    mainLayout->setContentsMargins(0, 0, 0, 0);

    auto *titleRow = new QHBoxLayout();
    titleRow->setContentsMargins(5, 5, 5, 0);
    auto *iconLabel = new QLabel(this);
    iconLabel->setPixmap(QPixmap(QStringLiteral(":/icon/AppIconSVG"))
                             .scaled(QSize(16, 16), Qt::KeepAspectRatio, Qt::SmoothTransformation));
    auto *titleLabel = new QLabel(title, this);
    titleLabel->setTextFormat(Qt::PlainText);
    titleLabel->setStyleSheet(QStringLiteral("color: white;"));
    closeButton = new QPushButton(this);
    closeButton->setIcon(QIcon(QStringLiteral(":/icon/closeMessage")));
    closeButton->setIconSize(QSize(24, 24));
    closeButton->setAutoDefault(false);
    closeButton->setFocusPolicy(Qt::NoFocus);
    closeButton->setStyleSheet(QStringLiteral(
        "QPushButton {border: none; }QPushButton:hover {background-color:none;border: none; }"));
    connect(closeButton, &QPushButton::clicked, this, &QDialog::reject);
    titleRow->addWidget(iconLabel);
    titleRow->addWidget(titleLabel);
    titleRow->addStretch();
    titleRow->addWidget(closeButton);
    mainLayout->addLayout(titleRow);

    // Messages may carry text from files or the server: never interpret it as markup.
    messageLabel = new QLabel(message, this);
    messageLabel->setTextFormat(Qt::PlainText);
    messageLabel->setWordWrap(true);
    messageLabel->setAlignment(Qt::AlignCenter);
    messageLabel->setStyleSheet(QStringLiteral("color: white; font-size:18px; padding:8px;"));
    // Wide enough for its longest line, so short messages never wrap; very
    // long lines still wrap instead of stretching the box across the screen.
    messageLabel->ensurePolished();
    int longestLine = 0;
    const QFontMetrics metrics(messageLabel->font());
    for (const QString &line : message.split(QLatin1Char('\n')))
        longestLine = std::max(longestLine, metrics.horizontalAdvance(line));
    messageLabel->setMinimumWidth(std::min(longestLine + 2 * 8 + 4, 640));
    mainLayout->addWidget(messageLabel, 0, Qt::AlignCenter);

    auto *buttonRow = new QHBoxLayout();
    buttonRow->setContentsMargins(10, 0, 10, 10);
    ok = new QPushButton(tr("OK"), this);
    cancel = new QPushButton(tr("Cancel"), this);
    for (QPushButton *button : {ok, cancel}) {
        button->setMinimumSize(80, 30);
        button->setStyleSheet(QString::fromLatin1(kDialogButtonStyle));
        buttonRow->addWidget(button);
    }
    cancel->setAutoDefault(false);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    mainLayout->addLayout(buttonRow);

    // An explicit minimum replaces the layout's, so the layout's (the
    // longest line) is taken into it: a box narrower than its message cuts
    // the message off.
    setMinimumSize(QSize(300, 200).expandedTo(mainLayout->minimumSize()));
    // Frameless: the whole panel is the handle.
    WindowDragger::install(this);
}

void CustomMessageBox::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    paintRoundedPanel(painter, rect(), borderWidth, borderColor);
}

void CustomMessageBox::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
}
