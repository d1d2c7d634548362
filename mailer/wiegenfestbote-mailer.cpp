// wiegenfestbote-mailer: mails the birthday list that Wiegenfestbote hands over, or puts it in the
// outbox.

#include "mailer.h"
#include "system/failure.h"
#include "system/paths.h"

#include <ctime>
#include <iostream>

int main(int argc, char** argv) {
    try {
        wfb::mailer::MailerRun run;
        run.executable = wfb::executablePath();
        if (argc > 1) {
            run.arguments.assign(argv + 1, argv + argc);
        }
        run.now = std::time(nullptr);
        run.unique = wfb::mailer::uniqueMessagePart(run.now);
        wfb::mailer::runMailer(run, std::cout);
        return 0;
    } catch (const wfb::Failure& failure) {
        std::cout.flush();
        std::cerr << "wiegenfestbote-mailer: " << failure.what() << std::endl;
        return 1;
    }
}
