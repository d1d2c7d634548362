#pragma once

#include "arguments.h"
#include "message.h"
#include "settings/inifile.h"

#include <ctime>
#include <ostream>
#include <string>
#include <vector>

namespace wfb::mailer {

// One start of the mailer, with everything it takes from the system, so that it can be run
// with a fixed clock and in any folder.
struct MailerRun {
    std::string executable;             // full path of the real executable
    std::vector<std::string> arguments; // as given, without the program name
    std::time_t now = 0;                // the clock, read once: Date and file names
    std::string unique;                 // left part of the Message-ID, unique to this run
};

// The settings file beside the executable: its path with the extension ".ini".
std::string mailerSettingsPath(const std::string& executable);

// [Outbox] Dir; empty: "outbox" beside the executable. A relative path is taken against the
// executable's folder, not the current one, which the main program does not set.
std::string outboxDirectory(const IniFile& settings, const std::string& executable);

// A Message-ID left part no other run produces: time, process id and 64 random bits.
std::string uniqueMessagePart(std::time_t now);

// The mail the arguments ask for, with the body read from the file. The subject, the display
// name and the addresses arrive as Windows-1252 bytes, the code page of the main program's
// settings file, as does the body: all of them are turned into UTF-8 here.
MailMessage messageFrom(const MailerArguments& arguments, std::string_view body);

// Reads the arguments, the settings beside the executable and the body file, composes the
// message and then:
// - without "/sofort": puts it in the outbox, sends nothing;
// - without a server ([SMTP] Server empty): puts it in the outbox;
// - otherwise sends it; when that fails, keeps it in the outbox's folder "fehlgeschlagen" and
//   throws a Failure that says why and where the message lies.
// Writes to out what became of the message. Every failure throws a Failure; arguments that are
// wrong or a header value that could smuggle in header lines stop it before anything is sent
// or stored.
void runMailer(const MailerRun& run, std::ostream& out);

} // namespace wfb::mailer
