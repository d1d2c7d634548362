#include "birthdaylist.h"

#include "system/paths.h"

#include <cstdio>

namespace wfb {

std::string entryLine(std::string_view mitarbeiter, std::string_view telefon, int alter) {
    const std::string name(mitarbeiter);
    const std::string phone(telefon);
    const int length = std::snprintf(nullptr, 0, entryFormat, name.c_str(), phone.c_str(), alter);
    std::string line(static_cast<std::size_t>(length), '\0');
    std::snprintf(line.data(), line.size() + 1, entryFormat, name.c_str(), phone.c_str(), alter);
    return line;
}

void composeBirthdayList(BirthdayComponents& components, const std::string& databasePath,
                         const std::string& password, const std::string& executable,
                         const std::function<Date()>& today, const AppendLine& appendLine,
                         int& birthdayCount) {
    TMdbDatabase& Datenbank = components.Datenbank;
    TMdbQuery& Fahrer = components.Fahrer;

    // The path and password may only change while the connection is closed.
    Fahrer.close();
    Datenbank.close();
    Datenbank.setDatabaseName(databasePath);
    Datenbank.setPassword(password);
    Datenbank.setProgramDirectory(directoryOf(executable));
    Datenbank.open();

    Fahrer.addFilterLine(today ? today() : localToday());
    Fahrer.open();
    birthdayCount = Fahrer.recordCount();
    while (!Fahrer.eof()) {
        appendLine(entryLine(Fahrer.fieldAsText(FahrerMitarbeiter.FieldName),
                             Fahrer.fieldAsText(FahrerTelefon.FieldName),
                             Fahrer.fieldAsInteger(FahrerAlter.FieldName)));
        appendLine("");
        Fahrer.next();
    }
    Fahrer.close();

    if (birthdayCount == 0) {
        appendLine(emptyDayLine);
    }
}

} // namespace wfb
