#include "startup.h"

#include "settings/inifile.h"
#include "system/failure.h"
#include "system/paths.h"

namespace wfb {

bool asksForUnattendedRun(const std::vector<std::string>& arguments) {
    return arguments.size() == 2 && arguments[1] == "/go";
}

std::string settingsPath(const std::string& executable) {
    return replaceExtension(executable, ".ini");
}

void runCreateSequence(MainFields& fields, ListText& list, BirthdayComponents& components,
                       const StartupEnvironment& environment) {
    fields.AutoSend = asksForUnattendedRun(environment.arguments);

    const IniFile settings(settingsPath(environment.executable));
    const std::string database = settings.read("DB", "Main");
    const std::string password = settings.read("DB", "Pass");
    const std::string templatePath = settings.read("Option", "text");

    if (templatePath.empty()) {
        throw Failure("Keine Vorlage eingestellt: Der Eintrag „text“ im Abschnitt [Option] von " +
                      quoted(settings.path()) + " fehlt oder ist leer");
    }
    list.loadFromFile(templatePath);

    fields.MailerPath = settings.read("Option", "Mailer");
    fields.Recipient = settings.read("Option", "RCPT");

    composeBirthdayList(
        components, database, password, environment.executable, environment.today,
        [&list](std::string_view line) { list.appendLine(line); }, fields.BirthdayCount);
}

} // namespace wfb
