#include "system/failure.h"

#include <cerrno>
#include <cstring>
#include <new>

namespace wfb {

int exitStatus(FailureKind kind) {
    switch (kind) {
    case FailureKind::usage:
        return 64;
    case FailureKind::inputMissing:
        return 66;
    case FailureKind::temporary:
        return 75;
    case FailureKind::configuration:
        return 78;
    case FailureKind::other:
        break;
    }
    return 1;
}

Report reportOf(std::exception_ptr failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const Failure& f) {
        return {f.what(), f.kind()};
    } catch (const std::bad_alloc&) {
        return {"Nicht genug Speicher", FailureKind::other};
    } catch (const std::exception& e) {
        return {e.what(), FailureKind::other};
    } catch (...) {
        return {"Unbekannter Fehler", FailureKind::other};
    }
}

std::string systemReason(int error) {
    switch (error) {
    case ENOENT:
        return "Datei oder Verzeichnis nicht gefunden";
    case EACCES:
    case EPERM:
        return "Zugriff verweigert";
    case EISDIR:
        return "Es ist ein Verzeichnis";
    case ENOTDIR:
        return "Ein Teil des Pfades ist kein Verzeichnis";
    case ENAMETOOLONG:
        return "Der Name ist zu lang";
    case ELOOP:
        return "Zu viele symbolische Verknüpfungen";
    case EROFS:
        return "Das Dateisystem ist nur lesbar";
    case ENOSPC:
        return "Kein Platz mehr auf dem Gerät";
    case EDQUOT:
        return "Das Speicherkontingent ist erschöpft";
    case EIO:
        return "Ein-/Ausgabefehler";
    case ENOEXEC:
        return "Das Programm hat kein ausführbares Format";
    case ETXTBSY:
        return "Die Datei wird gerade beschrieben";
    case EMFILE:
    case ENFILE:
        return "Zu viele offene Dateien";
    case ENOMEM:
        return "Nicht genug Speicher";
    default:
        return std::string(std::strerror(error)) + " (Fehler " + std::to_string(error) + ")";
    }
}

std::string quoted(const std::string& text) {
    return "„" + text + "“";
}

} // namespace wfb
