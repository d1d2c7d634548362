#include "database.h"

#include "mdbfile.h"
#include "system/failure.h"
#include "system/files.h"
#include "system/paths.h"

#include <cerrno>
#include <sys/stat.h>

namespace wfb {
namespace {

// Whether a file (not a directory) lies at the path.
bool fileExists(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && !S_ISDIR(status.st_mode);
}

// What is wrong at a path where no file lies.
std::string missing(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) == 0) {
        return "ist ein Verzeichnis, keine Datei";
    }
    const int error = errno;
    if (error == ENOENT || error == ENOTDIR) {
        return "wurde nicht gefunden";
    }
    return "ist nicht zugänglich: " + systemReason(error);
}

} // namespace

TMdbDatabase::TMdbDatabase() = default;
TMdbDatabase::~TMdbDatabase() = default;

void TMdbDatabase::close() {
    file_.reset();
}

void TMdbDatabase::requireClosed(std::string_view what) const {
    if (connected()) {
        throw Failure(std::string(what) +
                      " kann nur bei geschlossener Datenbankverbindung geändert werden");
    }
}

void TMdbDatabase::setDatabaseName(std::string path) {
    requireClosed("Der Datenbankpfad");
    databaseName_ = std::move(path);
}

void TMdbDatabase::setPassword(std::string password) {
    requireClosed("Das Datenbankkennwort");
    password_ = std::move(password);
}

void TMdbDatabase::open() {
    if (connected()) {
        return;
    }
    if (databaseName_.empty()) {
        throw Failure("Keine Datenbank eingestellt: Der Datenbankpfad (Eintrag „Main“ im "
                      "Abschnitt [DB] der Einstellungen) ist leer");
    }
    std::string path = databaseName_;
    if (!fileExists(path) && !programDirectory_.empty()) {
        std::string besideProgram = programDirectory_;
        if (!besideProgram.ends_with('/')) {
            besideProgram += '/';
        }
        besideProgram += fileNameOf(path);
        if (besideProgram != path) {
            if (!fileExists(besideProgram)) {
                const FileError atPath = checkReadable(path);
                throw Failure("Die Datenbank " + quoted(path) +
                              (atPath.absent
                                   ? " fehlt"
                                   : " kann nicht gelesen werden (" + atPath.reason + ")") +
                              ", und auch " + quoted(besideProgram) + " (neben dem Programm) " +
                              missing(besideProgram));
            }
            path = std::move(besideProgram);
        }
    }
    if (!fileExists(path)) {
        throw Failure("Die Datenbank " + quoted(path) + " " + missing(path));
    }
    const mdb::QuietLibrary quiet;
    file_ = std::make_unique<mdb::File>(path);
    databaseName_ = std::move(path);
}

} // namespace wfb
