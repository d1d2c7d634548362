#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace wfb {

// The sender address the mailer is told, set when the program is built (WFB_SENDER).
std::string_view senderAddress();

// The list text file beside the executable.
std::string listFilePath(const std::string& executable);

// The six tokens of the mailer's command line, as it is written down: the subject in double
// quotes, the body file, the sender twice, the recipient, and "send at once". Paths and the
// recipient stand in them as they are.
std::vector<std::string> mailerTokens(const std::string& listFile, const std::string& recipient);

// The tokens joined by single blanks.
std::string parameterString(const std::vector<std::string>& tokens);

// The tokens as the mailer receives them, one argument each: the enclosing double quotes that
// grouped the blanks of a token are not part of it.
std::vector<std::string> mailerArguments(const std::vector<std::string>& tokens);

// The send action: writes the whole list text to the list file beside the executable and starts
// the mailer on it. An empty mailer path writes the file and starts nothing. Throws a Failure
// when the file cannot be written (the mailer is then not started) or the mailer cannot be
// started.
void sendList(std::string_view wholeText, const std::string& mailerPath,
              const std::string& recipient, const std::string& executable);

} // namespace wfb
