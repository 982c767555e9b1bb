#include "filepath.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <vector>

#include "files.h"
#include "platform.h"

namespace {

using TestSupport::onWindows;
using TestSupport::readFile;
using TestSupport::writeFile;

// --- join ---

struct JoinCase {
    std::vector<QString> pieces;
    QString expected;
};

QString joinOf(const std::vector<QString>& p) {
    switch (p.size()) {
        case 0:
            return Filepath::join({});
        case 1:
            return Filepath::join({p[0]});
        case 2:
            return Filepath::join({p[0], p[1]});
        case 3:
            return Filepath::join({p[0], p[1], p[2]});
        default:
            return Filepath::join({p[0], p[1], p[2], p[3]});
    }
}

class JoinTest : public ::testing::TestWithParam<JoinCase> {};

TEST_P(JoinTest, JoinsWithOneSlash) {
    EXPECT_EQ(joinOf(GetParam().pieces).toStdString(), GetParam().expected.toStdString());
}

INSTANTIATE_TEST_SUITE_P(
    Pieces, JoinTest,
    ::testing::Values(JoinCase{{"C:\\app\\", "log"}, "C:/app/log"}, JoinCase{{"a"}, "a/"},
                      JoinCase{{"a", ""}, "a/"}, JoinCase{{"a", "b", ""}, "a/b/"},
                      JoinCase{{"a", "", "b"}, "a/b"}, JoinCase{{"", "b"}, "/b"},
                      JoinCase{{"a/", "/b/"}, "a/b"}, JoinCase{{"a//", "b"}, "a//b"},
                      JoinCase{{"a", "/", "b"}, "a//b"}, JoinCase{{}, ""},
                      JoinCase{{"/opt/app", "update", "pkg"}, "/opt/app/update/pkg"},
                      JoinCase{{"a", "..", "./b"}, "a/.././b"},
                      JoinCase{{"/home/Zoë Ünal", "文件 夹\\x"}, "/home/Zoë Ünal/文件 夹/x"}));

// --- names ---

TEST(FilepathNames, SplitsFolderAndName) {
    EXPECT_EQ(Filepath::base("/x/setup.exe"), "setup.exe");
    EXPECT_EQ(Filepath::base("/x/README"), "README");
    EXPECT_EQ(Filepath::baseWithoutSuffix("/x/setup.exe"), "setup");
    EXPECT_EQ(Filepath::baseWithoutSuffix("/x/a.tar.gz"), "a.tar");
    // An absolute path on either system: "/" or "C:/" first.
    EXPECT_EQ(Filepath::dir(QDir::rootPath() + "x/y z/f.txt"), QDir::rootPath() + "x/y z");
    EXPECT_EQ(Filepath::dir("f.txt"), QDir::currentPath());
}

// --- roots ---

struct RootCase {
    QString path;
    QString workingDir;
    bool root;
};
void PrintTo(const RootCase& c, std::ostream* os) {
    *os << c.path.toStdString() << " in " << c.workingDir.toStdString();
}

class NamesRootTest : public ::testing::TestWithParam<RootCase> {};

TEST_P(NamesRootTest, TellsRootsOfBothPlatformsOnPathsAlone) {
    EXPECT_EQ(Filepath::namesRoot(GetParam().path, GetParam().workingDir), GetParam().root);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, NamesRootTest,
    ::testing::Values(
        // POSIX forms, also read against the working directory.
        RootCase{"/", "/tmp", true}, RootCase{"/../", "/tmp", true},
        RootCase{"/tmp/..", "/tmp", true}, RootCase{"/tmp/../..", "/tmp", true},
        RootCase{"///", "/tmp", true}, RootCase{"/./.", "/tmp", true},
        RootCase{"/a/b/../../", "/tmp", true}, RootCase{"..", "/tmp", true},
        RootCase{"a/../..", "/tmp", true}, RootCase{".", "/", true}, RootCase{"/tmp", "/", false},
        RootCase{"/tmp/x/..", "/", false}, RootCase{"/a/./b/..", "/", false},
        RootCase{"a", "/", false}, RootCase{"..", "/tmp/x", false}, RootCase{"./a b/ü", "/", false},
        // Windows drive forms, with either separator.
        RootCase{"C:", "/tmp", true}, RootCase{"C:/", "/tmp", true}, RootCase{"C:\\", "/tmp", true},
        RootCase{"C:/.", "/tmp", true}, RootCase{"c:\\windows\\..", "/tmp", true},
        RootCase{"C:x\\..", "/tmp", true}, RootCase{"D:\\a\\b\\..\\..\\..", "/tmp", true},
        RootCase{"C:/. .", "/tmp", true}, RootCase{"C:/...", "/tmp", true},
        RootCase{"C:/x/.. ", "/tmp", true}, RootCase{"..\\..", "C:\\Users\\me", true},
        RootCase{"..", "C:/Users", true}, RootCase{"C:/Users", "/tmp", false},
        RootCase{"C:\\a.\\b\\..", "/tmp", false}, RootCase{"..", "C:/Users/me", false},
        RootCase{"C:x", "/tmp", false},
        // Device and long-path prefixes, and network shares.
        RootCase{"\\\\?\\C:\\", "/tmp", true}, RootCase{"\\\\?\\C:", "/tmp", true},
        RootCase{"\\\\.\\C:\\x\\..", "/tmp", true}, RootCase{"\\??\\C:\\", "/tmp", true},
        RootCase{"//?/Volume{0a1b}/", "/tmp", true},
        RootCase{"\\\\?\\UNC\\server\\share\\", "/tmp", true},
        RootCase{"\\\\server\\share", "/tmp", true},
        RootCase{"\\\\server\\share\\x\\..", "/tmp", true}, RootCase{"\\\\server", "/tmp", true},
        RootCase{"\\\\?\\C:\\Windows", "/tmp", false},
        RootCase{"\\\\?\\UNC\\server\\share\\x", "/tmp", false},
        RootCase{"\\\\server\\share\\x", "/tmp", false}));

// --- files and folders ---

class FilepathFiles : public ::testing::Test {
protected:
    QTemporaryDir tmp;
    QString path(const QString& rel) const { return tmp.filePath(rel); }
};

TEST_F(FilepathFiles, RemoveRefusesShortPathsAndReportsWhatHappened) {
    for (const char* p : {"C:/", "C:\\", "C:", "/", "\\", "", "abc"}) {
        EXPECT_FALSE(Filepath::remove(p)) << p;
    }
    EXPECT_TRUE(QDir("/").exists());
    EXPECT_FALSE(Filepath::remove(path("missing")));

    writeFile(path("a file.txt"), "x");
    EXPECT_TRUE(Filepath::remove(path("a file.txt")));
    EXPECT_FALSE(QFile::exists(path("a file.txt")));

    writeFile(path("tree/ä/b/c.txt"), "x");
    EXPECT_TRUE(Filepath::remove(path("tree")));
    EXPECT_FALSE(QFileInfo::exists(path("tree")));
}

// Restores the working directory when it goes.
class WorkingDirGuard {
public:
    explicit WorkingDirGuard(const QString& path) : previous(QDir::currentPath()) {
        EXPECT_TRUE(QDir::setCurrent(path));
    }
    ~WorkingDirGuard() { QDir::setCurrent(previous); }

private:
    const QString previous;
};

TEST_F(FilepathFiles, RemoveAndCopyRefuseWhatNamesARoot) {
    if (onWindows()) GTEST_SKIP() << "these are real roots on Windows, not scratch folders";
    // Here these Windows roots are ordinary folders below the scratch folder: a
    // refusal keeps them, and a broken check removes nothing outside it.
    WorkingDirGuard inScratch(tmp.path());
    const QStringList roots = {"C:/.", "C:\\", "\\\\?\\C:\\", "D:x\\.."};
    for (const QString& root : roots) writeFile(path(root + "/keep.txt"), "k");
    writeFile(path("src.bin"), "s");
    for (const QString& root : roots) {
        QString error;
        EXPECT_FALSE(Filepath::remove(root)) << root.toStdString();
        EXPECT_FALSE(Filepath::copyFile(path("src.bin"), root, error)) << root.toStdString();
        EXPECT_TRUE(error.isEmpty());
        EXPECT_EQ(readFile(path(root + "/keep.txt")), "k") << root.toStdString();
    }
}

TEST_F(FilepathFiles, CreateDirSizeRenameExists) {
    EXPECT_TRUE(Filepath::createDir(path("new folder/子/deep")));
    EXPECT_TRUE(Filepath::createDir(path("new folder/子/deep")));  // existing is fine
    EXPECT_TRUE(Filepath::exists(path("new folder/子/deep")));

    long long size = -7;
    EXPECT_FALSE(Filepath::fileSize(size, path("missing")));
    EXPECT_EQ(size, -7);
    writeFile(path("data"), QByteArray(12345, 'q'));
    EXPECT_TRUE(Filepath::fileSize(size, path("data")));
    EXPECT_EQ(size, 12345);

    EXPECT_TRUE(Filepath::rename(path("data"), path("new folder/renamed é")));
    EXPECT_FALSE(Filepath::exists(path("data")));
    EXPECT_EQ(readFile(path("new folder/renamed é")).size(), 12345);
    writeFile(path("other"), "o");
    EXPECT_FALSE(Filepath::rename(path("other"), path("new folder/renamed é")));
    EXPECT_FALSE(Filepath::rename(path("missing"), path("somewhere")));
}

TEST_F(FilepathFiles, CopyReplacesAndCreatesFolders) {
    QString error;
    writeFile(path("src.bin"), "new content");
    writeFile(path("dst.bin"), "old and much longer content");
    EXPECT_TRUE(Filepath::copyFile(path("src.bin"), path("dst.bin"), error));
    EXPECT_EQ(readFile(path("dst.bin")), "new content");

    EXPECT_TRUE(Filepath::copyFile(path("src.bin"), path("a b/ü/c.bin"), error));
    EXPECT_EQ(readFile(path("a b/ü/c.bin")), "new content");

    // A folder in the way is removed with its content.
    writeFile(path("folder/inner.txt"), "i");
    EXPECT_TRUE(Filepath::copyFile(path("src.bin"), path("folder"), error));
    EXPECT_EQ(readFile(path("folder")), "new content");
    EXPECT_TRUE(error.isEmpty());

    EXPECT_FALSE(Filepath::copyFile(path("missing.bin"), path("x.bin"), error));
    EXPECT_FALSE(error.isEmpty());
}

TEST_F(FilepathFiles, RemoveAndCopyNeverFollowLinks) {
    if (onWindows()) GTEST_SKIP() << "Wine makes neither symbolic links nor junctions";
    // What the links point to lies outside every path handed over; it must stay
    // whole, byte for byte.
    writeFile(path("outside/data.txt"), "precious");
    writeFile(path("outside/deep/more.txt"), "more");
    writeFile(path("elsewhere.txt"), "other file");
    const auto outsideIntact = [&] {
        return readFile(path("outside/data.txt")) == "precious" &&
               readFile(path("outside/deep/more.txt")) == "more" &&
               readFile(path("elsewhere.txt")) == "other file";
    };
    const auto gone = [&](const QString& rel) {
        const QFileInfo info(path(rel));
        return !info.exists() && !info.isSymLink();
    };
    const QString src = path("src.bin");
    writeFile(src, "new content");

    struct LinkCase {
        QString link;    // made, then handed to remove or copyFile
        QString target;  // what it points to
        bool copy;
    };
    const std::vector<LinkCase> cases = {
        {"folder link", "outside", false},          {"dangling", "nothing here", false},
        {"tree/sub/inner", "outside", false},       {"tree/file link", "elsewhere.txt", false},
        {"copy onto folder link", "outside", true}, {"copy onto file link", "elsewhere.txt", true},
    };
    for (const LinkCase& c : cases) {
        QDir().mkpath(QFileInfo(path(c.link)).absolutePath());
        ASSERT_TRUE(QFile::link(path(c.target), path(c.link))) << c.link.toStdString();
        const QString handed = c.link.startsWith("tree/") ? path("tree") : path(c.link);
        QString error;
        EXPECT_TRUE(c.copy ? Filepath::copyFile(src, handed, error) : Filepath::remove(handed))
            << c.link.toStdString();
        EXPECT_TRUE(outsideIntact()) << c.link.toStdString();
        if (c.copy) {
            EXPECT_FALSE(QFileInfo(handed).isSymLink());
            EXPECT_EQ(readFile(handed), "new content");
        } else {
            EXPECT_TRUE(gone(c.link.startsWith("tree/") ? "tree" : c.link)) << c.link.toStdString();
        }
    }
}

TEST_F(FilepathFiles, CopyOntoTheSourceItselfRefusesAndKeepsIt) {
    // Removing the destination first would delete the only copy of the source.
    writeFile(path("dir/sub/keep.txt"), "k");
    writeFile(path("dir/report.txt"), "the only copy");
    WorkingDirGuard inScratch(path("dir"));
    QStringList spellings = {path("dir/./sub/../report.txt"), "report.txt", "./sub/../report.txt",
                             path("dir//report.txt"),
                             // A folder that holds the source.
                             path("dir")};
    if (onWindows()) {
        spellings << QDir::toNativeSeparators(path("dir/report.txt")) << path("DIR/REPORT.TXT");
    } else {
        ASSERT_TRUE(QFile::link(path("dir/report.txt"), path("link.txt")));
        ASSERT_TRUE(QFile::link(path("dir"), path("folder link")));
        spellings << path("link.txt") << path("folder link/report.txt") << path("folder link");
    }
    for (const QString& destination : spellings) {
        QString error;
        EXPECT_FALSE(Filepath::copyFile(path("dir/report.txt"), destination, error))
            << destination.toStdString();
        EXPECT_TRUE(error.isEmpty());
        EXPECT_EQ(readFile(path("dir/report.txt")), "the only copy") << destination.toStdString();
        EXPECT_EQ(readFile(path("dir/sub/keep.txt")), "k");
    }
    // The same spellings of the source, onto another file, still copy.
    QString error;
    EXPECT_TRUE(Filepath::copyFile("./sub/../report.txt", path("copy.txt"), error))
        << error.toStdString();
    EXPECT_EQ(readFile(path("copy.txt")), "the only copy");
}

TEST_F(FilepathFiles, WalkStopsOnlyTheCurrentFolder) {
    writeFile(path("a.txt"), "");
    writeFile(path("b/1.txt"), "");
    writeFile(path("b/2.txt"), "");
    writeFile(path("B2/x.txt"), "");
    writeFile(path("c.txt"), "");
    writeFile(path(".hidden"), "");
    QStringList seen;
    Filepath::walkDir(tmp.path(), [&](const QFileInfo& info) {
        seen << QDir(tmp.path()).relativeFilePath(info.absoluteFilePath());
        return info.fileName() != "1.txt";
    });
    // A leading dot hides a file on Linux (and under Wine); Windows hides by an
    // attribute alone.
    const QStringList shown =
        QFileInfo(path(".hidden")).isHidden() ? QStringList() : QStringList{".hidden"};
    EXPECT_EQ(seen, shown + QStringList({"a.txt", "b/1.txt", "B2/x.txt", "c.txt"}));

    seen.clear();
    Filepath::walkDir(path("missing"), [&](const QFileInfo&) { return true; });
    EXPECT_TRUE(seen.isEmpty());
}

TEST_F(FilepathFiles, TakesBackslashesAsSeparatorsOnWindows) {
    if (!onWindows()) GTEST_SKIP() << "a backslash is a letter of a name outside Windows";
    EXPECT_EQ(Filepath::base("C:\\app\\log\\setup.exe"), "setup.exe");
    EXPECT_EQ(Filepath::baseWithoutSuffix("C:\\app\\pkg.tar.gz"), "pkg.tar");
    EXPECT_EQ(Filepath::dir("C:\\app\\log\\a b.txt"), "C:/app/log");

    const QString folder = QDir::toNativeSeparators(path("new folder/子"));
    ASSERT_TRUE(folder.contains('\\'));
    EXPECT_TRUE(Filepath::createDir(folder + "\\deep"));
    writeFile(path("new folder/子/f.txt"), "abc");
    const QString file = folder + "\\f.txt";
    EXPECT_EQ(Filepath::join({folder, "f.txt"}), path("new folder/子/f.txt"));
    EXPECT_EQ(Filepath::dir(file), path("new folder/子"));
    long long size = 0;
    EXPECT_TRUE(Filepath::fileSize(size, file));
    EXPECT_EQ(size, 3);
    QString error;
    EXPECT_TRUE(Filepath::copyFile(file, folder + "\\copy\\g.txt", error)) << error.toStdString();
    EXPECT_EQ(readFile(path("new folder/子/copy/g.txt")), "abc");
    EXPECT_TRUE(Filepath::rename(file, folder + "\\deep\\h.txt"));
    EXPECT_EQ(readFile(path("new folder/子/deep/h.txt")), "abc");
    EXPECT_FALSE(Filepath::fileBeingUsed(folder + "\\deep\\h.txt"));
    EXPECT_TRUE(Filepath::remove(folder));
    EXPECT_FALSE(QFileInfo::exists(path("new folder/子")));
}

// --- MD5 ---

TEST_F(FilepathFiles, Md5MatchesKnownDigests) {
    const std::pair<QByteArray, QString> vectors[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& [data, digest] : vectors) {
        writeFile(path("v"), data);
        QString md5;
        ASSERT_TRUE(Filepath::fileMd5(md5, path("v")));
        EXPECT_EQ(md5, digest) << data.toStdString();
    }
}

TEST_F(FilepathFiles, Md5OfLargeFileEqualsOnePassDigest) {
    // Sizes around the chunk boundary and well past it.
    for (int size : {20479, 20480, 20481, 3 * 20480 + 17, 1 << 20}) {
        QByteArray data(size, Qt::Uninitialized);
        QRandomGenerator gen(size);
        for (char& c : data) c = static_cast<char>(gen.generate());
        writeFile(path("big blob ü"), data);
        QString md5;
        ASSERT_TRUE(Filepath::fileMd5(md5, path("big blob ü")));
        EXPECT_EQ(md5, QString::fromLatin1(
                           QCryptographicHash::hash(data, QCryptographicHash::Md5).toHex()))
            << size;
    }
}

TEST_F(FilepathFiles, Md5FailureLeavesOutputAlone) {
    QString md5 = "unchanged";
    EXPECT_FALSE(Filepath::fileMd5(md5, path("missing")));
    EXPECT_EQ(md5, "unchanged");
    EXPECT_FALSE(Filepath::fileMd5(md5, tmp.path()));
    EXPECT_EQ(md5, "unchanged");
}

TEST_F(FilepathFiles, Md5FailedReadLeavesOutputAlone) {
    if (onWindows()) GTEST_SKIP() << "/proc, whose files fail to read, exists only on Linux";
    QString md5 = "unchanged";
    // Opens fine but every read fails (EIO): a failed read is no digest at all.
    EXPECT_FALSE(Filepath::fileMd5(md5, "/proc/self/mem"));
    EXPECT_EQ(md5, "unchanged");
}

// --- in use ---

TEST_F(FilepathFiles, BeingUsedTellsRunningExecutablesAndCreatesNothing) {
    writeFile(path("plain.txt"), "x");
    EXPECT_FALSE(Filepath::fileBeingUsed(path("plain.txt")));

    EXPECT_FALSE(Filepath::fileBeingUsed(path("Pavlune Tray.exe")));
    EXPECT_FALSE(QFileInfo::exists(path("Pavlune Tray.exe")));

    EXPECT_TRUE(Filepath::fileBeingUsed(tmp.path()));
    EXPECT_TRUE(Filepath::fileBeingUsed(path("no folder/file")));
    EXPECT_FALSE(QFileInfo::exists(path("no folder")));

    // A running program's executable cannot be opened for writing.
    const QString program = path(TestSupport::programFileName("托盘 program"));
    ASSERT_TRUE(QFile::copy(FOUNDATION_CHILD, program));
    QProcess running;
    running.start(program, {"sleep", "30000"});
    ASSERT_TRUE(running.waitForStarted(5000));
    EXPECT_TRUE(Filepath::fileBeingUsed(program));
    running.kill();
    running.waitForFinished(5000);
    EXPECT_FALSE(Filepath::fileBeingUsed(program));
}

}  // namespace
