#include "hot_update_installer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <iostream>
#include <thread>

#include "file_names.h"
#include "files.h"

namespace {

using TestSupport::entryNames;
using TestSupport::merged;
using TestSupport::readTree;
using TestSupport::Tree;
using TestSupport::writeFile;
using TestSupport::writeTree;

// Applies `tree` as the package's content.
bool applyTree(HotUpdateInstaller& installer, const Tree& tree) {
    return installer.apply([&](const QString& staging) {
        writeTree(staging, tree);
        return true;
    });
}

class HotUpdateInstallerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(root.isValid());
        app = root.path() + "/app folder ü";
        work = app + "/update";
        ASSERT_TRUE(QDir().mkpath(work));
    }

    // The installed application, the update folder left out.
    Tree installed() { return readTree(app, {"update/"}); }

    QTemporaryDir root;
    QString app;
    QString work;
};

// plugins/ is replaced whole (swapped as one folder); bin/ is swapped and the
// file the update leaves alone moved back; lib/ is merged file by file.
const Tree kVersion1 = {
    {"a.txt", "a1"},           {"plugins/a.dll", "pa1"},  {"plugins/b.dll", "pb1"},
    {"bin/tool.exe", "tool1"}, {"bin/keep.dll", "keep1"}, {"lib/x.dll", "x1"},
    {"lib/keep1.dll", "k1"},   {"lib/keep2.dll", "k2"},   {".hidden", "hidden1"}};
const Tree kVersion2 = {{"a.txt", "a2 longer"},        {"plugins/a.dll", "pa2"},
                        {"plugins/b.dll", "pb2"},      {"plugins/c.dll", "pc2"},
                        {"bin/tool.exe", "tool2"},     {"bin/new.dll", "new2"},
                        {"bin/new.pak", "pak2"},       {"lib/x.dll", "x2"},
                        {"docs/readme.md", "readme2"}, {".hidden", "hidden2"}};

TEST_F(HotUpdateInstallerTest, InstallsFilesMergesFoldersAndLeavesNoWorkFolders) {
    writeTree(app, kVersion1);
    HotUpdateInstaller installer(app, work);
    EXPECT_FALSE(installer.wasInterrupted());
    QByteArray stagedLink;
    ASSERT_TRUE(installer.apply([&](const QString& staging) {
        writeTree(staging, kVersion2);
        const bool linked = QFile::link("a.txt", staging + "/link");
        stagedLink = readTree(staging).value("link");
        return linked;
    })) << installer.errorMessage().toStdString();

    Tree expected = merged(kVersion1, kVersion2);
    // A relative link now reaches the installed file; a Windows shortcut is a
    // file like any other.
    expected["link"] = stagedLink.startsWith("-> ")
                           ? "-> " + QFileInfo(app + "/a.txt").absoluteFilePath().toUtf8()
                           : stagedLink;
    EXPECT_EQ(installed(), expected);
    // The replaced files wait in the obsolete folder, which is no interruption.
    EXPECT_EQ(entryNames(work), QStringList{"obsolete"});
    EXPECT_FALSE(installer.wasInterrupted());
    EXPECT_TRUE(installer.freeObsolete());
    EXPECT_TRUE(entryNames(work).isEmpty()) << entryNames(work).join(",").toStdString();
}

TEST_F(HotUpdateInstallerTest, ExtractsIntoAnEmptyStagingFolderAndStopsWhereExtractionFails) {
    writeTree(app, kVersion1);
    HotUpdateInstaller installer(app, work);
    writeFile(installer.stagingDir() + "/stale.txt", "stale");
    QStringList seen = {"not called"};
    EXPECT_FALSE(installer.apply([&](const QString& staging) {
        seen = entryNames(staging);
        writeFile(staging + "/a.txt", "half-extracted");
        return false;
    }));
    EXPECT_TRUE(seen.isEmpty()) << seen.join(",").toStdString();
    EXPECT_EQ(installed(), kVersion1);
}

// A move that fails part-way (here an entry whose place is taken by a folder)
// must put back every file already replaced and take out every file added.
struct BlockedCase {
    const char* name;
    Tree staged;
    Tree blocker;  // written into the application folder on top of version 1
    QString blockedFolder;
};

void PrintTo(const BlockedCase& c, std::ostream* out) { *out << c.name; }

