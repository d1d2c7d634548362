#include "mailer.h"

#include "outbox.h"
#include "smtp.h"
#include "system/failure.h"
#include "system/files.h"
#include "system/paths.h"
#include "text/codepage.h"

#include <cstdint>
#include <cstdio>
#include <sys/random.h>
#include <unistd.h>

namespace wfb::mailer {
namespace {

std::string joined(const std::string& directory, const std::string& name) {
    return directory.empty() || directory.ends_with('/') ? directory + name
                                                         : directory + "/" + name;
}

std::string listOf(const std::vector<std::string>& addresses) {
    std::string list;
    for (const auto& address : addresses) {
        list += (list.empty() ? "" : ", ") + address;
    }
    return list;
}

// Keeps the message after a failed send and throws the failure, saying where the message lies.
[[noreturn]] void keepAndThrow(Outbox& outbox, std::string_view composed, std::time_t now,
                               const std::string& failure) {
    std::string kept;
    try {
        kept = "Die Nachricht liegt in " + quoted(outbox.keep(composed, now));
    } catch (const Failure& keepFailure) {
        kept = std::string("Auch das Aufbewahren ist gescheitert: ") + keepFailure.what();
    }
    throw Failure(failure + ". " + kept);
}

} // namespace

std::string mailerSettingsPath(const std::string& executable) {
    return replaceExtension(executable, ".ini");
}

std::string outboxDirectory(const IniFile& settings, const std::string& executable) {
    const std::string dir = settings.read("Outbox", "Dir");
    if (dir.starts_with('/')) {
        return dir;
    }
    return joined(directoryOf(executable), dir.empty() ? "outbox" : dir);
}

std::string uniqueMessagePart(std::time_t now) {
    std::uint64_t random = 0;
    if (::getrandom(&random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) {
        struct timespec clock {};
        ::clock_gettime(CLOCK_REALTIME, &clock);
        random = static_cast<std::uint64_t>(clock.tv_nsec) * 0x9E3779B97F4A7C15ULL;
    }
    std::tm local{};
    char stamp[32] = "00000000000000";
    if (::localtime_r(&now, &local) != nullptr) {
        std::strftime(stamp, sizeof stamp, "%Y%m%d%H%M%S", &local);
    }
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(random));
    return std::string(stamp) + "." + std::to_string(::getpid()) + "." + hex;
}

MailMessage messageFrom(const MailerArguments& arguments, std::string_view body) {
    MailMessage message;
    message.senderAddress = cp1252::toUtf8(arguments.senderAddress);
    message.senderName = cp1252::toUtf8(arguments.senderName);
    for (const auto& recipient : arguments.recipients) {
        message.recipients.push_back(cp1252::toUtf8(recipient));
    }
    message.subject = cp1252::toUtf8(arguments.subject);
    message.body = cp1252::toUtf8(body);
    return message;
}

void runMailer(const MailerRun& run, std::ostream& out) {
    const MailerArguments arguments = parseArguments(run.arguments);
    const IniFile settings(mailerSettingsPath(run.executable));
    Outbox outbox(outboxDirectory(settings, run.executable));

    std::string body;
    if (const FileError error = readWholeFile(arguments.bodyFile, body, maxTextFileSize)) {
        throw Failure("Die Nachrichtendatei " + quoted(arguments.bodyFile) +
                      " (Argument /b:) kann nicht gelesen werden: " + error.reason);
    }
    const MailMessage message = messageFrom(arguments, body);
    const std::string composed =
        composeMessage(message, run.now, messageIdFor(run.unique, message.senderAddress));

    if (!arguments.sendNow) {
        const std::string path = outbox.put(composed, run.now);
        out << "Nicht gesendet, da /sofort fehlt: Die Nachricht liegt im Postausgang "
            << quoted(path) << "\n";
        return;
    }

    // The one place a failure is caught on its way out: to keep the message, which the failure
    // then names.
    SmtpSettings smtp;
    try {
        smtp = readSmtpSettings(settings);
        if (!smtp.server.empty()) {
            sendMessage(smtp, message.senderAddress, message.recipients, composed);
        }
    } catch (const Failure& failure) {
        keepAndThrow(outbox, composed, run.now, failure.what());
    }
    if (smtp.server.empty()) {
        const std::string path = outbox.put(composed, run.now);
        out << "Kein Mailserver eingestellt (Eintrag „Server“ im Abschnitt [SMTP] von "
            << quoted(settings.path()) << "): Die Nachricht liegt im Postausgang " << quoted(path)
            << "\n";
        return;
    }
    out << "Gesendet an " << listOf(message.recipients) << " über " << smtp.server << "\n";
}

} // namespace wfb::mailer
