#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QObject>
#include <QTimer>

#include <string>
#include <vector>

namespace wfb::test {

// What a modal message box showed before the test dismissed it.
struct SeenBox {
    std::string title;
    std::string text;
    QMessageBox::Icon icon;
    QMessageBox::StandardButtons buttons;
};

// Watches for modal message boxes while it lives, records each and presses its OK button, as
// the user would.
class BoxWatcher {
public:
    BoxWatcher() {
        QObject::connect(&timer_, &QTimer::timeout, [this] { dismiss(); });
        timer_.start(5);
    }

    const std::vector<SeenBox>& boxes() const { return boxes_; }

private:
    void dismiss() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || !box->isVisible()) {
            return;
        }
        boxes_.push_back({box->windowTitle().toStdString(), box->text().toStdString(), box->icon(),
                          box->standardButtons()});
        if (QAbstractButton* ok = box->button(QMessageBox::Ok)) {
            ok->click();
        } else {
            box->reject();
        }
    }

    QTimer timer_;
    std::vector<SeenBox> boxes_;
};

} // namespace wfb::test
