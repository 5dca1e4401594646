#include <fstream>
#include <filesystem>
#include <cerrno>
#include <cstring>
#include <utility>
#include <gtest/gtest.h>

#include "cache/CacheLayout.h"
#include "common/FileSystem.h"
#include "common/ModulePath.h"
#include "tests/support/LocaleScope.h"
#include "tests/support/TempDir.h"

namespace {

class CacheLayoutTest : public ::testing::Test {
protected:
    void SetUp() override { m_layout.SetupPaths(m_dir / "quorvel-client"); }

    std::string PathOf(const std::string& type, const std::string& module, const std::string& url)
    {
        ResourceItem item;
        item.type = type;
        item.module = module;
        item.url = url;
        std::string path;
        return m_layout.GetCachePath(item, path) ? path : "<refused>";
    }

    void Touch(const std::string& path, size_t size)
    {
        std::ofstream(path, std::ios::binary) << std::string(size, 'x');
    }

    TempDir m_dir;
    CCacheLayout m_layout;
};

TEST_F(CacheLayoutTest, PlacesResourcesByTypeModuleAndDecodedName)
{
    EXPECT_EQ(m_layout.ExeDir(), m_dir.Path());
    EXPECT_EQ(m_layout.AssetsDir(), m_dir / "assets");
    EXPECT_EQ(PathOf("video", "", "http://h/a/intro%20clip.mp4"), m_dir / "assets/video/intro clip.mp4");
    EXPECT_EQ(PathOf("video", "m1", "http://h/a/intro%20clip.mp4"), m_dir / "assets/video/m1/intro clip.mp4");
    EXPECT_EQ(PathOf("doc", "", "http://h/list?x=1/b+c.pdf"), m_dir / "assets/doc/b c.pdf");
    EXPECT_EQ(PathOf("doc", "", "http://h/dir/"), m_dir / "assets/doc/");
    EXPECT_TRUE(FileExists(m_dir / "assets/video/m1")) << "directories made on the way";
}

TEST_F(CacheLayoutTest, DecodesChineseNamesToTheLocalCodePage)
{
    std::string path;
    {
        USE_LOCALE(gbk, TestLocale::Gbk);
        path = PathOf("video", "", "http://h/%E4%BC%9A%E8%AE%AE.mp4");
    }
    EXPECT_EQ(path, m_dir / "assets/video/\xBB\xE1\xD2\xE9.mp4");
}

// Type and module become directory names in the local code page, like the
// file name: on Windows raw UTF-8 read as code page 936 garbles them, and a
// lead byte can swallow the separator after it.
TEST_F(CacheLayoutTest, AChineseModuleIsADirectoryInTheLocalCodePage)
{
    std::string path;
    {
        USE_LOCALE(gbk, TestLocale::Gbk);
        path = PathOf("视频", "开场", "http://h/f.mp4");
    }
    EXPECT_EQ(path, m_dir / "assets/\xCA\xD3\xC6\xB5/\xBF\xAA\xB3\xA1/f.mp4");
}

// A signed URL's query is part of the last segment: on Windows its '?' and
// ':' cannot be in a file name, so the name takes '_' there.
TEST_F(CacheLayoutTest, AUrlWithAQueryGivesAFileThatCanBeMade)
{
    std::string path = PathOf("doc", "", "http://h/f.bin?sig=a:b");
    std::string name = path.substr((m_dir / "assets/doc/").size());
    EXPECT_TRUE(name == "f.bin?sig=a:b" || name == "f.bin_sig=a_b") << name;  // POSIX as is; Windows '_'

    fsys::Handle file = fsys::Open(path, fsys::Mode::Fresh);
    EXPECT_NE(file, fsys::kNoFile) << path;
    if (file != fsys::kNoFile)
        fsys::Close(file);
}

TEST_F(CacheLayoutTest, RefusesNamesThatLeadOutOfTheCache)
{
    for (const char* url : {"http://h/..", "http://h/.", "http://h/%2E%2E", "http://h/a%2Fb", "http://h/a%00b",
                            "http://h/..%2F..%2Fetc", "http://h/..%5C..%5Cx.bin"})
        EXPECT_EQ(PathOf("video", "", url), "<refused>") << url;
    EXPECT_EQ(PathOf("/etc", "", "http://h/f"), "<refused>");
    EXPECT_EQ(PathOf("video", "../../x", "http://h/f"), "<refused>");
    EXPECT_EQ(PathOf("a/../..", "", "http://h/f"), "<refused>");
    EXPECT_EQ(PathOf("video", "/m", "http://h/f"), "<refused>");
    // Windows takes a backslash as a separator.
    EXPECT_EQ(PathOf("video", "..\\..\\x", "http://h/f"), "<refused>");
    EXPECT_EQ(PathOf("a\\..\\..", "", "http://h/f"), "<refused>");
    EXPECT_EQ(PathOf("video/hd", "..x", "http://h/f"), m_dir / "assets/video/hd/..x/f");
    EXPECT_FALSE(FileExists(m_dir / "x"));
}

// What a resource list may bring, over plain http, from anyone on the
// venue's network: every name comes out as a file inside the cache that the
// walk finds again. Windows checks: characters outside the PC's code page
// (this runs under 1252, 950 and 936), fullwidth dots and backslashes that a
// best-fit conversion would turn into "..\\", its name rules at every level,
// and a path past 260 characters.
TEST_F(CacheLayoutTest, EveryNameComesOutAsAFileInsideTheCacheThatTheWalkFinds)
{
    USE_LOCALE(utf8, TestLocale::Utf8);
    const std::string fullwidthUp = "\xEF\xBC\x8E\xEF\xBC\x8E\xEF\xBC\xBC";  // "．．＼"
    const std::string rows[][3] = {
        {"\xED\x95\x9C\xEA\xB8\x80", "\xC3\xA4\xC2\xAE\xE2\x80\xA2", "http://h/%F0%9F%98%80%E2%80%A2.bin"},
        {"\xE8\xA7\x86\xE9\xA2\x91", "\xE8\xAA\xA0", "http://h/Pr%C3%A4sentation%20%E4%BC%9A%E8%AE%AE.pdf"},
        {"doc", "", "http://h/%EF%BC%8E%EF%BC%8E%EF%BC%BC%EF%BC%8E%EF%BC%8E%EF%BC%BCescaped.bin"},
        {"\xEF\xBC\x8E\xEF\xBC\x8E", "", "http://h/up.bin"},
        {"doc", fullwidthUp + "\xEF\xBC\x8E\xEF\xBC\x8E", "http://h/up2.bin"},
        {"video.", "CON", "http://h/nul.mp4"},
        {"video ", "com1 .x. ", "http://h/x.mp4.%20"},
        {"a<b>", "c:d|e*", "http://h/%22q%22.bin"},
        {std::string(100, 't'), std::string(100, 'm'), "http://h/" + std::string(80, 'f') + ".bin"},
    };
    std::vector<std::string> paths;
    for (const auto& [type, module, url] : rows) {
        paths.push_back(PathOf(type, module, url));
        const std::string& path = paths.back();
        fsys::Handle file = fsys::Open(path, fsys::Mode::Fresh);
        EXPECT_NE(file, fsys::kNoFile) << path << ": " << std::strerror(errno);
        EXPECT_TRUE(file != fsys::kNoFile && fsys::WriteAt(file, "abc", 3, 0) && fsys::Close(file));
    }
    EXPECT_EQ(fsys::List(m_dir.Path()), std::vector<std::string>{"assets"}) << "nothing beside the cache";
    m_layout.ScanCache();
    EXPECT_EQ(m_layout.CachedFiles().size(), paths.size());
    for (const std::string& path : paths) {
        EXPECT_TRUE(m_layout.IsCached(path, 3)) << path;
        EXPECT_EQ(ReadWholeFile(path), "abc") << path;
    }
    fsys::Remove(paths.back());  // longer than the test's clean-up takes
}

// NTFS ignores case: a row of "video" finds the file an earlier list put
// under "Video" instead of fetching it again over it.
TEST_F(CacheLayoutTest, TheWalkFindsAFileWhoseLevelsDifferInCaseWhereTheSystemIgnoresIt)
{
    ASSERT_TRUE(CCacheLayout::MakeDirs(m_dir / "assets/Video/"));
    Touch(m_dir / "assets/Video/X.mp4", 3);
    m_layout.ScanCache();
    std::string path = PathOf("video", "", "http://h/x.mp4");
    EXPECT_EQ(m_layout.IsCached(path, 3), fsys::Stat(path).exists) << path;
}

// Names that another program put into the cache are asked for as they
// are: Windows must neither drop a trailing space nor take "COM1" for a
// serial port.
TEST_F(CacheLayoutTest, TheWalkAsksForEachNameAsItIsOnTheDisk)
{
    ASSERT_TRUE(CCacheLayout::MakeDirs(m_dir / "assets/doc/"));
    for (const char* name : {"a.mp4 ", "COM1"}) {
        fsys::Handle file = fsys::Open(m_dir / "assets/doc/" + name, fsys::Mode::Fresh);
        ASSERT_NE(file, fsys::kNoFile) << name;
        EXPECT_TRUE(fsys::WriteAt(file, "abc", 3, 0) && fsys::Close(file));
    }
    m_layout.ScanCache();
    ASSERT_EQ(m_layout.CachedFiles().size(), 2u);
    for (const CachedFile& file : m_layout.CachedFiles())
        EXPECT_EQ(file.size, 3) << file.path;
    EXPECT_TRUE(m_layout.IsCached(m_dir / "assets/doc/a.mp4 ", 3));
    for (const std::string& name : fsys::List(m_dir / "assets/doc"))
        fsys::Remove(m_dir / "assets/doc/" + name);  // names the test's clean-up cannot take
}

// The program finds its own directory (where assets/ and the web server
// lie), also under a folder whose name holds 誠, whose GBK code ends in the
// byte of '\' (a ctest case runs it from such a folder on Windows).
TEST_F(CacheLayoutTest, TheProgramsOwnPathNamesItsDirectory)
{
    std::string program = GetModuleFileNameA();
    EXPECT_TRUE(fsys::Stat(program).regular) << program;
    EXPECT_TRUE(fsys::Stat(GetModuleDirectory()).directory) << GetModuleDirectory();
}

// Two paths have one file key exactly when the system takes them for one
// file: names that differ only in case on Windows, never on Linux.
TEST_F(CacheLayoutTest, FileKeysAgreeWithTheSystemOnCase)
{
    std::string upper = m_dir / "Intro.MP4", lower = m_dir / "intro.mp4";
    Touch(upper, 1);
    EXPECT_EQ(fsys::FileKey(upper) == fsys::FileKey(lower), fsys::Stat(lower).exists);
    EXPECT_NE(fsys::FileKey(upper), fsys::FileKey(m_dir / "intro.mp3"));
}

TEST_F(CacheLayoutTest, MakeDirsCreatesOnlyMissingLevels)
{
    ASSERT_TRUE(CCacheLayout::MakeDirs(m_dir / "a/b/c/"));
    Touch(m_dir / "a/b/keep", 3);
    ASSERT_TRUE(CCacheLayout::MakeDirs(m_dir / "a/b/c/d/"));
    EXPECT_EQ(ReadWholeFile(m_dir / "a/b/keep"), "xxx");
    EXPECT_TRUE(FileExists(m_dir / "a/b/c/d"));
    EXPECT_FALSE(FileExists(m_dir / "a/b/c/d/e"));
    Touch(m_dir / "file", 1);
    EXPECT_FALSE(CCacheLayout::MakeDirs(m_dir / "file/sub/"));
}

TEST_F(CacheLayoutTest, TheWalkListsEveryFileWithItsSize)
{
    m_layout.ScanCache();
    EXPECT_TRUE(m_layout.CachedFiles().empty()) << "no cache root yet";
    std::string a = PathOf("video", "m1", "http://h/a.mp4");
    std::string b = PathOf("doc", "", "http://h/b.pdf");
    Touch(a, 10);
    Touch(b, 0);
    m_layout.ScanCache();
    ASSERT_EQ(m_layout.CachedFiles().size(), 2u);
    for (const CachedFile& file : m_layout.CachedFiles())
        EXPECT_EQ(file.size, file.path == a ? 10 : 0);
    char cwd[4096];
    ASSERT_TRUE(getcwd(cwd, sizeof cwd));
    EXPECT_NE(std::string(cwd), m_dir / "assets") << "the walk leaves the current directory alone";
}

TEST_F(CacheLayoutTest, PresenceFollowsTheThreeRules)
{
    std::string full = PathOf("video", "", "http://h/full.mp4");
    std::string empty = PathOf("video", "", "http://h/empty.mp4");
    Touch(full, 10);
    Touch(empty, 0);
    m_layout.ScanCache();
    EXPECT_TRUE(m_layout.IsCached(full, 10));
    EXPECT_TRUE(m_layout.IsCached(full, 99)) << "any non-empty file counts";
    EXPECT_TRUE(m_layout.IsCached(empty, 0));
    EXPECT_FALSE(m_layout.IsCached(empty, 5));
    EXPECT_FALSE(m_layout.IsCached(m_dir / "assets/video/absent.mp4", 0));
}

TEST_F(CacheLayoutTest, AnEmptyTypeOrModuleStillMatchesTheWalk)
{
    std::string path = PathOf("", "", "http://h/f.bin");
    EXPECT_EQ(path, m_dir / "assets/f.bin");
    Touch(path, 4);
    m_layout.ScanCache();
    EXPECT_TRUE(m_layout.IsCached(path, 4));
}

TEST_F(CacheLayoutTest, TypesAndModulesWithSlashesAndDotLevelsMatchTheWalk)
{
    std::string plain = PathOf("video", "m1", "http://h/f.bin");
    for (auto [type, module] : {std::pair{"video/", "m1"}, {"./video", "m1/."}, {"video//", "./m1/"}})
        EXPECT_EQ(PathOf(type, module, "http://h/f.bin"), plain) << type << " " << module;
    Touch(plain, 4);
    m_layout.ScanCache();
    EXPECT_TRUE(m_layout.IsCached(PathOf("video/", "m1/.", "http://h/f.bin"), 4));
}

// Operators move assets/video to a bigger disk and link it back.
TEST_F(CacheLayoutTest, TheWalkFollowsLinksAndEndsOnALoop)
{
    TempDir elsewhere;
    std::filesystem::create_directories(elsewhere / "video/m1");
    Touch(elsewhere / "video/m1/f.bin", 4);
    Touch(elsewhere / "poster.png", 7);
    std::filesystem::create_directories(m_dir / "assets/image");
    std::error_code error;
    std::filesystem::create_directory_symlink(elsewhere / "video", m_dir / "assets/video", error);
    if (error == std::errc::function_not_supported || error == std::errc::operation_not_permitted)
        GTEST_SKIP() << "no symbolic links here: " << error.message();
    std::filesystem::create_symlink(elsewhere / "poster.png", m_dir / "assets/image/poster.png");
    std::filesystem::create_directory_symlink(m_dir / "assets", m_dir / "assets/video/m1/loop");
    m_layout.ScanCache();
    EXPECT_TRUE(m_layout.IsCached(m_dir / "assets/video/m1/f.bin", 4));
    EXPECT_TRUE(m_layout.IsCached(m_dir / "assets/image/poster.png", 7));
    EXPECT_EQ(m_layout.CachedFiles().size(), 2u);
}

// The engine's ".tmp!" and ".info.new" must fit the file system's limit.
TEST_F(CacheLayoutTest, ANameTooLongForItsResumeFilesIsRefused)
{
    EXPECT_EQ(PathOf("doc", "", "http://h/" + std::string(250, 'n')), "<refused>");
    std::string longest(255 - std::strlen(".info.new"), 'n');
    EXPECT_EQ(PathOf("doc", "", "http://h/" + longest), m_dir / ("assets/doc/" + longest));
}

}  // namespace