class BlockedInstallTest : public HotUpdateInstallerTest,
                           public ::testing::WithParamInterface<BlockedCase> {};

TEST_P(BlockedInstallTest, LeavesEveryInstalledFileAsItWas) {
    writeTree(app, kVersion1);
    writeTree(app, GetParam().blocker);
    if (!GetParam().blockedFolder.isEmpty()) {
        ASSERT_TRUE(QDir(app).mkpath(GetParam().blockedFolder));
    }
    const Tree before = installed();

    HotUpdateInstaller installer(app, work);
    EXPECT_FALSE(applyTree(installer, GetParam().staged));
    EXPECT_FALSE(installer.errorMessage().isEmpty());
    EXPECT_FALSE(installer.wasInterrupted());
    EXPECT_TRUE(installer.freeObsolete());

    EXPECT_EQ(installed(), before);
    EXPECT_TRUE(QFileInfo(app + "/" + GetParam().blockedFolder).isDir());
    EXPECT_FALSE(QFileInfo::exists(app + "/docs"));
    EXPECT_TRUE(entryNames(work).isEmpty()) << entryNames(work).join(",").toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BlockedInstallTest,
    ::testing::Values(
        // Sorted by name: a.txt and bin/ are replaced before zz.txt is reached.
        BlockedCase{"FolderInPlaceOfAFile",
                    [] {
                        Tree t = kVersion2;
                        t["zz.txt"] = "zz2";
                        return t;
                    }(),
                    {},
                    "zz.txt"},
        BlockedCase{"FileInPlaceOfAFolder",
                    [] {
                        Tree t = kVersion2;
                        t["zz/inner.txt"] = "inner2";
                        return t;
                    }(),
                    {{"zz", "a file where the update has a folder"}},
                    ""},
        BlockedCase{"EntryInTheWorkFolders",
                    [] {
                        Tree t = kVersion2;
                        t["update/replaced/x"] = "x";
                        return t;
                    }(),
                    {},
                    ""},
        BlockedCase{"EntryInTheObsoleteFolder",
                    [] {
                        Tree t = kVersion2;
                        t["update/obsolete"] = "a file in place of a work folder";
                        return t;
                    }(),
                    {},
                    ""}),
    [](const ::testing::TestParamInfo<BlockedCase>& info) { return info.param.name; });

// States an install killed part-way can leave; recover() must bring back
// version 1 whichever it is.
TEST_F(HotUpdateInstallerTest, RecoverRestoresEveryMovedAsideFile) {
    writeTree(app, kVersion1);
    HotUpdateInstaller installer(app, work);
    // a.txt: moved aside, the new one not yet moved in.
    writeFile(work + "/replaced/a.txt", "a1");
    QFile::remove(app + "/a.txt");
    // bin/: swapped whole, the file the update leaves alone not yet moved back.
    QDir(app + "/bin").removeRecursively();
    writeFile(work + "/replaced/bin/tool.exe", "tool1");
    writeFile(work + "/replaced/bin/keep.dll", "keep1");
    writeTree(app, {{"bin/tool.exe", "tool2"}, {"bin/new.dll", "new2"}});
    // lib/x.dll: moved aside and replaced.
    writeFile(work + "/replaced/lib/x.dll", "x1");
    writeFile(app + "/lib/x.dll", "x2");
    // plugins/: swapped whole; the new folder holds a file the old one had not.
    QDir(app + "/plugins").removeRecursively();
    writeFile(work + "/replaced/plugins/a.dll", "pa1");
    writeFile(work + "/replaced/plugins/b.dll", "pb1");
    writeTree(app, {{"plugins/a.dll", "pa2"}, {"plugins/b.dll", "pb2"}, {"plugins/c.dll", "pc2"}});
    // docs/: added by the update; the staging folder still holds the rest.
    writeFile(app + "/docs/readme.md", "readme2");
    writeFile(work + "/staging/.hidden", "hidden2");
    writeFile(work + "/obsolete/old.txt", "old");

    EXPECT_TRUE(installer.wasInterrupted());
    ASSERT_TRUE(installer.recover()) << installer.errorMessage().toStdString();

    Tree expected = kVersion1;
    expected["docs/readme.md"] = "readme2";  // applied again by the next install
    expected["plugins/c.dll"] = "pc2";
    expected["bin/new.dll"] = "new2";
    EXPECT_EQ(installed(), expected);
    EXPECT_FALSE(installer.wasInterrupted());
    EXPECT_TRUE(installer.freeObsolete());
    EXPECT_TRUE(entryNames(work).isEmpty()) << entryNames(work).join(",").toStdString();
}

