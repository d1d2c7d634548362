// Wiegenfestbote: tells a company each morning whose birthday it is, and mails the list.

#include "main.h"

#include <QApplication>

#include <string>
#include <vector>

int main(int argc, char** argv) {
    // The arguments as the process received them, before Qt takes out the options it knows.
    const std::vector<std::string> arguments(argv, argv + argc);

    QApplication application(argc, argv);
    wfb::Tfmain fmain({{}, arguments});
    fmain.show();
    application.exec();
    return 0;
}
