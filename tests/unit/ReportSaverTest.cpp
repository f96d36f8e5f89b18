#include <csignal>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "orvix/Digest.h"
#include "orvix/ReportSaver.h"

namespace orvix {
namespace {

// The files in dir but the reports' records (".orvix-record-...").
std::vector<std::string> entries(const std::filesystem::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        if (!e.path().filename().string().starts_with(".orvix-record-")) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// A save that no other picture's report is in the way of: asking would be a fault.
Status saveReport(DiagnosisState& state, const std::filesystem::path& dir) {
    auto saved = orvix::saveReport(state, dir, [](const ReportClash& clash) {
        ADD_FAILURE() << "asked about " << clash.existing;
        return ClashChoice::Cancel;
    });
    if (!saved) return saved.error();
    return Done{};
}

// A record whose report of scan.png was saved once in dir and whose message was dismissed.
DiagnosisState savedOnce(const std::filesystem::path& dir) {
    DiagnosisState state = test::fixtureState();
    state.fileName = "scan.png";
    state.fullText = "old report";
    EXPECT_TRUE(saveReport(state, dir));
    state.showAlert = false;
    state.fullText = std::string(256 * 1024, 'n');
    return state;
}

// A failed save says which file, keeps the old one whole, leaves no temporary file and raises no message.
void expectOldReportKept(const Status& saved, const std::filesystem::path& dir, const DiagnosisState& state,
                         const std::string& reason) {
    ASSERT_FALSE(saved);
    EXPECT_NE(saved.error().message.find("output_scan.png.txt"), std::string::npos) << saved.error().message;
    EXPECT_NE(saved.error().message.find(reason), std::string::npos) << saved.error().message;
    EXPECT_EQ(test::readBytes(dir / "output_scan.png.txt"), "old report");
    EXPECT_EQ(entries(dir), std::vector<std::string>{"output_scan.png.txt"});
    EXPECT_FALSE(state.showAlert.get());
}

TEST(SaveReport, WritesTheTextAsUtf8UnderTheFullFileNameInADirectoryItCreates) {
    test::TempDir home;
    const auto docs = home / "Documents";
    DiagnosisState state = test::fixtureState();
    ASSERT_TRUE(saveReport(state, docs));  // before any import: an empty output_.txt
    EXPECT_TRUE(state.showAlert.get());
    EXPECT_EQ(test::readBytes(docs / "output_.txt"), "");
    state.fileName = "Lungen Aufnahme ü.jpeg";
    state.fullText = "Tested File Name: x\nPatient's Name: Zoë\nAdditional Info:";
    ASSERT_TRUE(saveReport(state, docs));
    state.fullText = "second version";
    ASSERT_TRUE(saveReport(state, docs));
    EXPECT_EQ(entries(docs), (std::vector<std::string>{"output_.txt", "output_Lungen Aufnahme ü.jpeg.txt"}));
    EXPECT_EQ(test::readBytes(docs / "output_Lungen Aufnahme ü.jpeg.txt"), "second version");
}

TEST(SaveReport, NameTooLongForTheFileSystemFailsCleanly) {
    test::TempDir docs;
    DiagnosisState state = test::fixtureState();
    state.fileName = std::string(250, 'a') + ".png";  // 265 bytes with "output_" and ".txt"
    ASSERT_FALSE(saveReport(state, docs.path()));
    EXPECT_TRUE(entries(docs.path()).empty());
}

// A small file system of our own for the fault tests: a tmpfs where mounting is permitted.
class ScopedTmpfs {
public:
    ScopedTmpfs(const std::filesystem::path& where, const char* options) : where_(where) {
        std::filesystem::create_directories(where);
        mounted_ = ::mount("tmpfs", where.c_str(), "tmpfs", 0, options) == 0;
    }
    ~ScopedTmpfs() {
        if (mounted_) ::umount(where_.c_str());
    }
    bool mounted() const { return mounted_; }

private:
    std::filesystem::path where_;
    bool mounted_ = false;
};

TEST(SaveReport, AWriteCutShortOrAFullDiskKeepsTheOldFileAndChangesNoState) {
    test::TempDir dir;
    DiagnosisState state = savedOnce(dir.path());
    // A file-size limit makes the write fail part way, also for root.
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 4096;
    ::setrlimit(RLIMIT_FSIZE, &small);
    const Status saved = saveReport(state, dir.path());
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    expectOldReportKept(saved, dir.path(), state, "File too large");

    ScopedTmpfs disk(dir / "small", "size=64k");
    if (!disk.mounted()) GTEST_SKIP() << "mounting a tmpfs is not permitted here";
    DiagnosisState full = savedOnce(dir / "small");
    expectOldReportKept(saveReport(full, dir / "small"), dir / "small", full, "No space left");
}

TEST(SaveReport, ReadOnlyDirectoryFailsAndSaysWhy) {
    test::TempDir dir;
    std::filesystem::create_directories(dir / "docs");
    std::optional<ScopedTmpfs> readOnly;
    if (::geteuid() == 0) {  // root writes through permission bits: use a read-only file system
        readOnly.emplace(dir / "docs", "ro,size=16k");
        if (!readOnly->mounted()) GTEST_SKIP() << "mounting a tmpfs is not permitted here";
    } else {
        std::filesystem::permissions(dir / "docs",
                                     std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    }
    DiagnosisState state = test::fixtureState();
    const Status saved = saveReport(state, dir / "docs");
    ASSERT_FALSE(saved);
    EXPECT_NE(saved.error().message.find((dir / "docs" / "output_.txt").string()), std::string::npos);
    EXPECT_FALSE(state.showAlert.get());
}

TEST(WriteFileAtomically, AWriterKilledMidWriteLeavesTheOldFileWhole) {
    test::TempDir dir;
    const auto target = dir / "output_scan.png.txt";
    const std::string before(2 << 20, 'a'), after(2 << 20, 'b');
    ASSERT_TRUE(writeFileAtomically(target, before));
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The file-size limit kills the writer (SIGXFSZ) the moment its new file passes 1 MiB.
        std::signal(SIGXFSZ, SIG_DFL);
        const rlimit limit{1 << 20, 1 << 20};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        (void)writeFileAtomically(target, after);
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ) << "the writer was not stopped mid-write";
    EXPECT_TRUE(test::readBytes(target) == before);
}

TEST(WriteFileAtomically, ASaveAgainKeepsTheFilePermissions) {
    test::TempDir dir;
    const auto target = dir / "output_scan.png.txt";
    ASSERT_TRUE(writeFileAtomically(target, "first"));
    std::filesystem::permissions(target, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    ASSERT_TRUE(writeFileAtomically(target, "second"));
    EXPECT_EQ(test::readBytes(target), "second");
    EXPECT_EQ(std::filesystem::status(target).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

// What a writer killed mid-save left behind goes with the next save into the folder; what a
// writer still at work holds stays.
TEST(WriteFileAtomically, RemovesTheTemporaryFilesOfWritersThatAreGone) {
    test::TempDir dir;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) ::_exit(0);
    ASSERT_EQ(::waitpid(child, nullptr, 0), child);  // a process that is gone
    const auto ago = [](int seconds) {
        return std::filesystem::file_time_type::clock::now() - std::chrono::seconds(seconds);
    };
    const std::vector<std::tuple<std::string, int, bool>> files{
        // name, age in seconds, kept
        {".orvix-save-" + std::to_string(child) + "-a1b2c3", 120, false},
        {".orvix-save-" + std::to_string(child) + "-d4e5f6", 5, true},  // maybe another machine's, at work
        {".orvix-save-" + std::to_string(::getpid()) + "-a1b2c3", 120, true},
        {".orvix-save-x1y2z3", 2 * 3600, false},
        {".orvix-save-u7v8w9", 120, true},
        {".orvix-other", 2 * 3600, true},
    };
    for (const auto& [name, age, kept] : files) {
        test::writeBytes(dir / name, "part of a report");
        std::filesystem::last_write_time(dir / name, ago(age));
    }
    ASSERT_TRUE(writeFileAtomically(dir / "output_scan.png.txt", "report"));
    for (const auto& [name, age, kept] : files) EXPECT_EQ(std::filesystem::exists(dir / name), kept) << name;
    EXPECT_EQ(test::readBytes(dir / "output_scan.png.txt"), "report");
}

TEST(SaveReport, ADocumentsLinkToNothingIsNamedAsSuch) {
    test::TempDir home;
    std::filesystem::create_symlink(home / "gone", home / "Documents");
    DiagnosisState state = test::fixtureState();
    state.fileName = "scan.png";
    const Status saved = saveReport(state, home / "Documents");
    ASSERT_FALSE(saved);
    EXPECT_NE(saved.error().message.find((home / "Documents").string() + " is a link to nothing"), std::string::npos)
        << saved.error().message;
    EXPECT_FALSE(state.showAlert.get());
}

// Pictures named alike in different folders, as PACS exports have them.
PictureOrigin picture(const std::string& folder, const std::string& bytes) {
    return {"/pacs/" + folder + "/IM0001", sha256Hex(bytes)};
}

// Saves text as IM0001's report of origin into dir, answering a clash with choice (and counting the questions).
struct Saver {
    std::filesystem::path dir;
    ClashChoice choice = ClashChoice::Cancel;
    std::vector<ReportClash> asked;

    Result<std::optional<std::filesystem::path>> operator()(const PictureOrigin& origin, const std::string& text) {
        return saveReport(dir, "IM0001", text, origin, [this](const ReportClash& clash) {
            asked.push_back(clash);
            return choice;
        });
    }
};

TEST(SaveReportClash, TheSamePictureAgainReplacesItsReportWithoutAQuestion) {
    test::TempDir dir;
    Saver save{dir.path()};
    const auto a = picture("A", "picture a");
    ASSERT_EQ(save(a, "first").value(), dir / "output_IM0001.txt");
    // The same bytes from another folder are the same picture.
    ASSERT_EQ(save(PictureOrigin{"/elsewhere/IM0001", a.sha256}, "second").value(), dir / "output_IM0001.txt");
    EXPECT_TRUE(save.asked.empty());
    EXPECT_EQ(test::readBytes(dir / "output_IM0001.txt"), "second");
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"output_IM0001.txt"});
    const auto record = readReportRecord(dir / "output_IM0001.txt");
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(record->pictureSha256, a.sha256);
    EXPECT_EQ(record->source, std::filesystem::path("/elsewhere/IM0001"));
}

TEST(SaveReportClash, AnotherPicturesReportIsReplacedKeptOrLeftAsTheAnswerSays) {
    struct Case {
        ClashChoice choice;
        std::optional<std::string> written;  // the name B's report gets, if any
        std::string first;                   // what output_IM0001.txt holds afterwards
    };
    const Case cases[] = {
        {ClashChoice::Replace, "output_IM0001.txt", "report of B"},
        {ClashChoice::KeepBoth, "output_IM0001 (2).txt", "report of A"},
        {ClashChoice::Cancel, std::nullopt, "report of A"},
    };
    for (const auto& c : cases) {
        test::TempDir dir;
        Saver save{dir.path(), c.choice};
        const auto a = picture("A", "picture a"), b = picture("B", "picture b");
        ASSERT_TRUE(save(a, "report of A"));
        const auto saved = save(b, "report of B");
        ASSERT_TRUE(saved) << saved.error().message;
        ASSERT_EQ(save.asked.size(), 1u);
        EXPECT_EQ(save.asked[0].existing, dir / "output_IM0001.txt");
        EXPECT_EQ(save.asked[0].writtenFor, a.path);
        EXPECT_EQ(save.asked[0].keepBoth, dir / "output_IM0001 (2).txt");
        EXPECT_EQ(saved->has_value(), c.written.has_value());
        if (c.written) {
            EXPECT_EQ(**saved, dir / *c.written);
        }
        EXPECT_EQ(test::readBytes(dir / "output_IM0001.txt"), c.first);
        if (c.choice == ClashChoice::KeepBoth) {
            EXPECT_EQ(test::readBytes(dir / "output_IM0001 (2).txt"), "report of B");
        } else {
            EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"output_IM0001.txt"});
        }
    }
}

// Once both are kept, each picture finds its own report again, and a third picture is offered the next name.
TEST(SaveReportClash, KeptReportsStayTheirPicturesOnTheNextSave) {
    test::TempDir dir;
    Saver save{dir.path(), ClashChoice::KeepBoth};
    const auto a = picture("A", "picture a"), b = picture("B", "picture b"), c = picture("C", "picture c");
    ASSERT_TRUE(save(a, "A1"));
    ASSERT_TRUE(save(b, "B1"));
    ASSERT_EQ(save.asked.size(), 1u);
    EXPECT_EQ(save(b, "B2").value(), dir / "output_IM0001 (2).txt");
    EXPECT_EQ(save(a, "A2").value(), dir / "output_IM0001.txt");
    EXPECT_EQ(save.asked.size(), 1u) << "a picture's own report is replaced without a question";
    EXPECT_EQ(save(c, "C1").value(), dir / "output_IM0001 (3).txt");
    ASSERT_EQ(save.asked.size(), 2u);
    EXPECT_EQ(save.asked[1].keepBoth, dir / "output_IM0001 (3).txt");
    EXPECT_EQ(entries(dir.path()),
              (std::vector<std::string>{"output_IM0001 (2).txt", "output_IM0001 (3).txt", "output_IM0001.txt"}));
    for (const auto& [name, text] :
         {std::pair{"output_IM0001.txt", "A2"}, {"output_IM0001 (2).txt", "B2"}, {"output_IM0001 (3).txt", "C1"}})
        EXPECT_EQ(test::readBytes(dir / name), text) << name;
}

// A report that no record ties to a picture (written by another program, or changed since its
// record) is treated as another picture's: asked about, never replaced unasked.
TEST(SaveReportClash, AReportWithoutAValidRecordIsNobodysKnown) {
    test::TempDir dir;
    Saver save{dir.path(), ClashChoice::KeepBoth};
    const auto a = picture("A", "picture a");
    test::writeBytes(dir / "output_IM0001.txt", "written by hand");
    EXPECT_EQ(save(a, "A1").value(), dir / "output_IM0001 (2).txt");
    ASSERT_EQ(save.asked.size(), 1u);
    EXPECT_FALSE(save.asked[0].writtenFor.has_value());

    // A's report, edited in another program afterwards: its record no longer describes it.
    test::writeBytes(dir / "output_IM0001 (2).txt", "A1 with a note");
    EXPECT_FALSE(readReportRecord(dir / "output_IM0001 (2).txt").has_value());
    EXPECT_EQ(save(a, "A2").value(), dir / "output_IM0001 (3).txt");
    EXPECT_EQ(save.asked.size(), 2u);
    EXPECT_EQ(test::readBytes(dir / "output_IM0001 (2).txt"), "A1 with a note");
}

// The picture's path is kept whatever bytes it holds (a line feed, '%', bytes that are no UTF-8).
TEST(SaveReportClash, TheRecordKeepsAnyPath) {
    test::TempDir dir;
    Saver save{dir.path(), ClashChoice::KeepBoth};
    const PictureOrigin odd{"/pacs/line\nfeed %41 \xff/IM0001", sha256Hex(std::string_view("odd"))};
    ASSERT_TRUE(save(odd, "odd"));
    ASSERT_TRUE(save(picture("B", "picture b"), "B"));
    ASSERT_EQ(save.asked.size(), 1u);
    EXPECT_EQ(save.asked[0].writtenFor, odd.path);
}

TEST(DocumentsDirectory, XdgUserDirsThenHomeDocuments) {
    test::TempDir home, config;
    const auto inHome = test::environment({{"HOME", home.path().string()}});
    EXPECT_EQ(documentsDirectory(inHome), home / "Documents");

    std::filesystem::create_directories(home / ".config");
    test::writeBytes(home / ".config" / "user-dirs.dirs",
                     "# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
                     "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n");
    EXPECT_EQ(documentsDirectory(inHome), home / "Dokumente");

    test::writeBytes(home / ".config" / "user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"/srv/shared docs\"\n");
    EXPECT_EQ(documentsDirectory(inHome), std::filesystem::path("/srv/shared docs"));

    test::writeBytes(home / ".config" / "user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOME/\"\n");  // disabled
    EXPECT_EQ(documentsDirectory(inHome), home / "Documents");

    test::writeBytes(config / "user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOME/Papers\"\n");
    EXPECT_EQ(documentsDirectory(
                  test::environment({{"HOME", home.path().string()}, {"XDG_CONFIG_HOME", config.path().string()}})),
              home / "Papers");
}

}  // namespace
}  // namespace orvix
