#include "job/files/Folders.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>

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

// The home, cache and settings folders follow the environment as desktop programs read it; a
// variable that is unset, empty or relative gives way to the password database or the home folder.
TEST_F(Folders, StartPlacesFollowTheEnvironmentAndTheRunningProgram) {
    const passwd* entry = getpwuid(getuid());
    ASSERT_NE(entry, nullptr);
    const std::string account = entry->pw_dir;
    const std::string home = Home() + "/x", homeSlash = home + "/";
    struct Row {
        const char* name;
        const char* home;  // nullptr: unset
        const char* cacheHome;
        const char* configHome;
        std::string expectedHome, expectedCache, expectedConfig;
    };
    const Row rows[] = {
        {"nothing set", nullptr, nullptr, nullptr, account, account + "/.cache", account + "/.config"},
        {"HOME", home.c_str(), nullptr, nullptr, home, home + "/.cache", home + "/.config"},
        {"HOME with a slash at its end", homeSlash.c_str(), "", "", home, home + "/.cache", home + "/.config"},
        {"relative HOME", "x", nullptr, nullptr, account, account + "/.cache", account + "/.config"},
        {"the XDG folders", home.c_str(), "/var/tmp/c", "/var/tmp/s", home, "/var/tmp/c", "/var/tmp/s"},
        {"relative XDG folders", home.c_str(), "c", "s", home, home + "/.cache", home + "/.config"},
    };
    const auto saved = [](const char* name) -> std::optional<std::string> {
        const char* value = std::getenv(name);
        return value ? std::optional<std::string>(value) : std::nullopt;
    };
    const std::optional<std::string> before[] = {saved("HOME"), saved("XDG_CACHE_HOME"),
                                                 saved("XDG_CONFIG_HOME")};
    const auto set = [](const char* name, const char* value) {
        if (value) ::setenv(name, value, 1); else ::unsetenv(name);
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        set("HOME", row.home);
        set("XDG_CACHE_HOME", row.cacheHome);
        set("XDG_CONFIG_HOME", row.configHome);
        const TStartPlaces places = CurrentStartPlaces();
        EXPECT_EQ(places.homeDirectory, row.expectedHome);
        EXPECT_EQ(places.cacheDirectory, row.expectedCache);
        EXPECT_EQ(places.configDirectory, row.expectedConfig);
        EXPECT_EQ(DefaultSaveDirectory(places.homeDirectory), row.expectedHome + "/My Web Videos");
        EXPECT_EQ(WorkDirectoryFor({places.homeDirectory, "/nonexistent-folder/tarnwick",
                                    Home() + "/cache", places.configDirectory}),
                  Home() + "/cache/tarnwick");
        EXPECT_EQ(std::filesystem::path(places.programFile).filename(), "app_tests");
        EXPECT_TRUE(std::filesystem::equivalent(places.programFile, "/proc/self/exe"));
    }
    const char* const names[] = {"HOME", "XDG_CACHE_HOME", "XDG_CONFIG_HOME"};
    for (int i = 0; i < 3; ++i) set(names[i], before[i] ? before[i]->c_str() : nullptr);

    // The desktop folder named in the settings folder's user-dirs.dirs, "$HOME" read as that home.
    ASSERT_TRUE(CreateDirectories(home + "/Bureau"));
    ASSERT_TRUE(CreateDirectories(Home() + "/settings"));
    std::ofstream(Home() + "/settings/user-dirs.dirs") << "XDG_DESKTOP_DIR=\"$HOME/Bureau\"\n";
    EXPECT_EQ(DesktopDirectory(home, Home() + "/settings"), home + "/Bureau");
    EXPECT_EQ(DesktopDirectory(home), home) << "none in <home>/.config";
}
