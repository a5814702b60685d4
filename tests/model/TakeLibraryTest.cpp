#include "model/TakeLibrary.h"
#include "model/TakeInfoCodec.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QThread>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace reelbox;
using reelbox::test::readFile;
using reelbox::test::utc;
using reelbox::test::writeFile;

namespace {

class TakeLibraryTest : public ::testing::Test {
protected:
    QString root() const { return home.filePath(QStringLiteral("Videos/Reelbox")); }
    QString cacheRoot() const { return home.filePath(QStringLiteral("cache/org.reelbox.Reelbox")); }

    // A take folder holding `json` as its take.json (none when null) and maybe a movie.
    QString folderWith(const QString& folderName, const QByteArray& json, bool withMovie = true) {
        const QString folder = QDir(root()).filePath(folderName);
        QDir().mkpath(folder);
        if (!json.isNull())
            writeFile(QDir(folder).filePath("take.json"), json);
        if (withMovie)
            writeFile(QDir(folder).filePath("take.mov"), "movie");
        return folder;
    }
    // A take folder as a finished recording leaves it.
    QString makeTake(const QString& folderName, const QDateTime& createdAt, bool withMovie = true,
                     const QString& name = QStringLiteral("Take"), bool mainRemoved = false) {
        TakeInfo info;
        info.name = name;
        info.createdAt = createdAt;
        info.duration = 5;
        info.mainRemoved = mainRemoved;
        return folderWith(folderName, encodeTakeInfo(info), withMovie);
    }

    test::TemporaryHome home;
};

QStringList names(const TakeLibrary& library) {
    QStringList result;
    for (const Take& take : library.takes())
        result << take.info.name;
    return result;
}

} // namespace

TEST_F(TakeLibraryTest, TheDefaultRootIsReelboxInTheMoviesFolderWithItsCache) {
    EXPECT_EQ(
        TakeLibrary::defaultRoot(),
        QDir(QStandardPaths::writableLocation(QStandardPaths::MoviesLocation)).filePath("Reelbox"));
    EXPECT_EQ(TakeLibrary::defaultCacheRoot(), cacheRoot());

    TakeLibrary library;
    EXPECT_EQ(library.root(), TakeLibrary::defaultRoot());
    EXPECT_TRUE(QFileInfo(library.root()).isDir());
    makeTake("2024-01-01 10.00.00", utc(2024, 1, 1, 10, 0, 0));
    library.reload();
    ASSERT_EQ(library.takes().size(), 1u);
    // The cache folder is made on demand.
    const QString expected = QDir(cacheRoot()).filePath("2024-01-01 10.00.00");
    EXPECT_FALSE(QFileInfo::exists(expected));
    EXPECT_EQ(library.cacheFolder(library.takes()[0]), expected);
    EXPECT_TRUE(QFileInfo(expected).isDir());
}

// The window reads a large library on a worker: nothing is listed until it is read, then the
// same list as a read here; a rename made while it reads is not undone by the older read.
TEST_F(TakeLibraryTest, AReadInTheBackgroundListsTheSameAndKeepsChangesMadeMeanwhile) {
    test::ensureApplication();
    for (int i = 0; i < 200; ++i)
        makeTake(QStringLiteral("take %1").arg(i), utc(2024, 1, 1, 0, 0, 0).addSecs(60 * i), true,
                 QStringLiteral("Take %1").arg(i));
    const TakeLibrary now(root(), cacheRoot());
    TakeLibrary later(root(), cacheRoot(), nullptr, TakeLibrary::Read::later);
    EXPECT_TRUE(later.takes().empty());
    EXPECT_FALSE(later.isRead());

    int changes = 0;
    QObject::connect(&later, &TakeLibrary::takesChanged, [&] { ++changes; });
    later.readInBackground();
    QThread::msleep(1000); // read by now, the list not yet handed over
    later.rename(now.takes().front(), QStringLiteral("Renamed"));
    ASSERT_TRUE(test::waitFor([&] { return later.isRead(); }, 10000));
    test::runEvents(100);
    EXPECT_GE(changes, 1);
    QStringList expected = names(now);
    expected.front() = QStringLiteral("Renamed");
    EXPECT_EQ(names(later), expected);
}

