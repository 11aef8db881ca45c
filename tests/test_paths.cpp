// Path operations of the media list, the output path and the help page.

#include "app/OutputPath.h"
#include "core/Paths.h"

#include <gtest/gtest.h>

using namespace veltrano;

namespace {

TEST(FolderOfPath, KeepsTheTrailingSeparator) {
    EXPECT_EQ(FolderOfPath("/music/song.mp3"), "/music/");
    EXPECT_EQ(FolderOfPath("/a.wav"), "/");
    EXPECT_EQ(FolderOfPath("song.mp3"), "");
    EXPECT_EQ(FolderOfPath(""), "");
    EXPECT_EQ(FolderOfPath("/música/日本語/曲.flac"), "/música/日本語/");
}

TEST(FileNameOfPath, GivesNameAndExtensionAndLeavesTheNameOnEmptyPaths) {
    std::string name = "untouched";
    EXPECT_FALSE(FileNameOfPath("", name));
    EXPECT_EQ(name, "untouched");
    EXPECT_TRUE(FileNameOfPath("/music/song.mp3", name));
    EXPECT_EQ(name, "song.mp3");
    EXPECT_TRUE(FileNameOfPath("clip", name));
    EXPECT_EQ(name, "clip");
    EXPECT_TRUE(FileNameOfPath("/v/é 曲.m4a", name));
    EXPECT_EQ(name, "é 曲.m4a");
}

TEST(FileNameWithBackslash, KeepsTheSeparator) {
    EXPECT_EQ(FileNameWithBackslash("/home/u/output_new.wav"), "/output_new.wav");
    EXPECT_EQ(FileNameWithBackslash("output_new.wav"), "");
}

TEST(PathBuffer, HoldsAtMost259Bytes) {
    EXPECT_TRUE(FitsPathBuffer(std::string(259, 'a')));
    EXPECT_FALSE(FitsPathBuffer(std::string(260, 'a')));
    // Bytes count, not characters: 130 two-byte characters are 260 bytes.
    std::string wide;
    for (int i = 0; i < 130; ++i) wide += "é";
    EXPECT_FALSE(FitsPathBuffer(wide));
}

TEST(BrowseResult, ReplacesTheExtensionOfTheFileNameOnly) {
    EXPECT_EQ(WithWavExtension("/home/u/Music/song.mp3"), "/home/u/Music/song.wav");
    EXPECT_EQ(WithWavExtension("/home/u/Music/take.1.wav"), "/home/u/Music/take.1.wav");
    EXPECT_EQ(WithWavExtension("/home/u/Music/take"), "/home/u/Music/take.wav");
    EXPECT_EQ(WithWavExtension("/home/u/my.music/take"), "/home/u/my.music/take.wav");
    EXPECT_EQ(WithWavExtension("take.mp3"), "take.wav");
}

TEST(BrowseStart, IsTheFolderOfTheCurrentPath) {
    EXPECT_EQ(BrowseInitialFolder("/home/u/Music/output_new.wav"), "/home/u/Music");
    EXPECT_EQ(BrowseInitialFolder("output_new.wav"), ".");
    EXPECT_EQ(BrowseInitialFolder("/output_new.wav"), "/");
}

TEST(HelpPage, IsBesideTheProgramOrInItsInstalledDataFolder) {
    const auto none = [](const std::string&) { return false; };
    EXPECT_EQ(HelpPageUrl("/opt/v/build/veltrano", none), "file:///opt/v/build/help/Introduction.html");
    const auto installed = [](const std::string& p) { return p.find("share") != std::string::npos; };
    EXPECT_EQ(HelpPageUrl("/usr/local/bin/veltrano", installed), "file:///usr/local/share/veltrano/help/Introduction.html");
    // Spaces and non-ASCII are encoded in the URL.
    EXPECT_EQ(HelpPageUrl("/opt/my tools/é/veltrano", none), "file:///opt/my%20tools/%C3%A9/help/Introduction.html");
}

}  // namespace
