#include "arguments.h"

#include "message.h"
#include "system/failure.h"

#include <array>
#include <optional>

namespace wfb::mailer {
namespace {

const std::string usage = "Aufruf: wiegenfestbote-mailer /s:Betreff /b:Datei /e:Absender "
                          "/n:Name /to:Empfänger [/sofort]";

struct Switch {
    std::string_view prefix;
    std::string_view meaning;
};

// The switches with a value; "/sofort" stands alone.
constexpr std::array<Switch, 5> valued = {{
    {"/s:", "Betreff"},
    {"/b:", "Nachrichtendatei"},
    {"/e:", "Absender"},
    {"/n:", "Absendername"},
    {"/to:", "Empfänger"},
}};

} // namespace

std::vector<std::string> splitRecipients(std::string_view list) {
    std::vector<std::string> recipients;
    constexpr std::string_view blanks = " \t";
    while (!list.empty()) {
        const auto end = list.find_first_of(",;");
        auto piece = list.substr(0, end);
        list = end == std::string_view::npos ? std::string_view{} : list.substr(end + 1);
        const auto first = piece.find_first_not_of(blanks);
        if (first == std::string_view::npos) {
            continue;
        }
        piece = piece.substr(first, piece.find_last_not_of(blanks) - first + 1);
        recipients.emplace_back(piece);
    }
    return recipients;
}

MailerArguments parseArguments(const std::vector<std::string>& arguments) {
    std::array<std::optional<std::string>, valued.size()> values;
    bool sendNow = false;

    for (const auto& argument : arguments) {
        if (argument == "/sofort") {
            if (sendNow) {
                throw Failure("Das Argument „/sofort“ ist mehrfach angegeben. " + usage);
            }
            sendNow = true;
            continue;
        }
        std::size_t which = 0;
        while (which < valued.size() && !argument.starts_with(valued[which].prefix)) {
            ++which;
        }
        if (which == valued.size()) {
            throw Failure("Unbekanntes Argument " + shownValue(argument) + ". " + usage);
        }
        if (values[which]) {
            throw Failure("Das Argument " + std::string(valued[which].prefix) + " (" +
                          std::string(valued[which].meaning) + ") ist mehrfach angegeben. " +
                          usage);
        }
        values[which] = argument.substr(valued[which].prefix.size());
    }

    MailerArguments result;
    result.subject = values[0].value_or("");
    result.bodyFile = values[1].value_or("");
    result.senderAddress = values[2].value_or("");
    result.senderName = values[3].value_or("");
    result.recipients = splitRecipients(values[4].value_or(""));
    result.sendNow = sendNow;

    if (result.bodyFile.empty()) {
        throw Failure("Keine Nachrichtendatei angegeben: Das Argument /b: fehlt oder ist leer. " +
                      usage);
    }
    if (result.senderAddress.empty()) {
        throw Failure("Kein Absender angegeben: Das Argument /e: fehlt oder ist leer. " + usage);
    }
    if (result.recipients.empty()) {
        throw Failure(
            "Kein Empfänger angegeben: Das Argument /to: fehlt oder nennt keine "
            "Adresse" +
            (values[4] && !values[4]->empty() ? " (" + shownValue(*values[4]) + ")" : "") + ". " +
            usage);
    }
    return result;
}

} // namespace wfb::mailer
