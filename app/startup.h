#pragma once

#include "birthdays/birthdaylist.h"
#include "birthdays/date.h"
#include "text/listtext.h"

#include <functional>
#include <string>
#include <vector>

namespace wfb {

// The main window's fields, all zero when the window is made.
struct MainFields {
    bool AutoSend = false;  // the command line asked for the unattended run
    std::string MailerPath; // [Option] Mailer: the program that mails the list
    std::string Recipient;  // [Option] RCPT: who gets the mail
    int BirthdayCount = 0;  // rows of today's birthday query
};

// What the program was started with.
struct StartupEnvironment {
    std::string executable;                   // full path of the real executable
    std::vector<std::string> arguments;       // as the process received them, program name first
    std::function<Date()> today = localToday; // the calendar, read once for the birthday query
};

// The unattended run: exactly one argument besides the program name, and that is "/go".
bool asksForUnattendedRun(const std::vector<std::string>& arguments);

// The settings file beside the executable.
std::string settingsPath(const std::string& executable);

// The create-time sequence: the command-line switch, the settings, the template and today's
// birthdays from the database components, in this order. A failure throws and leaves fields and
// list text as far as the sequence got; the connection stays open with the components.
void runCreateSequence(MainFields& fields, ListText& list, BirthdayComponents& components,
                       const StartupEnvironment& environment);

} // namespace wfb
