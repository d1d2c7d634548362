// Files that are not what they should be, where the two programs read and write: special files,
// links that lead nowhere, a full disk, leftovers of a killed run, settings saved as UTF-16. The
// real programs run in a folder of their own; each run has a time limit, so a hang fails the test
// instead of stopping it.

#include "settings/inifile.h"
#include "support/installation.h"
#include "support/testdata.h"
#include "system/failure.h"
#include "system/files.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <iconv.h>
#include <iostream>
#include <memory>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace wfb::test {
namespace {

const std::string greeting = "Guten Morgen,\r\n\r\nheute haben Geburtstag:\r\n\r\n";

// The lines of 11 December 2026 (the date the runs are given) over belegschaft.mdb.
const std::string december11 = "Petra Abel (030 998877): 35 Jahre\r\n\r\n"
                               "J\xFCrgen M\xFCller (089 123456): 46 Jahre\r\n\r\n"
                               "Neumann (0221 55555): 25 Jahre\r\n\r\n"
                               "Klaus Zimmermann (0171 2345678): 60 Jahre\r\n\r\n";

// Long enough to show that a hang is a hang, short enough for a sanitized program to start.
constexpr std::chrono::seconds runLimit{10};

ProcessOptions limited(ProcessOptions options) {
    options.timeout = runLimit;
    return options;
}

// The mailer copied beside the program, as in an installation.
std::string installMailer(const Installation& installation) {
    const std::string mailer = installation.path("wiegenfestbote-mailer");
    fs::copy_file(WFB_MAILER_PROGRAM, mailer);
    return mailer;
}

// --- Special files where a file is read -------------------------------------------------------

// Something that is not a regular file, made at a path; the reason a refusal must give.
struct Hostile {
    const char* name;
    std::function<void(const std::string& at)> make;
    std::function<std::string(const std::string& at)> reason;
};

void makeSocket(const std::string& at) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(at.size(), sizeof address.sun_path) << at;
    std::memcpy(address.sun_path, at.c_str(), at.size() + 1);
    // The socket file stays when the socket is closed; opening it is refused by the system.
    const int rc = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::close(fd);
    ASSERT_EQ(rc, 0) << std::strerror(errno);
}

// A device node of its own: /dev/zero's numbers, so that reading it would never end.
void makeDevice(const std::string& at) {
    ASSERT_EQ(::mknod(at.c_str(), S_IFCHR | 0644, makedev(1, 5)), 0)
        << "mknod " << at << ": " << std::strerror(errno);
}

std::string viaLink(const std::string& target, const std::string& what) {
    return "Der Verweis führt nach " + quoted(target) + ": " + what;
}

// The things to try; a device node only where one can be made (as root).
std::vector<Hostile> hostileThings() {
    std::vector<Hostile> things = {
        {"FIFO", [](const std::string& at) { ASSERT_EQ(::mkfifo(at.c_str(), 0644), 0); },
         [](const std::string&) { return "Es ist eine benannte Pipe (FIFO), keine Datei"; }},
        {"link to /dev/zero", [](const std::string& at) { fs::create_symlink("/dev/zero", at); },
         [](const std::string&) { return viaLink("/dev/zero", "Es ist ein Gerät, keine Datei"); }},
        {"socket", makeSocket, [](const std::string&) { return "Es ist ein Socket, keine Datei"; }},
        {"dangling link", [](const std::string& at) { fs::create_symlink("weg/nirgends", at); },
         [](const std::string& at) {
             return viaLink(fs::path(at).parent_path().string() + "/weg/nirgends",
                            "Dort liegt nichts");
         }},
        {"directory", [](const std::string& at) { fs::create_directory(at); },
         [](const std::string&) { return "Es ist ein Verzeichnis"; }},
    };
    if (::geteuid() == 0) {
        things.push_back({"device", makeDevice,
                          [](const std::string&) { return "Es ist ein Gerät, keine Datei"; }});
    } else if (static bool told = false; !told) {
        std::cerr << "Not root: no device node of our own is tried.\n";
        told = true;
    }
    return things;
}

