#include "ftp/server/resolve_path.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>

#include "app/beneath_root_file_system.h"
#include "support/temp_dir.h"

namespace hx::ftpd {
namespace {

const std::string kRoot = "/srv/ftp/";

// The file system of the cases: the root with a directory sub (holding deeper and f.txt) and a file a.txt.
PathKind FakeProbe(const std::string& path) {
  static const std::map<std::string, PathKind> kFiles = {
      {"/srv/ftp", PathKind::Directory},
      {"/srv/ftp/", PathKind::Directory},
      {"/srv/ftp/sub", PathKind::Directory},
      {"/srv/ftp/sub/", PathKind::Directory},
      {"/srv/ftp/sub/deeper", PathKind::Directory},
      {"/srv/ftp/sub/deeper/", PathKind::Directory},
      {"/srv/ftp/sub/f.txt", PathKind::File},
      {"/srv/ftp/a.txt", PathKind::File},
      {"/srv/ftpx", PathKind::Directory},
      {"/srv", PathKind::Directory},
  };
  auto it = kFiles.find(path);
  return it == kFiles.end() ? PathKind::Missing : it->second;
}

struct Case {
  std::string path;
  std::string current;
  PathMode mode;
  bool ok;
  std::string result;
};

void Check(const Case& c) {
  std::string path = c.path;
  bool ok = ResolvePath(path, c.mode, kRoot, c.current, FakeProbe);
  EXPECT_EQ(ok, c.ok) << '"' << c.path << "\" from " << c.current << " mode " << static_cast<int>(c.mode);
  EXPECT_EQ(path, c.result) << '"' << c.path << "\" from " << c.current << " mode "
                            << static_cast<int>(c.mode);
}

TEST(ResolvePathTest, DirectoryMode) {
  const PathMode d = PathMode::Directory;
  const std::string sub = kRoot + "sub/";
  const Case cases[] = {
      {"sub", kRoot, d, true, "/srv/ftp/sub/"},
      {"sub/", kRoot, d, true, "/srv/ftp/sub/"},
      {"/sub", sub, d, true, "/srv/ftp/sub/"},   // "/" is the root
      {"\\sub", sub, d, true, "/srv/ftp/sub/"},  // so is "\"
      {"sub//deeper", kRoot, d, true, "/srv/ftp/sub/deeper/"},
      {"sub/./deeper", kRoot, d, true, "/srv/ftp/sub/deeper/"},
      {"sub\\deeper", kRoot, d, true, "/srv/ftp/sub/deeper/"},
      {"sub////deeper", kRoot, d, true, "/srv/ftp/sub/deeper/"},
      {"", sub, d, true, "/srv/ftp/sub/"},
      {"..", sub, d, true, "/srv/ftp/"},
      {"..", kRoot, d, true, "/srv/ftp/"},  // above the root: the root
      {"../..", sub, d, true, "/srv/ftp/"},
      {"../../../../..", sub, d, true, "/srv/ftp/"},
      {"deeper/../..", sub, d, true, "/srv/ftp/"},
      {"/etc", kRoot, d, false, "No such file or directory."},  // absolute paths stay inside the root
      {"docs", kRoot, d, false, "No such file or directory."},
      {"a.txt", kRoot, d, false, "/a.txt is not a directory!"},  // as the client sees it
      {"../sub/f.txt", sub, d, false, "/sub/f.txt is not a directory!"},
      {".", sub, d, true, "/srv/ftp/sub/"},  // a final "." is the directory it stands in
      {"./.", sub, d, true, "/srv/ftp/sub/"},
      {"deeper/.", sub, d, true, "/srv/ftp/sub/deeper/"},
      {"/.", sub, d, true, "/srv/ftp/"},
      {"../ftpx", kRoot, d, true, "/srv/ftp/"},  // a sibling that shares the root's name is outside
      {"a..b", kRoot, d, true, "/srv/ftp/"},
  };
  for (const Case& c : cases) Check(c);
}

TEST(ResolvePathTest, OtherModesRefuseLeavingTheRoot) {
  const Case cases[] = {
      {"../x", kRoot, PathMode::Plain, false, "Access to directory denied"},
      {"..", kRoot, PathMode::Plain, false, "Access to directory denied"},
      {"a..b", kRoot, PathMode::Plain, false, "Access to directory denied"},  // ".." inside a name steps up
      {"sub/a..b", kRoot, PathMode::Plain, true, "/srv/ftp/subb"},            // "a.." takes "a" and its "/"
      {"../ftpx/y", kRoot, PathMode::Existing, false, "Access to directory denied"},
      {"..\\..\\etc\\passwd", kRoot, PathMode::Plain, false, "Access to directory denied"},
      {"sub/../../ftp/a.txt", kRoot, PathMode::Plain, true, "/srv/ftp/a.txt"},
      {"/../etc", kRoot, PathMode::List, false, "Access to directory denied"},
      {"/etc/passwd", kRoot, PathMode::Plain, true, "/srv/ftp/etc/passwd"},
      {std::string("a.txt\0/../../x", 14), kRoot, PathMode::Plain, false, "Access to directory denied"},
      {std::string("sub\0", 4), kRoot, PathMode::Directory, false, "Access to directory denied"},
  };
  for (const Case& c : cases) Check(c);
}

TEST(ResolvePathTest, ExistingListAndPlainModes) {
  const std::string sub = kRoot + "sub/";
  const Case cases[] = {
      {"a.txt", kRoot, PathMode::Existing, true, "/srv/ftp/a.txt"},
      {"sub", kRoot, PathMode::Existing, true, "/srv/ftp/sub"},
      {"missing", kRoot, PathMode::Existing, false, "Filename does not exist"},
      {"", kRoot, PathMode::List, true, "/srv/ftp/*.*"},
      {"", sub, PathMode::List, true, "/srv/ftp/sub/*.*"},
      {"sub", kRoot, PathMode::List, true, "/srv/ftp/sub/*.*"},
      {"/sub/", kRoot, PathMode::List, true, "/srv/ftp/sub/*.*"},
      {".", sub, PathMode::List, true, "/srv/ftp/sub/*.*"},
      {"a.txt", kRoot, PathMode::List, true, "/srv/ftp/a.txt"},
      {"*.txt", kRoot, PathMode::List, true, "/srv/ftp/*.txt"},
      {"missing", kRoot, PathMode::List, true, "/srv/ftp/missing"},
      {"new.bin", sub, PathMode::Plain, true, "/srv/ftp/sub/new.bin"},
      {"f.txt", sub, PathMode::Plain, true, "/srv/ftp/sub/f.txt"},
      {"..", sub, PathMode::Plain, true, "/srv/ftp"},  // the root without its "/" is inside
  };
  for (const Case& c : cases) Check(c);
}

TEST(ResolvePathTest, ShownPathStartsAtTheRoot) {
  const std::pair<std::string, std::string> cases[] = {{"/srv/ftp/", "/"},
                                                       {"/srv/ftp", "/"},
                                                       {"/srv/ftp/sub/", "/sub/"},
                                                       {"/srv/ftp/sub/f.txt", "/sub/f.txt"}};
  for (const auto& [local, shown] : cases) EXPECT_EQ(ShownPath(local, kRoot), shown) << local;
}

TEST(ResolvePathTest, InsideRootIsAByteComparison) {
  EXPECT_TRUE(IsInsideRoot("/srv/ftp", kRoot));
  EXPECT_TRUE(IsInsideRoot("/srv/ftp/", kRoot));
  EXPECT_TRUE(IsInsideRoot("/srv/ftp/x/y", kRoot));
  EXPECT_FALSE(IsInsideRoot("/srv/ftpx", kRoot));
  EXPECT_FALSE(IsInsideRoot("/srv/ftpx/", kRoot));
  EXPECT_FALSE(IsInsideRoot("/srv/FTP/", kRoot));
  EXPECT_FALSE(IsInsideRoot("/srv", kRoot));
}

TEST(ResolvePathTest, ProbesTheRealFileSystem) {
  test::TempDir dir;
  test::WriteFile(dir.Path() / "f", "x");
  std::filesystem::create_directory(dir.Path() / "d");
  test::WriteFile(dir.Path() / "outside", "x");
  std::filesystem::create_symlink(dir.Path() / "outside", dir.Path() / "d" / "out");
  BeneathRootFileSystem files((dir.Path() / "d").string());
  EXPECT_EQ(ProbePath(files, (dir.Path() / "f").string()), PathKind::Missing);  // beside the root
  EXPECT_EQ(ProbePath(files, (dir.Path() / "d").string()), PathKind::Directory);
  EXPECT_EQ(ProbePath(files, (dir.Path() / "d" / "none").string()), PathKind::Missing);
  EXPECT_EQ(ProbePath(files, (dir.Path() / "d" / "out").string()), PathKind::Missing);  // a link out of it
  EXPECT_EQ(ProbePath(BeneathRootFileSystem(dir.Dir()), (dir.Path() / "f").string()), PathKind::File);
}

}  // namespace
}  // namespace hx::ftpd
