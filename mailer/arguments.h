#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace wfb::mailer {

// What the command line asks for. The main program passes six arguments:
//   /s:<subject> /b:<body file> /e:<sender address> /n:<sender name> /to:<recipients> /sofort
// in any order. Values are the bytes as given: the subject, the name and the addresses come from
// the main program's Windows-1252 settings, the body file path from the file system.
struct MailerArguments {
    std::string subject;                 // /s:, may be empty
    std::string bodyFile;                // /b:, required
    std::string senderAddress;           // /e:, required
    std::string senderName;              // /n:, may be empty or missing: no display name
    std::vector<std::string> recipients; // /to:, one or more, separated by "," or ";"
    bool sendNow = false;                // /sofort
};

// Reads the arguments (without the program name). An unknown, repeated or empty argument, a
// missing body file, sender or recipient throws a Failure naming it.
MailerArguments parseArguments(const std::vector<std::string>& arguments);

// The addresses of a recipient list: split at "," and ";", blanks and tabs around each address
// taken off, empty pieces left out.
std::vector<std::string> splitRecipients(std::string_view list);

} // namespace wfb::mailer