// A place where one of the two programs reads a file: how to lay out an installation that reads
// it, the run, and the start of the message that names it.
struct Place {
    const char* name;
    std::string (*path)(const Installation&);
    std::vector<std::string> (*prepare)(const Installation&, const std::string& at);
    std::string (*message)(const std::string& at);
};

std::string settingsLine(const std::string& database, const std::string& templatePath) {
    return "[DB]\nMain=" + database + "\n[Option]\ntext=" + templatePath + "\nRCPT=chef@x.de\n";
}

const Place places[] = {
    {"settings", [](const Installation& i) { return i.path("wiegenfestbote.ini"); },
     [](const Installation& i, const std::string&) { return i.command({"/go"}); },
     [](const std::string& at) {
         return "wiegenfestbote: Die Einstellungsdatei " + quoted(at) +
                " kann nicht gelesen werden: ";
     }},
    {"template", [](const Installation& i) { return i.path("vorlage.txt"); },
     [](const Installation& i, const std::string& at) {
         fs::copy_file(testData("belegschaft.mdb"), i.path("belegschaft.mdb"));
         i.settings(settingsLine(i.path("belegschaft.mdb"), at));
         return i.command({"/go"});
     },
     [](const std::string& at) {
         return "wiegenfestbote: Die Vorlage " + quoted(at) + " kann nicht gelesen werden: ";
     }},
    // Not beside the program, where the same name would be looked for next.
    {"database", [](const Installation& i) { return i.path("daten/personal.mdb"); },
     [](const Installation& i, const std::string& at) {
         writeFile(i.path("vorlage.txt"), greeting);
         i.settings(settingsLine(at, i.path("vorlage.txt")));
         return i.command({"/go"});
     },
     [](const std::string& at) { return "wiegenfestbote: Die Datenbank " + quoted(at); }},
    {"mailer settings", [](const Installation& i) { return i.path("wiegenfestbote-mailer.ini"); },
     [](const Installation& i, const std::string&) -> std::vector<std::string> {
         writeFile(i.path("liste.txt"), greeting);
         return {installMailer(i), "/b:" + i.path("liste.txt"), "/e:bote@example.com",
                 "/to:chef@example.com", "/sofort"};
     },
     [](const std::string& at) {
         return "wiegenfestbote-mailer: Die Einstellungsdatei " + quoted(at) +
                " kann nicht gelesen werden: ";
     }},
    {"list for the mailer", [](const Installation& i) { return i.path("liste.txt"); },
     [](const Installation& i, const std::string& at) -> std::vector<std::string> {
         return {installMailer(i), "/b:" + at, "/e:bote@example.com", "/to:chef@example.com",
                 "/sofort"};
     },
     [](const std::string& at) {
         return "wiegenfestbote-mailer: Die Nachrichtendatei " + quoted(at) +
                " (Argument /b:) kann nicht gelesen werden: ";
     }},
};

TEST(HostileFiles, EveryFileReadIsRefusedAtOnceWhenItIsNoRegularFile) {
    for (const Place& place : places) {
        for (const Hostile& thing : hostileThings()) {
            SCOPED_TRACE(std::string(place.name) + " is a " + thing.name);
            Installation installation;
            const std::string at = place.path(installation);
            fs::create_directories(fs::path(at).parent_path());
            const std::vector<std::string> command = place.prepare(installation, at);
            thing.make(at);
            const auto started = std::chrono::steady_clock::now();
            const ProcessResult result =
                runProcess(command, limited(atFixedTime(installation.withoutDisplay())));
            const auto took = std::chrono::steady_clock::now() - started;
            ASSERT_FALSE(result.timedOut) << "still running after " << runLimit.count() << " s";
            EXPECT_LT(took, std::chrono::seconds(5));
            EXPECT_EQ(result.exitStatus, 1);
            EXPECT_NE(result.err.find(place.message(at)), std::string::npos) << result.err;
            EXPECT_NE(result.err.find(thing.reason(at)), std::string::npos) << result.err;
        }
    }
}

// A file of that size that takes no room on the disk.
void sparseFile(const std::string& path, std::size_t size) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(::ftruncate(fd, static_cast<off_t>(size)), 0);
    ::close(fd);
}

