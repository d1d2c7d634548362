#include "windowlayer.h"

#include "report.h"
#include "system/failure.h"

#include <QMessageBox>
#include <QWidget>

namespace wfb {

bool runHandler(QWidget* owner, const std::function<void()>& handler) {
    try {
        handler();
        return true;
    } catch (...) {
        showErrorBox(owner, reportOf(std::current_exception()).message);
        return false;
    }
}

void showErrorBox(QWidget* owner, const std::string& message) {
    // A window that is not on the screen yet cannot carry the box.
    QWidget* parent = owner != nullptr && owner->isVisible() ? owner : nullptr;
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Wiegenfestbote"), QString(),
                    QMessageBox::Ok, parent);
    box.setObjectName(QStringLiteral("errorBox"));
    // Messages carry paths and names from files people edit: never read them as markup.
    box.setTextFormat(Qt::PlainText);
    box.setText(QString::fromStdString(boxText(message)));
    box.exec();
}

} // namespace wfb
