#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace wfb {

namespace mdb {
class File;
}

// The connection to the employee database, an Access file (component `Datenbank`). It reads
// Jet 3 and Jet 4 .mdb files and .accdb files through libmdb, and only reads them.
//
// libmdb has no user-level security and no workgroups: the user, its password and the workgroup
// information file are accepted as designed and not checked. There is never a logon dialog.
class TMdbDatabase {
public:
    // The settings as designed, for the record; libmdb has a use for none of them.
    static constexpr std::string_view DatabaseType = "Access";
    static constexpr std::string_view UserName = "Admin";
    static constexpr std::string_view SystemDatabase = "system.mdb";
    static constexpr std::string_view Workspace = "DaoWorkspace";
    static constexpr bool LoginPrompt = false;
    static constexpr int QueryTimeout = 60; // seconds

    TMdbDatabase();
    TMdbDatabase(const TMdbDatabase&) = delete;
    TMdbDatabase& operator=(const TMdbDatabase&) = delete;
    ~TMdbDatabase();

    // Closes the connection; nothing happens when it is not open.
    void close();
    bool connected() const { return file_ != nullptr; }

    // The path of the database file. After a smart open it is the path of the file that was
    // opened. Throws while the connection is open.
    const std::string& databaseName() const { return databaseName_; }
    void setDatabaseName(std::string path);

    // The logon password of the user "Admin". Throws while the connection is open.
    void setPassword(std::string password);

    // Smart open: when no file lies at the database path, the file of the same name in this
    // directory (the running program's) is opened instead. Empty: no second place.
    void setProgramDirectory(std::string directory) { programDirectory_ = std::move(directory); }

    // Opens the connection. Throws a Failure when the path is empty, when the file is found in
    // neither place (naming the last path tried), and when it cannot be read.
    void open();

    // The open file, for the queries of this connection; null while closed.
    mdb::File* file() const { return file_.get(); }

private:
    void requireClosed(std::string_view what) const;

    std::string databaseName_;
    std::string password_;
    std::string programDirectory_;
    std::unique_ptr<mdb::File> file_;
};

} // namespace wfb
