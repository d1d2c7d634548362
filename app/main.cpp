#include "main.h"

#include "mail/handoff.h"
#include "memotext.h"
#include "system/paths.h"
#include "windowlayer.h"

#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QTextDocument>

namespace wfb {
namespace {

// Outer frame of the window, in pixels at 96 dots per inch.
constexpr int windowWidth = 541;
constexpr int windowHeight = 390;

} // namespace

Tfmain::Tfmain(StartupEnvironment environment, QWidget* parent)
    : QWidget(parent), environment_(std::move(environment)), list_("memo") {
    setObjectName(QStringLiteral("fmain"));
    setWindowTitle(QStringLiteral("Wiegenfestbote"));
    setFont(QFont(QStringLiteral("MS Sans Serif"), 8));
    resize(windowWidth, windowHeight);

    memo = new QPlainTextEdit(this);
    memo->setObjectName(QStringLiteral("memo"));
    memo->setGeometry(10, 15, 401, 331);
    memo->setLineWrapMode(QPlainTextEdit::NoWrap);
    memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    BTsend = new QPushButton(QStringLiteral("Senden"), this);
    BTsend->setObjectName(QStringLiteral("BTsend"));
    BTsend->setGeometry(420, 25, 75, 25);
    BTsend->setAutoDefault(false);
    BTsend->setDefault(false);
    connect(BTsend, &QPushButton::clicked, this,
            [this] { runHandler(this, [this] { BTsendClick(); }); });

    setTabOrder(memo, BTsend);
    memo->setFocus();

    runHandler(this, [this] { FormCreate(); });
    memo->setPlainText(toMemoText(list_.whole()));
}

const std::string& Tfmain::executable() {
    if (environment_.executable.empty()) {
        environment_.executable = executablePath();
    }
    return environment_.executable;
}

void Tfmain::FormCreate() {
    executable();
    runCreateSequence(*this, list_, *this, environment_);
}

void Tfmain::FormShow() {
    if (!AutoSend) {
        return;
    }
    BTsendClick();
    // Closing while the window is still being shown would cut its showing short: the close
    // follows as soon as the event loop runs. A failed send skips it and leaves the window open.
    QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

void Tfmain::BTsendClick() {
    sendList(listText(), MailerPath, Recipient, executable());
}

std::string Tfmain::listText() const {
    return fromMemoText(memo->document()->toRawText());
}

void Tfmain::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!placed_) {
        placed_ = true;
        placeOnScreen();
    }
    // Restoring a minimised window shows it again, but only becoming visible runs the handler.
    if (!event->spontaneous()) {
        runHandler(this, [this] { FormShow(); });
    }
}

// The sizes are those of the outer frame, and the window is centred on its screen.
void Tfmain::placeOnScreen() {
    const int frameWidth = frameGeometry().width() - geometry().width();
    const int frameHeight = frameGeometry().height() - geometry().height();
    resize(windowWidth - frameWidth, windowHeight - frameHeight);
    if (const QScreen* screen = this->screen()) {
        const QRect area = screen->availableGeometry();
        move(area.left() + (area.width() - windowWidth) / 2,
             area.top() + (area.height() - windowHeight) / 2);
    }
}

} // namespace wfb