TEST(HostileFiles, TemplateAboveTheLimitIsRefusedNamingTheLimit) {
    Installation installation;
    installation.standardSettings(greeting);
    sparseFile(installation.path("vorlage.txt"), maxTextFileSize + 1);
    const ProcessResult result = installation.run({"/go"}, limited(installation.withoutDisplay()));
    ASSERT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_NE(result.err.find("Die Vorlage " + quoted(installation.path("vorlage.txt")) +
                              " kann nicht gelesen werden: Die Datei ist größer als 64 MiB"),
              std::string::npos)
        << result.err;
    // One just at the limit is read.
    TempDir dir;
    const std::string atLimit = dir / "grenze.txt";
    sparseFile(atLimit, maxTextFileSize);
    std::string content;
    EXPECT_FALSE(readWholeFile(atLimit, content, maxTextFileSize));
    EXPECT_EQ(content.size(), maxTextFileSize);
}

// --- Special files and links where the list is written --------------------------------------

TEST(ListFileWrite, AnythingButARegularFileAtTheEndIsRefusedAndStaysAsItIs) {
    for (const Hostile& thing : hostileThings()) {
        if (std::string(thing.name) == "dangling link" ||
            std::string(thing.name) == "link to /dev/zero") {
            continue; // a link to a device of the system is tried below with a device of ours
        }
        SCOPED_TRACE(thing.name);
        TempDir dir;
        for (const bool linked : {false, true}) {
            const std::string thingPath = dir / (linked ? "ding" : "liste.txt");
            thing.make(thingPath);
            if (linked) {
                fs::create_symlink("ding", dir / "verweis.txt");
            }
            const std::string list = linked ? dir / "verweis.txt" : thingPath;
            struct stat before {};
            ASSERT_EQ(::lstat(thingPath.c_str(), &before), 0);
            const FileError error = replaceWholeFile(list, "Liste\r\n");
            ASSERT_TRUE(error);
            EXPECT_EQ(error.reason, linked ? viaLink(thingPath, thing.reason(thingPath))
                                           : thing.reason(thingPath));
            struct stat after {};
            ASSERT_EQ(::lstat(thingPath.c_str(), &after), 0);
            EXPECT_EQ(after.st_ino, before.st_ino);
            EXPECT_EQ(after.st_mode, before.st_mode);
            EXPECT_TRUE(!linked || fs::is_symlink(list));
        }
        std::size_t entries = 0;
        for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir.path())) {
            ++entries;
        }
        EXPECT_EQ(entries, 3u) << "a temporary file was left";
    }
}

// A list file that is a link whose end does not exist yet (the share is not there, the first
// send of an installation whose list lies elsewhere).
struct DanglingCase {
    const char* what;
    std::vector<std::pair<std::string, std::string>> links; // name → target, in the folder
    std::string end;                                        // where the list must land
    bool folderExists;
};