TEST_F(TakeLibraryTest, ListsReadableTakesNewestFirstAndSkipsTheRest) {
    makeTake("good", utc(2024, 1, 1, 10, 0, 0), true, "Good");
    makeTake("no movie", utc(2024, 1, 2, 10, 0, 0), false, "No movie");
    makeTake(".hidden", utc(2024, 1, 3, 10, 0, 0), true, "Hidden");
    // A take whose main recording was removed needs no movie.
    makeTake("overdubs only", utc(2024, 1, 4, 10, 0, 0), false, "Kept", true);
    // Takes of one date keep the order of the folder listing.
    for (int i = 0; i < 6; ++i)
        makeTake(QStringLiteral("t%1").arg(i), utc(2024, 1, 2, 12, 0, 0), true,
                 QStringLiteral("T%1").arg(i));
    writeFile(QDir(root()).filePath("a file"), "x");
    QDir(root()).mkpath("empty");
    folderWith("nameless", R"({"createdAt": "2024-01-01T00:00:00Z", "duration": 1})");

    // Not plain files: a FIFO would block the reader, /dev/zero never ends.
    ASSERT_EQ(mkfifo(QFile::encodeName(folderWith("fifo", {}) + "/take.json").constData(), 0600),
              0);
    ASSERT_TRUE(QFile::link("/dev/zero", folderWith("zero", {}) + "/take.json"));
    // Larger than any take.json: 16 MB and a byte.
    QByteArray huge = encodeTakeInfo(TakeInfo{});
    folderWith("huge", huge.append(QByteArray(16 * 1024 * 1024 + 1 - huge.size(), ' ')));

    QStringList expected{"Kept"};
    for (const QString& folder :
         QDir(root()).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Unsorted))
        if (folder.startsWith('t'))
            expected << QStringLiteral("T") + folder.mid(1);
    TakeLibrary library(root(), cacheRoot());
    EXPECT_EQ(names(library), expected << "Good");
    // Nothing was changed on disk.
    EXPECT_TRUE(QFileInfo::exists(QDir(root()).filePath("nameless/take.json")));
    EXPECT_TRUE(QFileInfo::exists(QDir(root()).filePath("no movie/take.json")));
}

// Saving and reloading notify only when the list changes.
TEST_F(TakeLibraryTest, SaveWritesAtomicallyAndUpdatesTheList) {
    makeTake("a", utc(2024, 1, 1, 10, 0, 0));
    TakeLibrary library(root(), cacheRoot());
    int changes = 0;
    QObject::connect(&library, &TakeLibrary::takesChanged, [&] { ++changes; });
    library.reload();
    EXPECT_EQ(changes, 0);

    Take take = library.takes().at(0);
    take.info.master.volumeDB = -7;
    library.save(take);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(library.takes().at(0), take);
    EXPECT_EQ(decodeTakeInfo(readFile(take.infoPath())), take.info);
    EXPECT_EQ(QDir(take.folder).entryList(QDir::Files | QDir::Hidden),
              (QStringList{"take.json", "take.mov"}));

    library.save(take); // the same record again: nothing to notify
    EXPECT_EQ(changes, 1);
    makeTake("b", utc(2024, 1, 2, 10, 0, 0));
    library.reload();
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(library.takes().size(), 2u);

    // A take that is not listed is written, and the list is left until a reload.
    Take unlisted;
    unlisted.folder = library.makeNewTakeFolder();
    unlisted.info.name = QStringLiteral("New");
    unlisted.info.createdAt = utc(2024, 2, 2, 2, 2, 2);
    writeFile(unlisted.moviePath(), "movie");
    library.save(unlisted);
    EXPECT_EQ(library.takes().size(), 2u);
    library.reload();
    EXPECT_EQ(names(library), (QStringList{"New", "Take", "Take"}));

    // Renaming trims, ignores empty names, and is saved.
    library.rename(library.takes().at(0), QStringLiteral("   \t"));
    EXPECT_EQ(names(library).front(), QStringLiteral("New"));
    library.rename(library.takes().at(0), QStringLiteral("  Evening jam\n"));
    EXPECT_EQ(names(library).front(), QStringLiteral("Evening jam"));
    library.reload();
    EXPECT_EQ(names(library).front(), QStringLiteral("Evening jam"));
}

