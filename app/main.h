#pragma once

#include "startup.h"
#include "text/listtext.h"

#include <QWidget>

#include <string>

class QPlainTextEdit;
class QPushButton;

namespace wfb {

// The main window: the list text in an editable text area and the "Senden" button, and the
// database connection and query of the birthday list, which live as long as the window. Making
// it runs the create-time sequence; a failure there is reported and the window opens with the
// list text as far as the sequence got.
class Tfmain : public QWidget, public MainFields, public BirthdayComponents {
public:
    explicit Tfmain(StartupEnvironment environment, QWidget* parent = nullptr);

    QPlainTextEdit* memo;
    QPushButton* BTsend;

    // The create-time handler; throws on failure.
    void FormCreate();
    // The show-time handler.
    void FormShow();
    // The click handler of "Senden".
    void BTsendClick();

    // The list text as it stands, the user's edits included.
    std::string listText() const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void placeOnScreen();
    // The real executable's path, found when first needed.
    const std::string& executable();

    StartupEnvironment environment_;
    ListText list_;
    bool placed_ = false;
};

} // namespace wfb