// One rename made to fail at a time, with a later move of the install failing
// too so that a roll-back runs: an undo step, the restore in a recovery, the
// old folder put back when the new one cannot be swapped in. Whichever fails,
// every installed file stays in its place or moved aside, and the next recover()
// leaves the old version (with at most files the update added) or the new one,
// never a mixture.
struct FailingRenameCase {
    const char* name;
    // (from, to) relative to the application folder.
    std::vector<std::pair<QString, QString>> failing;
};

void PrintTo(const FailingRenameCase& c, std::ostream* out) { *out << c.name; }

class FailingRenameTest : public HotUpdateInstallerTest,
                          public ::testing::WithParamInterface<FailingRenameCase> {
protected:
    HotUpdateInstaller::Rename failingRename() {
        return [this](const QString& from, const QString& to) {
            const auto relative = [this](const QString& path) { return path.mid(app.size() + 1); };
            for (const auto& [failFrom, failTo] : GetParam().failing) {
                if (relative(from) == failFrom && relative(to) == failTo) {
                    return FileMoves::Outcome{false, false, "refused by the test"};
                }
            }
            return FileMoves::rename(from, to);
        };
    }
};

// Staged lib/x.dll comes late (after bin/ is swapped and a.txt replaced).
const std::pair<QString, QString> kLateMoveFails = {"update/staging/lib/x.dll", "lib/x.dll"};

TEST_P(FailingRenameTest, NoInstalledFileIsEverOutOfReach) {
    writeTree(app, kVersion1);
    HotUpdateInstaller installer(app, work);
    installer.useRename(failingRename());
    EXPECT_FALSE(applyTree(installer, kVersion2));
    EXPECT_FALSE(installer.errorMessage().isEmpty());
    const Tree aside = readTree(work + "/replaced");
    const Tree afterRun = installed();
    // The client starts from what is in place: some version of every file.
    for (auto file = kVersion1.begin(); file != kVersion1.end(); ++file) {
        EXPECT_TRUE(afterRun.contains(file.key())) << file.key().toStdString() << " is missing";
        EXPECT_TRUE(afterRun.value(file.key()) == file.value() ||
                    aside.value(file.key()) == file.value())
            << file.key().toStdString() << " is neither in place nor moved aside";
    }

    HotUpdateInstaller next(app, work);
    ASSERT_TRUE(next.recover()) << next.errorMessage().toStdString();
    ASSERT_TRUE(next.freeObsolete());
    EXPECT_TRUE(entryNames(work).isEmpty()) << entryNames(work).join(",").toStdString();
    const Tree after = installed();
    if (after == merged(kVersion1, kVersion2)) return;
    for (auto file = after.begin(); file != after.end(); ++file) {
        const QByteArray expected = kVersion1.contains(file.key()) ? kVersion1.value(file.key())
                                                                   : kVersion2.value(file.key());
        EXPECT_EQ(file.value(), expected) << file.key().toStdString();
    }
    for (const QString& file : kVersion1.keys())
        EXPECT_TRUE(after.contains(file)) << file.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FailingRenameTest,
    ::testing::Values(
        // bin/keep.dll, left alone by the update, cannot go back aside: bin/
        // holds it and must not go to the staging folder.
        FailingRenameCase{"LeftAloneFileBackAside",
                          {kLateMoveFails, {"bin/keep.dll", "update/replaced/bin/keep.dll"}}},
        // The swapped folder cannot go back to the staging folder.
        FailingRenameCase{"SwappedFolderBackToStaging",
                          {kLateMoveFails, {"bin", "update/staging/bin"}}},
        // The new bin/ cannot be swapped in, nor the old one put back.
        FailingRenameCase{"OldFolderBack",
                          {{"update/staging/bin", "bin"}, {"update/replaced/bin", "bin"}}},
        // a.txt cannot go back to the staging folder, and the old one cannot be
        // restored over it: the new one is put back in its place.
        FailingRenameCase{"RestoreOverTheNewFile",
                          {kLateMoveFails,
                           {"a.txt", "update/staging/a.txt"},
                           {"update/replaced/a.txt", "a.txt"}}},
        // The install fails at its last step, the moved-aside files to the
        // obsolete folder.
        FailingRenameCase{"MovedAsideFilesToObsolete", {{"update/replaced", "update/obsolete/1"}}}),
    [](const ::testing::TestParamInfo<FailingRenameCase>& info) { return info.param.name; });

