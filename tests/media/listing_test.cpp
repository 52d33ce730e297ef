// Folder listings for the handheld: groups, order, matching, shortcuts, the
// size limit, and folders that fight back.

#include "config/settings.h"
#include "media/listing.h"
#include "media/shell_link.h"
#include "support/media_files.h"
#include "support/temp_config.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

using Entries = std::vector<ListedEntry>;

class ListingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetDefaultSettings();
        folder = config.Root() + "/media";
        fs::create_directories(folder);
        // The last slot: the tests of the shared folders' own list use the first ones.
        MediaFolderEntry& root = gSettings.record.mediaFolders[kMediaFolderSlots - 1];
        root.used = 1;
        std::snprintf(root.path, sizeof root.path, "%s", config.Root().c_str());
    }

    void Touch(const std::string& name, const std::string& bytes = "x") { WriteFileBytes(folder + "/" + name, bytes); }

    int Run(const std::string& request, bool subtitleMode = false)
    {
        return ListFolder(request, listing.data(), length, subtitleMode);
    }

    Entries List(const std::string& request, bool subtitleMode = false)
    {
        EXPECT_EQ(0, Run(request, subtitleMode)) << request;
        return ParseListing(listing.data(), static_cast<size_t>(length));
    }

    Entries ListMedia(bool subtitleMode = false) { return List("/" + folder, subtitleMode); }

    TempConfig config;
    std::string folder;
    std::vector<uint8_t> listing = std::vector<uint8_t>(kListingSize);
    int32_t length = -1;
};

void Share(int slot, const std::string& path)
{
    MediaFolderEntry& entry = gSettings.record.mediaFolders[slot];
    entry.used = 1;
    std::snprintf(entry.path, sizeof entry.path, "%s", path.c_str());
}

TEST_F(ListingTest, FolderListsParentAndSubfoldersThenMatchingFiles)
{
    for (const char* name : {"b.MKV", "A.avi", "notes.txt"})
        Touch(name);
    fs::create_directory(folder + "/x");
    const char expected[] = "..\0d" "x\0d" "A.avi\0f" "b.MKV\0f";
    ASSERT_EQ(0, Run("/" + folder));
    ASSERT_EQ(static_cast<int32_t>(sizeof expected), length);
    EXPECT_EQ(0, std::memcmp(expected, listing.data(), sizeof expected));

    // Without a single matching file the folders are still there.
    fs::remove(folder + "/A.avi");
    fs::remove(folder + "/b.MKV");
    EXPECT_EQ((Entries{{'d', ".."}, {'d', "x"}}), ListMedia());
}

TEST_F(ListingTest, OneSlashListsSharedFoldersAndNoSlashFails)
{
    gSettings.record.mediaFolders[kMediaFolderSlots - 1].used = 0;
    Share(0, "/srv/zeta");
    Share(3, "/home/alpha videos");
    gSettings.record.mediaFolders[1].used = 0;
    std::snprintf(gSettings.record.mediaFolders[1].path, 256, "/unused");
    const Entries shared = {{'d', "/srv/zeta"}, {'d', "/home/alpha videos"}};
    EXPECT_EQ(shared, List("/"));
    EXPECT_EQ(shared, List("a/b"));
    for (const char* request : {"", "no slash at all"}) {
        length = 99;
        EXPECT_EQ(-1, Run(request)) << request;
        EXPECT_EQ(0, length);
    }
    EXPECT_EQ(-1, Run("//no/such/folder"));
    EXPECT_EQ(0, length);

    // A slot read from a damaged file may lack its terminator.
    std::memset(gSettings.record.mediaFolders[3].path, 'p', sizeof gSettings.record.mediaFolders[3].path);
    EXPECT_EQ(std::string(256, 'p'), List("/").back().name);
}

TEST_F(ListingTest, NamesSortFromTheirFirstLetterIgnoringCase)
{
    for (const char* name : {"b.mp3", "01 Intro.mp3", "zed.mp3", "A.mp3", "2024.mp3", "ab.mp3"})
        Touch(name);
    for (const char* name : {"show 2", "Show", "10", "sh"})
        fs::create_directory(folder + "/" + name);
    // "2024.mp3" has its first letter in the extension.
    const Entries expected = {{'d', ".."},          {'d', "10"},       {'d', "sh"},    {'d', "Show"},
                              {'d', "show 2"},      {'f', "A.mp3"},    {'f', "ab.mp3"}, {'f', "b.mp3"},
                              {'f', "01 Intro.mp3"}, {'f', "2024.mp3"}, {'f', "zed.mp3"}};
    EXPECT_EQ(expected, ListMedia());
}