TEST(ListFileWrite, LinkThatLeadsNowhereIsWrittenThroughOrRefusedNamingItsEnd) {
    TempDir dir;
    fs::create_directories(dir / "programm");
    fs::create_directories(dir / "daten");
    const DanglingCase cases[] = {
        {"absolute", {{"liste.txt", dir / "daten/a.txt"}}, dir / "daten/a.txt", true},
        {"relative, with ..",
         {{"liste.txt", "../daten/b.txt"}},
         dir / "programm/../daten/b.txt",
         true},
        {"a chain of links",
         {{"liste.txt", "zwischen.txt"}, {"zwischen.txt", "../daten/c.txt"}},
         dir / "programm/../daten/c.txt",
         true},
        {"folder missing",
         {{"liste.txt", "../fehlt/d.txt"}},
         dir / "programm/../fehlt/d.txt",
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        for (const auto& [name, target] : c.links) {
            fs::remove(dir / ("programm/" + name));
            fs::create_symlink(target, dir / ("programm/" + name));
        }
        const std::string list = dir / "programm/liste.txt";
        const FileError error = replaceWholeFile(list, "neue Liste\r\n");
        EXPECT_TRUE(fs::is_symlink(list));
        EXPECT_EQ(fs::read_symlink(list), c.links.front().second);
        if (c.folderExists) {
            EXPECT_FALSE(error) << error.reason;
            EXPECT_EQ(readFile(c.end), "neue Liste\r\n");
        } else {
            EXPECT_EQ(error.reason, "Der Verweis führt nach " + quoted(c.end) +
                                        ", doch der Ordner " +
                                        quoted(fs::path(c.end).parent_path().string()) + " fehlt");
            EXPECT_FALSE(fs::exists(dir / "fehlt"));
        }
    }
    // A loop of links is refused too.
    fs::create_symlink("schleife2", dir / "programm/schleife1");
    fs::create_symlink("schleife1", dir / "programm/schleife2");
    EXPECT_EQ(replaceWholeFile(dir / "programm/schleife1", "x").code, ELOOP);
}

TEST(ListFileWrite, ProgramWritesThroughALinkThatLeadsNowhereYet) {
    Installation installation;
    installation.standardSettings(greeting);
    TempDir data;
    fs::create_symlink(data / "wiegenfestbote.txt", installation.listFile());
    const ProcessResult result = installation.run({"/go"}, limited(installation.withoutDisplay()));
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_TRUE(fs::is_symlink(installation.listFile()));
    EXPECT_EQ(readFile(data / "wiegenfestbote.txt"), greeting + december11);
    ASSERT_TRUE(installation.waitForCalls(1));
    EXPECT_EQ(installation.calls()[0].body, greeting + december11);

    // Its end's folder gone: refused, naming it; the link stays.
    fs::remove_all(data.path());
    const ProcessResult refused = installation.run({"/go"}, limited(installation.withoutDisplay()));
    EXPECT_EQ(refused.exitStatus, 1);
    EXPECT_EQ(refused.err, "wiegenfestbote: Die Listendatei " + quoted(installation.listFile()) +
                               " kann nicht geschrieben werden: Der Verweis führt nach " +
                               quoted(data / "wiegenfestbote.txt") + ", doch der Ordner " +
                               quoted(data.path()) + " fehlt.\n");
    EXPECT_TRUE(fs::is_symlink(installation.listFile()));
    EXPECT_EQ(installation.calls().size(), 1u);
}

// --- Leftovers of a killed run ----------------------------------------------------------------

void setAge(const std::string& path, std::chrono::seconds age) {
    timespec times[2];
    ::clock_gettime(CLOCK_REALTIME, &times[0]);
    times[0].tv_sec -= age.count();
    times[1] = times[0];
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

TEST(ListFileWrite, TemporaryFilesOfAKilledRunAreRemovedByTheNext) {
    Installation installation;
    installation.standardSettings(greeting);
    const std::chrono::seconds old = std::chrono::hours(1);
    const std::chrono::seconds young{10};
    enum Kind { file, directory, link };
    struct Leftover {
        std::string name;
        std::chrono::seconds age;
        bool removed;
        Kind kind = file;
    };
    const Leftover leftovers[] = {
        {".wiegenfestbote.txt.4711.0.tmp", old, true},
        {".wiegenfestbote.txt.4711.17.tmp", old, true},
        {".wiegenfestbote.txt.4712.0.tmp", young, false},
        {".wiegenfestbote.txt.x.0.tmp", old, false},
        {".wiegenfestbote.txt.4711.0.tmp.bak", old, false},
        {"wiegenfestbote.txt.4711.0.tmp", old, false},
        {".wiegenfestbote.ini.4711.0.tmp", old, false},
        {".wiegenfestbote.txt.4713.0.tmp", old, false, directory},
        {".wiegenfestbote.txt.4714.0.tmp", old, false, link},
    };
    writeFile(installation.path("ziel.txt"), "bleibt");
    for (const auto& leftover : leftovers) {
        const std::string path = installation.path(leftover.name);
        if (leftover.kind == directory) {
            fs::create_directory(path);
        } else if (leftover.kind == link) {
            fs::create_symlink("ziel.txt", path);
        } else {
            writeFile(path, "Reste einer Liste");
        }
        setAge(path, leftover.age);
    }
    // Only in the folder of the list, not below it.
    fs::create_directory(installation.path("unter"));
    writeFile(installation.path("unter/.wiegenfestbote.txt.4711.0.tmp"), "x");
    setAge(installation.path("unter/.wiegenfestbote.txt.4711.0.tmp"), old);

    // The program's clock says 07:30 of today, hours before the files' times: the age is taken
    // from the file system's clock.
    const ProcessResult result = installation.run({"/go"}, limited(installation.withoutDisplay()));
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(readFile(installation.listFile()), greeting + december11);
    for (const auto& leftover : leftovers) {
        EXPECT_EQ(fs::exists(fs::symlink_status(installation.path(leftover.name))),
                  !leftover.removed)
            << leftover.name;
    }
    EXPECT_TRUE(fs::exists(installation.path("unter/.wiegenfestbote.txt.4711.0.tmp")));
    EXPECT_EQ(readFile(installation.path("ziel.txt")), "bleibt");
    // Nor is one of this run left.
    std::size_t temporaries = 0;
    for (const auto& entry : fs::directory_iterator(installation.folder())) {
        temporaries += entry.path().filename().string().starts_with(".wiegenfestbote.txt.");
    }
    EXPECT_EQ(temporaries, 5u);
}

// --- A full disk --------------------------------------------------------------------------------

// A small tmpfs mounted for one test, unmounted when the test ends, however it ends.
class SmallDisk {
public:
    explicit SmallDisk(const std::string& at) : at_(at) {
        if (::geteuid() != 0) {
            problem_ = "mounting a tmpfs needs root";
            return;
        }
        if (::mount("tmpfs", at.c_str(), "tmpfs", MS_NOSUID, "size=32m,mode=0755") != 0) {
            problem_ = std::string("mount of a tmpfs failed: ") + std::strerror(errno);
            return;
        }
        mounted_ = true;
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;
    ~SmallDisk() {
        if (mounted_ && ::umount2(at_.c_str(), 0) != 0) {
            ::umount2(at_.c_str(), MNT_DETACH);
        }
    }

    const std::string& problem() const { return problem_; }

    // Takes all space that is left.
    void fill() {
        const std::string path = at_ + "/.fuellung";
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ASSERT_GE(fd, 0);
        struct statvfs info {};
        ASSERT_EQ(::statvfs(at_.c_str(), &info), 0);
        off_t offset = 0;
        for (off_t chunk = static_cast<off_t>(info.f_bavail * info.f_frsize); chunk >= 4096;) {
            if (::fallocate(fd, 0, offset, chunk) == 0) {
                offset += chunk;
            } else {
                chunk /= 2;
            }
        }
        ::close(fd);
        ASSERT_EQ(::statvfs(at_.c_str(), &info), 0);
        ASSERT_EQ(info.f_bavail, 0u);
    }
    void free() { fs::remove(at_ + "/.fuellung"); }

private:
    std::string at_;
    bool mounted_ = false;
    std::string problem_;
};

// The unprivileged user a run is made as.
constexpr uid_t nobody = 65534;

ProcessResult runAsNobody(const Installation& installation) {
    // The clock is fixed in the program only: libfaketime in setpriv would share its state with
    // the program through a semaphore of root's that nobody cannot open.
    ProcessOptions options = limited(atFixedTime(installation.withoutDisplay()));
    const std::string preload = options.environment["LD_PRELOAD"].value_or("");
    options.environment["LD_PRELOAD"] = std::nullopt;
    std::vector<std::string> command = {
        "/usr/bin/setpriv", "--reuid=nobody",       "--regid=nogroup", "--clear-groups", "--",
        "/usr/bin/env",     "LD_PRELOAD=" + preload};
    const auto program = installation.command({"/go"});
    command.insert(command.end(), program.begin(), program.end());
    return runProcess(command, options);
}

// Whether the file holds exactly the text; a difference is told by size and place, not by
// printing lists of many kilobytes.
::testing::AssertionResult holds(const std::string& path, const std::string& expected) {
    const std::string content = readFile(path);
    if (content == expected) {
        return ::testing::AssertionSuccess();
    }
    std::size_t at = 0;
    while (at < content.size() && at < expected.size() && content[at] == expected[at]) {
        ++at;
    }
    return ::testing::AssertionFailure()
           << path << " holds " << content.size() << " bytes instead of " << expected.size()
           << ", differing from byte " << at;
}

// A template of the size given, with the greeting at its start.
std::string templateOf(std::size_t size) {
    std::string text = greeting;
    while (text.size() < size) {
        text += "Eine Zeile der Vorlage, damit sie groß wird.\r\n";
    }
    return text;
}

TEST(ListFileWrite, FullDiskLeavesThePreviousListWholeWhereItMustBeOverwrittenInPlace) {
    for (const bool throughLink : {false, true}) {
        SCOPED_TRACE(throughLink ? "through a link" : "in place");
        Installation installation;
        // The folders above the installation are the test's own, closed to others.
        ::chmod(fs::path(installation.folder()).parent_path().c_str(), 0755);
        TempDir elsewhere;
        ::chmod(elsewhere.path().c_str(), 0755);
        fs::create_directory(elsewhere / "platte");
        // In place: the program's folder is the disk. Through a link: the list beside the
        // program leads onto the disk.
        const std::string diskPath = throughLink ? elsewhere / "platte" : installation.folder();
        SmallDisk disk(diskPath);
        if (!disk.problem().empty()) {
            GTEST_SKIP() << disk.problem();
        }
        if (!throughLink) {
            fs::copy_file(WFB_PROGRAM, installation.program());
        }
        const std::string list = throughLink ? diskPath + "/liste.txt" : installation.listFile();
        if (throughLink) {
            fs::create_symlink(list, installation.listFile());
        }
        // The folder (root's) takes no new file from nobody; the list file is nobody's.
        const std::string previous = templateOf(20000) + "Petra Abel (030 998877): 34 Jahre\r\n";
        writeFile(list, previous);
        ASSERT_EQ(::chown(list.c_str(), nobody, nobody), 0);
        struct stat before {};
        ::stat(list.c_str(), &before);

        const std::string bigTemplate = templateOf(200000);
        installation.standardSettings(bigTemplate, "chef@example.com", std::string());
        disk.fill();
        const ProcessResult full = runAsNobody(installation);
        ASSERT_FALSE(full.timedOut);
        EXPECT_EQ(full.exitStatus, 1);
        const std::string reason = "Kein Platz mehr auf dem Gerät; der bisherige Inhalt ist "
                                   "unverändert";
        EXPECT_EQ(full.err, "wiegenfestbote: Die Listendatei " + quoted(installation.listFile()) +
                                " kann nicht geschrieben werden: " +
                                (throughLink ? viaLink(list, reason) : reason) + ".\n");
        EXPECT_TRUE(holds(list, previous));
        EXPECT_EQ(fs::is_symlink(installation.listFile()), throughLink);

        // With room again, the list is overwritten in place, longer and then shorter.
        disk.free();
        for (const std::string& templateText : {bigTemplate, greeting}) {
            installation.standardSettings(templateText, "chef@example.com", std::string());
            const ProcessResult written = runAsNobody(installation);
            EXPECT_EQ(written.exitStatus, 0) << written.err;
            EXPECT_TRUE(holds(list, templateText + december11));
        }
        struct stat after {};
        ::stat(list.c_str(), &after);
        EXPECT_EQ(after.st_ino, before.st_ino);
        EXPECT_EQ(after.st_uid, nobody);
        EXPECT_EQ(fs::is_symlink(installation.listFile()), throughLink);
        std::size_t entries = 0;
        for ([[maybe_unused]] const auto& entry : fs::directory_iterator(diskPath)) {
            ++entries;
        }
        // In place: program, settings, template, database, list. Through a link: the list.
        EXPECT_EQ(entries, throughLink ? 1u : 5u) << "a temporary file was left";
    }
}

// --- Settings saved as UTF-16 -------------------------------------------------------------------

struct IconvCloser {
    void operator()(iconv_t* handle) const {
        ::iconv_close(*handle);
        delete handle;
    }
};

// The text in another encoding, by the C library's converter.
std::string encoded(const std::string& utf8, const char* encoding) {
    const std::unique_ptr<iconv_t, IconvCloser> converter(
        new iconv_t(::iconv_open(encoding, "UTF-8")));
    EXPECT_NE(*converter, reinterpret_cast<iconv_t>(-1));
    std::string out(utf8.size() * 4 + 4, '\0');
    char* in = const_cast<char*>(utf8.data());
    std::size_t inLeft = utf8.size();
    char* to = out.data();
    std::size_t outLeft = out.size();
    EXPECT_NE(::iconv(*converter, &in, &inLeft, &to, &outLeft), static_cast<std::size_t>(-1));
    out.resize(out.size() - outLeft);
    return out;
}

// UTF-16 LE with its byte-order mark, unit by unit.
std::string littleEndian(std::u16string_view units) {
    std::string out = "\xFF\xFE";
    for (const char16_t unit : units) {
        out += static_cast<char>(unit & 0xFF);
        out += static_cast<char>(unit >> 8);
    }
    return out;
}

TEST(Utf16Settings, AreReadLikeTheirUtf8Twin) {
    const std::string utf8 = "; Einstellungen für Grüße\r\n"
                             "[DB]\r\n"
                             "Main = /srv/Personal/Übersicht.mdb\r\n"
                             "Pass=\"Kennwort mit ß und €\"\r\n"
                             "[Option]\r\n"
                             "text=/srv/Vorlagen/Glückwunsch 😀.txt\r\n"
                             "RCPT=geschäftsleitung@example.com\r\n";
    const std::pair<const char*, const char*> keys[] = {
        {"DB", "Main"}, {"DB", "Pass"}, {"Option", "text"}, {"Option", "RCPT"}, {"Option", "x"}};
    TempDir dir;
    const IniFile twin(dir.write("utf8.ini", utf8));
    EXPECT_EQ(twin.read("DB", "Main"), "/srv/Personal/Übersicht.mdb");
    const std::pair<const char*, std::string> files[] = {
        {"UTF-16 LE", "\xFF\xFE" + encoded(utf8, "UTF-16LE")},
        {"UTF-16 BE", "\xFE\xFF" + encoded(utf8, "UTF-16BE")},
        {"UTF-8 with byte-order mark", "\xEF\xBB\xBF" + utf8},
    };
    for (const auto& [what, bytes] : files) {
        SCOPED_TRACE(what);
        const IniFile settings(dir.write("einstellungen.ini", bytes));
        for (const auto& [section, key] : keys) {
            EXPECT_EQ(settings.read(section, key), twin.read(section, key)) << key;
        }
    }

    // What is no character becomes U+FFFD: a surrogate without its pair, an odd last byte.
    const std::u16string entry = u"[O]\nk=a";
    const std::pair<std::string, std::string> damaged[] = {
        {littleEndian(entry + char16_t(0xD800) + u"b"), "a\uFFFDb"},
        {littleEndian(entry + char16_t(0xDC00)), "a\uFFFD"},
        {littleEndian(entry) + "b", "a\uFFFD"},
        {littleEndian(entry + u"\U0001F600"), "a😀"},
    };
    for (const auto& [bytes, value] : damaged) {
        EXPECT_EQ(IniFile::fromText(bytes).read("O", "k"), value);
    }
}

TEST(Utf16Settings, ProgramComposesTheListFromThem) {
    Installation installation;
    fs::create_directory(installation.path("Grüße"));
    writeFile(installation.path("Grüße/Vorlage für heute.txt"), greeting);
    fs::copy_file(testData("belegschaft.mdb"), installation.path("Grüße/Übersicht.mdb"));
    const std::string settings =
        "[DB]\r\nMain=" + installation.path("Grüße/Übersicht.mdb") +
        "\r\n[Option]\r\ntext=" + installation.path("Grüße/Vorlage für heute.txt") +
        "\r\nMailer=" + installation.recorder() + "\r\nRCPT=chef@example.com\r\n";
    writeFile(installation.path("wiegenfestbote.ini"), "\xFF\xFE" + encoded(settings, "UTF-16LE"));
    const ProcessResult result = installation.run({"/go"}, limited(installation.withoutDisplay()));
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(readFile(installation.listFile()), greeting + december11);
    ASSERT_TRUE(installation.waitForCalls(1));
    EXPECT_EQ(installation.calls()[0].arguments.back(), "/sofort");
}

} // namespace
} // namespace wfb::test