TEST_F(HotUpdateInstallerTest, RecoverKeepsWhatItCannotRestore) {
    writeTree(app, kVersion1);
    writeFile(work + "/replaced/bin", "a file whose place is now a folder");
    HotUpdateInstaller installer(app, work);
    EXPECT_FALSE(installer.recover());
    EXPECT_FALSE(installer.errorMessage().isEmpty());
    EXPECT_TRUE(QFileInfo::exists(work + "/replaced/bin"));
    EXPECT_EQ(installed(), kVersion1);
}

TEST_F(HotUpdateInstallerTest, FinishedInstallIsNotRolledBackByALaterRecover) {
    writeTree(app, kVersion1);
    // Moved-aside files of an earlier finished install that could not be deleted.
    writeFile(work + "/obsolete/a.txt", "a0");
    HotUpdateInstaller installer(app, work);
    ASSERT_TRUE(applyTree(installer, kVersion2));
    EXPECT_FALSE(installer.wasInterrupted());
    EXPECT_TRUE(installer.recover());
    EXPECT_EQ(installed().value("a.txt"), "a2 longer");
    EXPECT_TRUE(installer.freeObsolete());
    EXPECT_TRUE(entryNames(work).isEmpty());
}

// Once the client's guard is free, a second worker may install while the first
// still deletes old files, or delete the same files side by side with it.
TEST_F(HotUpdateInstallerTest, WorkersFreeingOldFilesSideBySideLoseNothing) {
    writeTree(app, kVersion1);
    for (int folder = 1; folder <= 3; ++folder) {
        for (int i = 0; i < 400; ++i) {
            writeFile(QString("%1/obsolete/%2/f%3.txt").arg(work).arg(folder).arg(i), "old");
        }
    }
    HotUpdateInstaller first(app, work);
    HotUpdateInstaller second(app, work);
    HotUpdateInstaller third(app, work);
    bool firstFreed = false;
    bool secondFreed = false;
    std::thread deleting([&] { firstFreed = first.freeObsolete(); });
    std::thread alsoDeleting([&] { secondFreed = second.freeObsolete(); });
    const bool done = applyTree(third, kVersion2);
    deleting.join();
    alsoDeleting.join();

    EXPECT_TRUE(done) << third.errorMessage().toStdString();
    EXPECT_TRUE(firstFreed) << first.errorMessage().toStdString();
    EXPECT_TRUE(secondFreed) << second.errorMessage().toStdString();
    EXPECT_EQ(installed(), merged(kVersion1, kVersion2));
    // What was moved in after the others had listed it goes with the next run.
    EXPECT_TRUE(third.freeObsolete());
    EXPECT_TRUE(entryNames(work).isEmpty()) << entryNames(work).join(",").toStdString();
}

// The work folders are found by their exact names: the client's own files in
// the same folder, named like them in other letter cases or with more after
// the name, are neither leftovers nor deleted.
const Tree kLookAlikes = {{"update/OBSOLETE_LIST.txt", "client list"},
                          {"update/Obsolete-notes.txt", "client notes"},
                          {"update/obsolete-2/x.txt", "client folder"},
                          {"update/Replaced.txt", "client replaced"},
                          {"update/staging.bak", "client backup"}};

TEST_F(HotUpdateInstallerTest, LeavesClientFilesNamedLikeTheWorkFoldersAlone) {
    writeTree(app, merged(kVersion1, kLookAlikes));
    HotUpdateInstaller installer(app, work);
    EXPECT_FALSE(installer.wasInterrupted());
    EXPECT_TRUE(installer.recover());
    ASSERT_TRUE(applyTree(installer, kVersion2)) << installer.errorMessage().toStdString();
    EXPECT_TRUE(installer.freeObsolete());

    EXPECT_EQ(readTree(app), merged(merged(kVersion1, kVersion2), kLookAlikes));
}

