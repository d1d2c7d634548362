#include "handoff.h"

#include "system/failure.h"
#include "system/files.h"
#include "system/paths.h"
#include "tools.h"

#ifndef WFB_SENDER
#error "WFB_SENDER must name the sender address"
#endif

namespace wfb {

std::string_view senderAddress() {
    return WFB_SENDER;
}

std::string listFilePath(const std::string& executable) {
    return replaceExtension(executable, ".txt");
}

std::vector<std::string> mailerTokens(const std::string& listFile, const std::string& recipient) {
    const std::string sender(senderAddress());
    return {
        "\"/s:Geburtstage des Tages\"",
        "/b:" + listFile,
        "/e:" + sender,
        "/n:" + sender,
        "/to:" + recipient,
        "/sofort",
    };
}

std::string parameterString(const std::vector<std::string>& tokens) {
    std::string joined;
    for (const auto& token : tokens) {
        if (!joined.empty()) {
            joined += ' ';
        }
        joined += token;
    }
    return joined;
}

std::vector<std::string> mailerArguments(const std::vector<std::string>& tokens) {
    std::vector<std::string> arguments;
    for (const auto& token : tokens) {
        const bool grouped = token.size() >= 2 && token.front() == '"' && token.back() == '"';
        arguments.push_back(grouped ? token.substr(1, token.size() - 2) : token);
    }
    return arguments;
}

void sendList(std::string_view wholeText, const std::string& mailerPath,
              const std::string& recipient, const std::string& executable) {
    const std::string listFile = listFilePath(executable);
    if (const FileError error = replaceWholeFile(listFile, wholeText)) {
        throw Failure("Die Listendatei " + quoted(listFile) +
                      " kann nicht geschrieben werden: " + error.reason);
    }
    ShellOpen(mailerPath, mailerArguments(mailerTokens(listFile, recipient)));
}

} // namespace wfb