TEST_F(TakeLibraryTest, SaveFailuresAreThrownAndChangeNothing) {
    makeTake("a", utc(2024, 1, 1, 10, 0, 0));
    TakeLibrary library(root(), cacheRoot());
    Take take = library.takes().at(0);
    Take bad = take;
    bad.info.duration = std::numeric_limits<double>::quiet_NaN();
    EXPECT_THROW(library.save(bad), Error);
    EXPECT_EQ(library.takes().at(0), take);
    EXPECT_EQ(decodeTakeInfo(readFile(take.infoPath())), take.info);

    Take gone = take;
    gone.folder = QDir(root()).filePath("does not exist");
    EXPECT_THROW(library.save(gone), Error);

    // Records that would be written but not read back as themselves.
    Take undated = take;
    undated.info.createdAt = QDateTime();
    Take farFuture = take;
    farFuture.info.createdAt = utc(9999, 12, 31, 23, 0, 0).addSecs(7200);
    Take undatedOverdub = take;
    undatedOverdub.info.overdubs.push_back(Overdub{});
    undatedOverdub.info.overdubs.back().id = QUuid::createUuid();
    undatedOverdub.info.overdubs.back().fileName = QStringLiteral("A.mov");
    for (const Take& refused : {undated, farFuture, undatedOverdub}) {
        EXPECT_THROW(library.save(refused), Error);
        EXPECT_EQ(decodeTakeInfo(readFile(take.infoPath())), take.info);
    }

    // A disk that fills while take.json is written: here a file size limit on this process
    // (the signal ignored, so a write past it comes back short, as on a nearly full disk). The
    // save fails with the reason and the take.json before it stays whole.
    Take longer = take;
    longer.info.name = QString(5000, u'x');
    const QByteArray old = readFile(take.infoPath());
    struct rlimit saved {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limited = saved;
    limited.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    bool threw = false;
    try {
        library.save(longer);
    } catch (const Error& e) {
        threw = true;
        EXPECT_TRUE(QString::fromUtf8(e.what()).startsWith(QStringLiteral("Couldn't save")));
    }
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_TRUE(threw);
    EXPECT_EQ(readFile(take.infoPath()), old);
    EXPECT_EQ(library.takes().at(0), take);
}

// A new user (or CI as root) may have no data folder yet: the Trash is made there, never in
// the current folder; where none can be made, the take stays and the call says so.
TEST_F(TakeLibraryTest, TrashMovesTheFolderIntoTheDataFoldersTrashOrLeavesTheTake) {
    const QString work = home.filePath(QStringLiteral("work"));
    QDir().mkpath(work);
    writeFile(home.filePath(QStringLiteral("blocker")), "a file, not a folder");
    const struct {
        const char* dataHome;
        bool trashed;
    } cases[] = {{"data", true}, {"fresh/share", true}, {"blocker/share", false}};
    makeTake("u", utc(2024, 1, 2, 10, 0, 0), true, "Stays");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dataHome);
        const QString dataHome = home.filePath(QString::fromLatin1(c.dataHome));
        test::ScopedEnvironment xdg("XDG_DATA_HOME", dataHome.toUtf8());
        const QString saved = QDir::currentPath();
        QDir::setCurrent(work);
        const QString folder = makeTake("t", utc(2024, 1, 1, 10, 0, 0), true, "Doomed");
        TakeLibrary library(root(), cacheRoot());
        ASSERT_EQ(library.takes().at(1).info.name, QStringLiteral("Doomed"));
        EXPECT_EQ(library.trash(library.takes().at(1)), c.trashed);
        QDir::setCurrent(saved);
        EXPECT_EQ(QFileInfo::exists(folder), !c.trashed);
        EXPECT_EQ(QFileInfo::exists(dataHome + "/Trash/files/t/take.json"), c.trashed);
        EXPECT_EQ(names(library),
                  c.trashed ? QStringList{"Stays"} : (QStringList{"Stays", "Doomed"}));
        EXPECT_FALSE(QFileInfo::exists(work + "/files")) << "moved into the current folder";
        QDir(folder).removeRecursively();
    }
}

TEST_F(TakeLibraryTest, NewTakeFoldersAreNamedAfterTheTimeOrFail) {
    TakeLibrary library(root(), cacheRoot());
    const QDateTime fixed(QDate(2024, 3, 1), QTime(17, 5, 9), Qt::LocalTime);
    library.setClock([&] { return fixed; });
    for (const char* name :
         {"2024-03-01 17.05.09", "2024-03-01 17.05.09 2", "2024-03-01 17.05.09 3"}) {
        const QString folder = library.makeNewTakeFolder();
        EXPECT_EQ(QFileInfo(folder).fileName(), QString::fromLatin1(name));
        EXPECT_TRUE(QFileInfo(folder).isDir() && QDir(folder).isEmpty()) << name;
    }

    // A retry that falls into the next second takes that second's date with the number.
    QDateTime now = fixed;
    library.setClock([&] {
        const QDateTime result = now;
        now = now.addSecs(1);
        return result;
    });
    const QString fourth = library.makeNewTakeFolder();
    EXPECT_EQ(QFileInfo(fourth).fileName(), QStringLiteral("2024-03-01 17.05.10 2"));

    // A folder that can't be made is an error.
    writeFile(home.filePath("blocker"), "a file, not a folder");
    EXPECT_THROW(TakeLibrary(home.filePath("blocker/Reelbox"), cacheRoot()).makeNewTakeFolder(),
                 Error);
}
