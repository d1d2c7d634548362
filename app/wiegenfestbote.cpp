// Wiegenfestbote: tells a company each morning whose birthday it is, and mails the list.

#include "main.h"
#include "unattended.h"

#include <QApplication>

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    // The arguments as the process received them, before Qt takes out the options it knows.
    const std::vector<std::string> arguments(argv, argv + argc);

    // Started by cron or a timer there is no display: a window could not open, and an error box
    // would wait for nobody. The unattended run then goes without a window.
    if (!wfb::displayAvailable()) {
        if (wfb::asksForUnattendedRun(arguments)) {
            return wfb::runWithoutWindow({{}, arguments}, std::cerr);
        }
        wfb::reportLine(std::cerr,
                        "Kein Bildschirm: Weder DISPLAY noch WAYLAND_DISPLAY ist gesetzt. Das "
                        "Fenster braucht eine grafische Sitzung; ohne sie läuft das Programm nur "
                        "unbeaufsichtigt, mit dem einzigen Argument /go");
        return 1;
    }

    QApplication application(argc, argv);
    wfb::Tfmain fmain({{}, arguments});
    fmain.show();
    application.exec();
    return 0;
}