TEST_F(ListingTest, ExtensionsMatchTheStartOfAListedOne)
{
    for (const char* name : {"a.mp", "b.m", "c.mp34", ".avi", "noext", "e.AVI", "f.srt", "g.tar.gz", "h.t", "s.SR"})
        Touch(name);
    fs::create_directory(folder + "/sub.avi");
    EXPECT_EQ((Entries{{'d', ".."}, {'d', "sub.avi"}, {'f', "a.mp"}, {'f', "b.m"}, {'f', "e.AVI"}, {'f', "h.t"}}),
              ListMedia());
    EXPECT_EQ((Entries{{'d', ".."}, {'d', "sub.avi"}, {'f', "f.srt"}, {'f', "s.SR"}}), ListMedia(true));
}

TEST_F(ListingTest, ShortcutsListTheFullPathOfWhatTheyLeadTo)
{
    fs::create_directories(config.Root() + "/targets");
    const std::string targets = fs::canonical(config.Root() + "/targets").string();
    for (const char* name : {"alpha", "beta"})
        fs::create_directory(targets + "/" + name);
    for (const char* name : {"movie.avi", "movie2.mkv", "notes.txt", "talk.srt"})
        WriteFileBytes(targets + "/" + name, "x");
    fs::create_directory_symlink(targets + "/alpha", folder + "/dirlink");
    fs::create_symlink(targets + "/movie.avi", folder + "/filelink");
    fs::create_symlink(targets + "/notes.txt", folder + "/txtlink");
    fs::create_symlink(targets + "/talk.srt", folder + "/sublink");
    Touch("Movie.lnk", ShellLinkBytes(targets + "/", "movie2.mkv"));
    Touch("Folder.LNK", ShellLinkBytes(targets + "/beta"));
    Touch("elsewhere.Lnk", ShellLinkBytes("C:\\Videos\\a.avi"));
    Touch("garbage.lnk", "not a shell link at all");
    Touch("gone.lnk", ShellLinkBytes(targets + "/deleted.avi"));
    fs::create_symlink(folder + "/nothing.avi", folder + "/dangling.avi");
    fs::create_symlink(folder + "/loop2.avi", folder + "/loop1.avi");
    fs::create_symlink(folder + "/loop1.avi", folder + "/loop2.avi");
    fs::create_symlink(folder + "/self", folder + "/self");
    fs::create_directory(folder + "/sub");
    Touch("clip.avi");

    const Entries expected = {{'d', ".."},
                              {'d', "sub"},
                              {'l', targets + "/alpha"},
                              {'l', targets + "/beta"},
                              {'v', targets + "/movie.avi"},
                              {'v', targets + "/movie2.mkv"},
                              {'f', "clip.avi"}};
    EXPECT_EQ(expected, ListMedia());
    EXPECT_EQ((Entries{{'d', ".."}, {'d', "sub"}, {'l', targets + "/alpha"}, {'l', targets + "/beta"},
                       {'v', targets + "/talk.srt"}}),
              ListMedia(true));

    std::string target;
    EXPECT_EQ(1, ResolveShortcut(folder, "Movie.lnk", target));
    EXPECT_EQ(targets + "/movie2.mkv", target);
    EXPECT_EQ(1, ResolveShortcut(folder + "/", "loop1.avi", target));
    EXPECT_EQ("", target);
    EXPECT_EQ(0, ResolveShortcut(folder, "clip.avi", target));
    EXPECT_EQ("clip.avi", target);
}

TEST_F(ListingTest, ShellLinkReaderRefusesDamagedBytes)
{
    const std::string good = ShellLinkBytes("/videos/", "show.avi");
    std::string target;
    auto parse = [&target](const std::string& bytes) {
        return ParseShellLink(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), target);
    };
    ASSERT_EQ(0, parse(good));
    EXPECT_EQ("/videos/show.avi", target);

    // Every cut before the end of the link information loses the link.
    const size_t infoEnd = good.size() - 4;
    for (size_t cut = 0; cut < infoEnd; ++cut)
        EXPECT_EQ(-1, parse(good.substr(0, cut))) << cut;
    EXPECT_EQ("", target);

    auto patched = [&good](size_t offset, char value) {
        std::string bytes = good;
        bytes[offset] = value;
        return bytes;
    };
    const size_t info = 0x4C + 4;
    EXPECT_EQ(-1, parse(patched(0, 0x4D)));            // header size
    EXPECT_EQ(-1, parse(patched(5, 0x15)));            // class id
    EXPECT_EQ(-1, parse(patched(20, 0x01)));           // no link information
    EXPECT_EQ(-1, parse(patched(0x4C, '\x7F')));       // item list runs past the end
    EXPECT_EQ(-1, parse(patched(info + 8, 0x00)));     // no local base path
    EXPECT_EQ(-1, parse(patched(info + 16, '\x70')));  // base path offset past the block
    EXPECT_EQ(-1, parse(patched(info, 0x30)));         // block too small for its base path
    EXPECT_EQ(-1, parse(patched(info + 3, 0x7F)));     // block larger than the file
    EXPECT_EQ(-1, parse(ShellLinkBytes("")));
}