// A package entry in a work folder under another letter case lands in that work
// folder where the file system ignores case, and must be refused there; where
// case counts, it is a folder like any other.
TEST_F(HotUpdateInstallerTest, WorkFolderNamesCompareAsTheFileSystemCompares) {
    writeTree(app, kVersion1);
    HotUpdateInstaller installer(app, work);
    Tree staged = kVersion2;
    staged["update/Staging/x.txt"] = "x";
    const bool installed = applyTree(installer, staged);
    ASSERT_TRUE(installer.freeObsolete());
    if (FileNames::caseSensitivity() == Qt::CaseInsensitive) {
        EXPECT_FALSE(installed);
        EXPECT_EQ(readTree(app), kVersion1);
    } else {
        EXPECT_TRUE(installed) << installer.errorMessage().toStdString();
        EXPECT_EQ(readTree(app), merged(kVersion1, staged));
    }
}

// The installer folds letter case as the file system does, not as Unicode does:
// on Windows (NTFS) each UTF-16 unit is upper-cased on its own, so the Kelvin
// sign and "k" are two names there, "K" and "k" one.
struct NameCase {
    QString a;
    QString b;
    bool sameOnWindows;
};

TEST(FileNamesTest, ComparesNamesAsTheFileSystemDoes) {
    const bool windows = FileNames::caseSensitivity() == Qt::CaseInsensitive;
    const std::vector<NameCase> cases = {{"F/K.dat", "F/k.dat", true},
                                         {"F/\u212A.dat", "F/k.dat", false},
                                         {"Ä.txt", "ä.txt", true},
                                         {"straße.txt", "STRASSE.txt", false},
                                         {"update/staging", "UPDATE/Staging", true},
                                         {"\u0130.txt", "i.txt", false},
                                         {"a.txt", "a.txt", true},
                                         {"a.txt", "a.txt ", false}};
    for (const NameCase& c : cases) {
        EXPECT_EQ(FileNames::samePath(c.a, c.b), windows ? c.sameOnWindows : c.a == c.b)
            << c.a.toStdString() << " | " << c.b.toStdString();
    }
}

// An installed F/K.dat (Kelvin sign) is no file that a staged F/k.dat replaces:
// both stay, whichever way the folder is installed.
TEST_F(HotUpdateInstallerTest, KeepsInstalledFilesTheFileSystemTellsApart) {
    const Tree version1 = {{"F/\u212A.dat", "kelvin 1"}, {"F/a.dll", "a1"}, {"F/b.dll", "b1"}};
    const Tree version2 = {{"F/k.dat", "k 2"}, {"F/a.dll", "a2"}, {"F/b.dll", "b2"}};
    writeTree(app, version1);
    HotUpdateInstaller installer(app, work);
    ASSERT_TRUE(applyTree(installer, version2)) << installer.errorMessage().toStdString();
    EXPECT_EQ(installed(), merged(version1, version2));
}

// Where the whole file system cannot be flushed, each file and folder is, links
// as the entries they are (never what they point to, which may be gone).
TEST_F(HotUpdateInstallerTest, FlushesEachKindOfEntryWhereTheFileSystemCannotBe) {
    writeTree(app, {{"a.dll", "a"}, {"sub/b.dll", "b"}});
    const bool links = QFile::link(app + "/a.dll", app + "/file link") &&
                       QFile::link(app + "/gone", app + "/dangling link") &&
                       QFile::link(app + "/sub", app + "/folder link");
    for (const QString file : {"a.dll", "sub/b.dll", "file link", "dangling link", "folder link"}) {
        if (file.contains("link") && !links) continue;
        const FileMoves::Outcome flushed = FileMoves::flushFile(app + "/" + file);
        EXPECT_TRUE(flushed.done) << file.toStdString() << ": " << flushed.error.toStdString();
    }
    for (const QString& folder : {app, app + "/sub"}) {
        EXPECT_TRUE(FileMoves::flushFolder(folder).done) << folder.toStdString();
    }
    const FileMoves::Outcome missing = FileMoves::flushFile(app + "/missing.dll");
    EXPECT_FALSE(missing.done);
    EXPECT_FALSE(missing.error.isEmpty());
    const FileMoves::Outcome whole = FileMoves::flushFileSystem(app);
    std::cout << "[ the whole file system: "
              << (whole.done ? "flushed" : "refused, " + whole.error.toStdString()) << " ]"
              << std::endl;
}

}  // namespace
