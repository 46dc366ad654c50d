#include "job/Folders.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <pwd.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

using namespace tarnwick;

namespace {

class Folders : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }
    std::string Home() const { return dir_.path().toStdString(); }
    void WriteUserDirs(const std::string& text) {
        std::filesystem::create_directories(Home() + "/.config");
        std::ofstream(Home() + "/.config/user-dirs.dirs") << text;
    }
    QTemporaryDir dir_;
};

}  // namespace

TEST(DirectoryOf, TakesEverythingBeforeTheLastSlash) {
    EXPECT_EQ(DirectoryOf("/usr/bin/tarnwick"), "/usr/bin");
    EXPECT_EQ(DirectoryOf("/opt/My Programs/tarnwick"), "/opt/My Programs");
    EXPECT_EQ(DirectoryOf("/tarnwick"), "/");
    EXPECT_EQ(DirectoryOf("tarnwick"), ".");
}

TEST_F(Folders, WorkDirectoryIsTheProgramsFolderWhenWritable) {
    EXPECT_EQ(WorkDirectoryFor({"/nonexistent-home", Home() + "/tarnwick"}), Home());
}

TEST_F(Folders, WorkDirectoryFallsBackToTheCacheFolderWhenTheProgramsFolderIsNotWritable) {
    const std::string expected = Home() + "/.cache/tarnwick";
    EXPECT_EQ(WorkDirectoryFor({Home(), "/nonexistent-folder/tarnwick"}), expected);
    EXPECT_TRUE(std::filesystem::is_directory(expected)) << "created on demand";
    EXPECT_EQ(WorkDirectoryFor({Home(), ""}), expected) << "no program file known";
}

TEST_F(Folders, DefaultSaveDirectoryIsBelowHome) {
    EXPECT_EQ(DefaultSaveDirectory("/home/ann"), "/home/ann/My Web Videos");
    EXPECT_EQ(DefaultSaveDirectory("/"), "/My Web Videos");
}

TEST_F(Folders, DesktopIsTheHomeFolderWhenThereIsNone) { EXPECT_EQ(DesktopDirectory(Home()), Home()); }

TEST_F(Folders, DesktopIsHomeDesktopWhenItExists) {
    ASSERT_TRUE(CreateDirectories(Home() + "/Desktop"));
    EXPECT_EQ(DesktopDirectory(Home()), Home() + "/Desktop");
}

TEST_F(Folders, DesktopNamedInUserDirsWins) {
    ASSERT_TRUE(CreateDirectories(Home() + "/Desktop"));
    ASSERT_TRUE(CreateDirectories(Home() + "/Schreibtisch"));
    WriteUserDirs("# written by xdg-user-dirs-update\nXDG_DOWNLOAD_DIR=\"$HOME/Downloads\"\n"
                  "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch/\"\n");
    EXPECT_EQ(DesktopDirectory(Home()), Home() + "/Schreibtisch");

    WriteUserDirs("XDG_DESKTOP_DIR=\"" + Home() + "/Schreibtisch\"\n");
    EXPECT_EQ(DesktopDirectory(Home()), Home() + "/Schreibtisch") << "an absolute path";
}

TEST_F(Folders, DesktopNamedInUserDirsIsSkippedWhenMissingOrMalformed) {
    ASSERT_TRUE(CreateDirectories(Home() + "/Desktop"));
    WriteUserDirs("XDG_DESKTOP_DIR=\"$HOME/Gone\"\n");
    EXPECT_EQ(DesktopDirectory(Home()), Home() + "/Desktop");
    WriteUserDirs("XDG_DESKTOP_DIR=\"relative/path\"\nXDG_DESKTOP_DIR=\"$HOME/Unclosed\n");
    EXPECT_EQ(DesktopDirectory(Home()), Home() + "/Desktop");
}

TEST_F(Folders, CreateDirectoriesMakesEveryMissingParent) {
    const std::string deep = Home() + "/a/b c/d";
    EXPECT_TRUE(CreateDirectories(deep));
    EXPECT_TRUE(std::filesystem::is_directory(deep));
    EXPECT_TRUE(CreateDirectories(deep)) << "an existing folder is fine";
}

TEST_F(Folders, CreateDirectoriesReportsFailureWithoutThrowing) {
    std::ofstream(Home() + "/file") << "x";
    EXPECT_FALSE(CreateDirectories(Home() + "/file/below"));
    EXPECT_FALSE(CreateDirectories(""));
}

TEST(StartPlaces, ComeFromThePasswordDatabaseAndTheRunningProgram) {
    const TStartPlaces places = CurrentStartPlaces();
    const passwd* entry = getpwuid(getuid());
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(places.homeDirectory, entry->pw_dir);
    EXPECT_EQ(std::filesystem::path(places.programFile).filename(), "app_tests");
    EXPECT_TRUE(std::filesystem::equivalent(places.programFile, "/proc/self/exe"));
}