TEST_F(ListingTest, ListingIsCutListByListBeforeAnEntryThatWouldPassTheLimit)
{
    // ".." takes 4 bytes and every 250-character name 252; an entry fits
    // while the length so far + its name + 3 stays within 128,000.
    const int fitting = 507;
    for (int i = 0; i < fitting; ++i) {
        char prefix[16];
        std::snprintf(prefix, sizeof prefix, "a%04d", i);
        fs::create_directory(folder + "/" + prefix + std::string(250 - 5, 'n'));
    }
    const size_t used = 4 + fitting * 252;
    const size_t room = kListingSize - used - 3;
    const std::string last = folder + "/z" + std::string(room - 1, 'n');
    fs::create_directory(last);
    Touch("f.avi");
    Entries entries = ListMedia();
    EXPECT_EQ(static_cast<int32_t>(kListingSize), length);
    ASSERT_EQ(size_t{1 + fitting + 1}, entries.size());
    EXPECT_EQ((ListedEntry{'d', last.substr(folder.size() + 1)}), entries.back());

    // One byte more and the folder list ends before it; the short file
    // still fits after it.
    fs::rename(last, last + "n");
    entries = ListMedia();
    EXPECT_EQ(static_cast<int32_t>(used + 7 + 1), length);
    ASSERT_EQ(size_t{1 + fitting + 1}, entries.size());
    EXPECT_EQ((ListedEntry{'f', "f.avi"}), entries.back());
    EXPECT_EQ('a', entries[entries.size() - 2].name[0]);
}

// Folder permissions bind everyone but root, and tests may run as root: the
// listing then runs in a child process that has given up root.
int ListWithoutPrivileges(const std::string& request)
{
    std::vector<uint8_t> listing(kListingSize);
    int32_t length = 0;
    if (::geteuid() != 0)
        return ListFolder(request, listing.data(), length, false) == 0 ? 0 : 1;
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(2);
        ::_exit(ListFolder(request, listing.data(), length, false) == 0 ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 3;
}

TEST_F(ListingTest, FolderWithoutPermissionFails)
{
    fs::permissions(config.Root(), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    fs::permissions(folder, fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
    const std::string closed = folder + "/closed";
    fs::create_directory(closed);
    fs::permissions(closed, ::geteuid() == 0 ? fs::perms::owner_all : fs::perms::none);
    EXPECT_EQ(0, ListWithoutPrivileges("/" + folder));
    EXPECT_EQ(1, ListWithoutPrivileges("/" + closed));
    // It is still listed as a folder of its parent.
    EXPECT_EQ((Entries{{'d', ".."}, {'d', "closed"}}), ListMedia());
    fs::permissions(closed, fs::perms::owner_all);
}

TEST_F(ListingTest, OddNamesLoopsAndVanishingEntries)
{
    Touch("bad\xff name.avi");
    Touch("caf\xc3\xa9.avi");
    Touch("over\xc0\xaflong.avi");
    const std::string latin = folder + "/sub\xe9";
    fs::create_directory(latin);
    WriteFileBytes(latin + "/inside.mp3", "x");
    EXPECT_EQ((Entries{{'d', ".."}, {'f', "caf\xc3\xa9.avi"}}), ListMedia());
    // The handheld may still name such a folder byte for byte.
    EXPECT_EQ((Entries{{'d', ".."}, {'f', "inside.mp3"}}), List("/" + latin));

    fs::create_directory_symlink(folder, folder + "/again");
    fs::create_symlink(folder + "/self", folder + "/self");
    EXPECT_EQ(-1, Run("/" + folder + "/self/x"));
    EXPECT_EQ(0, Run("/" + folder + "/again/again/again"));

    std::atomic<bool> stop{false};
    std::thread churn([this, &stop] {
        for (int i = 0; !stop; i = (i + 1) % 50) {
            const std::string path = folder + "/churn" + std::to_string(i) + ".avi";
            WriteFileBytes(path, "x");
            fs::create_directory(path + ".d");
            std::error_code ignored;
            fs::remove(path, ignored);
            fs::remove(path + ".d", ignored);
        }
    });
    for (int pass = 0; pass < 200; ++pass) {
        const Entries entries = ListMedia();
        ASSERT_FALSE(entries.empty());
        EXPECT_EQ((ListedEntry{'d', ".."}), entries.front());
        for (const ListedEntry& entry : entries)
            ASSERT_NE('!', entry.type) << entry.name;
    }
    stop = true;
    churn.join();
}

} // namespace
