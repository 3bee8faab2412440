#include "env/pathlist.h"

#include <gtest/gtest.h>

#include <string>

#include "env_test_support.h"

namespace qm {
namespace {

using qmtest::EnvTest;

struct EditCase {
  const char* in;
  const char* out;
};

TEST(PathUtilities, TrimPathEnd) {
  const EditCase cases[] = {
      {"C:\\bin\\;", "C:\\bin"},
      {"C:\\bin;", "C:\\bin"},
      {"C:\\", "C:\\"},
      {"C:\\;", "C:\\"},
      {"\\", "\\"},
      {"C:\\bin\\\\", "C:\\bin\\"},
      {"", ""},
      {";", ""},
      {"a\\", "a"},
      {"bin;;", "bin;"},
  };
  for (const auto& c : cases) {
    std::string s = c.in;
    TrimPathEnd(s);
    EXPECT_EQ(s, c.out) << "from " << c.in;
  }
}

TEST(PathUtilities, ParentDirectory) {
  const EditCase cases[] = {
      {"C:\\work\\src", "C:\\work"},
      {"C:\\work", "C:"},
      {"C:\\work\\", "C:"},
      {"C:\\", "C:\\"},
      {"work", "."},
      {"C:", "."},
      {"\\\\", "\\\\"},
      {"a\\b\\c\\", "a\\b"},
  };
  for (const auto& c : cases) {
    std::string s = c.in;
    ParentDirectory(s);
    EXPECT_EQ(s, c.out) << "from " << c.in;
  }
}

TEST(PathUtilities, AppendPathComponent) {
  struct Case {
    const char* dir;
    const char* part;
    const char* out;
  } cases[] = {
      {"C:\\work", "bin", "C:\\work\\bin"},
      {"C:\\", "bin", "C:\\bin"},
      {"C:\\work", "\\bin", "\\bin"},  // a rooted part replaces the directory
      {"", "bin", "\\bin"},
      {"C:\\jre\\", "bin\\javaw.exe", "C:\\jre\\bin\\javaw.exe"},
  };
  for (const auto& c : cases) {
    std::string s = c.dir;
    AppendPathComponent(s, c.part);
    EXPECT_EQ(s, c.out) << c.dir << " + " << c.part;
  }
}

// GBK: 0x81 0x5C is one character whose second byte is a backslash.
TEST(PathUtilities, DoubleByteTrailBackslashIsNoSeparator) {
  ASSERT_TRUE(text::SetLocale("chinese-simplified"));
  const std::string dbcs = "\x81\x5c";
  std::string s = "C:\\dir" + dbcs;
  TrimPathEnd(s);
  EXPECT_EQ(s, "C:\\dir" + dbcs);
  s = "C:\\top\\a" + dbcs + "b";
  ParentDirectory(s);
  EXPECT_EQ(s, "C:\\top");
  s = "C:\\" + dbcs;
  AppendPathComponent(s, "x");
  EXPECT_EQ(s, "C:\\" + dbcs + "\\x");
  text::SetLocale("C");
}

class ResolvePathTest : public EnvTest {
 protected:
  void SetUp() override {
    EnvTest::SetUp();
    prefix_.MakeDir("C:\\work\\src");
    prefix_.ChangeDir("C:\\work\\src");
  }
};

TEST_F(ResolvePathTest, ExamplesFromAWorkingDirectory) {
  const EditCase cases[] = {
      {".\\brambley\\..\\bin", "C:\\work\\src\\bin"},
      {"..\\bin", "C:\\work\\bin"},
      {".", "C:\\work\\src"},
      {"..", "C:\\work"},
      {".\\", "C:\\work\\src"},
      {"..\\bin\\;", "C:\\work\\bin"},
      {"C:\\Program Files\\x.y\\bin", "C:\\Program Files\\x.y\\bin"},
      {"C:\\a..b", "C:\\a..b"},
      {"C:\\a\\.\\b", "C:\\a\\b"},
      {"C:\\a\\b\\..\\c", "C:\\a\\c"},
      {"bin", "bin"},
      {"C:\\tex\\bin\\", "C:\\tex\\bin"},
      {"..\\..\\x", "C:\\x"},
  };
  for (const auto& c : cases) {
    std::string s = c.in;
    EXPECT_TRUE(ResolvePath(s)) << c.in;
    EXPECT_EQ(s, c.out) << "from " << c.in;
  }
}

TEST_F(ResolvePathTest, DriveRootHasNoParent) {
  prefix_.ChangeDir("C:\\");
  std::string s = "..\\bin";
  ASSERT_TRUE(ResolvePath(s));
  EXPECT_EQ(s, "C:\\bin");
}

// A directory that does not fit 263 characters is refused whole, never cut.
TEST_F(ResolvePathTest, TooLongDirectoryIsRefusedNotCut) {
  const std::string part(kMaxDirectoryLength - 12, 'p');  // C:\work\src\ + part = 263 + 1
  std::string s = ".\\" + part + "x";
  EXPECT_FALSE(ResolvePath(s));
  EXPECT_EQ(s, ".\\" + part + "x");

  std::string fits = ".\\" + part;
  ASSERT_TRUE(ResolvePath(fits));
  EXPECT_EQ(fits.size(), kMaxDirectoryLength);

  std::string given(kMaxDirectoryLength + 1, 'q');
  given.replace(0, 3, "C:\\");
  EXPECT_FALSE(ResolvePath(given));
}

TEST(FindPathInList, WholeEntriesWithoutRegardToCase) {
  struct Case {
    const char* list;
    const char* path;
    int result;
    size_t begin;
    size_t end;
  } cases[] = {
      {"x;C:\\A;y", "C:\\a", 0, 2, 7},     {"C:\\a\\", "C:\\a", 0, 0, 5},
      {"C:\\a\\;D:\\x", "c:\\a", 0, 0, 6}, {"C:\\ab", "C:\\a", 2, 0, 0},
      {"C:\\a\\b", "C:\\a", 2, 0, 0},      {"D:\\C:\\a", "C:\\a", 2, 0, 0},
      {"C:\\ab;C:\\a", "C:\\a", 0, 6, 10}, {"a;b;a", "a", 0, 0, 2},
      {"x;C:\\a", "C:\\a\\", 0, 2, 6},     {"x;C:\\a", "C:\\a;", 0, 2, 6},
      {"C:\\;D:\\", "C:\\", 0, 0, 4},      {"anything", "", 1, 0, 0},
      {"anything", ";", 1, 0, 0},          {"", "a", 2, 0, 0},
  };
  for (const auto& c : cases) {
    PathMatch m;
    EXPECT_EQ(FindPathInList(c.list, c.path, m), c.result) << c.path << " in " << c.list;
    if (c.result == 0) {
      EXPECT_EQ(m.entryBegin, c.begin) << c.path << " in " << c.list;
      EXPECT_EQ(m.entryEnd, c.end) << c.path << " in " << c.list;
    }
  }
}

// GBK 0x81 0x41 and 0x81 0x61 are two different characters whose second
// bytes happen to be 'A' and 'a': lower-casing byte by byte would confuse them.
TEST(FindPathInList, DoubleByteTrailLettersAreNotFolded) {
  ASSERT_TRUE(text::SetLocale("chinese-simplified"));
  const std::string upperTrail = "C:\\\x81\x41";
  const std::string lowerTrail = "C:\\\x81\x61";
  PathMatch m;
  EXPECT_EQ(FindPathInList("x;" + upperTrail, "c:\\\x81\x41", m), 0);
  EXPECT_EQ(m.entryBegin, 2u);
  EXPECT_EQ(FindPathInList("x;" + upperTrail, lowerTrail, m), 2);
  EXPECT_EQ(FindPathInList(lowerTrail, upperTrail, m), 2);

  std::string list = "D:\\\x81\x41\\B;" + upperTrail + ";E:\\X";
  EXPECT_EQ(RemovePathFromList(list, upperTrail), 0);
  EXPECT_EQ(list, "D:\\\x81\x41\\B;E:\\X");  // the rest exactly as stored
  text::SetLocale("C");
}

class ListEditTest : public EnvTest {
 protected:
  void SetUp() override {
    EnvTest::SetUp();
    for (const char* d : {"C:\\a", "C:\\ab", "C:\\x", "C:\\y", "C:\\Program Files\\X",
                          "C:\\work\\src\\bin", "C:\\work\\bin"})
      prefix_.MakeDir(d);
    prefix_.WriteFile("C:\\file.txt", "not a directory");
    prefix_.ChangeDir("C:\\work\\src");
  }
};

TEST_F(ListEditTest, AddPathToList) {
  struct Case {
    const char* list;
    const char* path;
    PathPlacement placement;
    int result;
    const char* after;
  } cases[] = {
      {"C:\\a;C:\\ab", "C:\\a", PathPlacement::Start, 0, "C:\\a;C:\\ab"},
      {"C:\\ab", "C:\\a", PathPlacement::End, 0, "C:\\ab;C:\\a"},
      {"C:\\ab", "C:\\a", PathPlacement::Start, 0, "C:\\a;C:\\ab"},
      {"", "C:\\x", PathPlacement::Start, 0, "C:\\x"},
      {"", "C:\\x", PathPlacement::End, 0, "C:\\x"},
      {"a;", "C:\\x", PathPlacement::End, 0, "a;C:\\x"},
      {";a", "C:\\x", PathPlacement::Start, 0, "C:\\x;;a"},
      {"L", "C:\\nonexistent", PathPlacement::Start, 0, "L"},
      {"L", "C:\\file.txt", PathPlacement::Start, 0, "L"},
      {"L", "C:\\", PathPlacement::Start, 0, "L"},
      {"L", "C:\\a*", PathPlacement::Start, 0, "L"},  // a pattern is no directory
      {"L", "", PathPlacement::Start, 1, "L"},
      {"L", "..\\bin", PathPlacement::End, 0, "L;C:\\work\\bin"},
      {"C:\\WORK\\BIN", "..\\bin", PathPlacement::End, 0, "C:\\WORK\\BIN"},
      {"L", "c:\\program files\\x\\", PathPlacement::Start, 0, "c:\\program files\\x;L"},
  };
  for (const auto& c : cases) {
    std::string list = c.list;
    EXPECT_EQ(AddPathToList(list, c.path, c.placement), c.result) << c.path << " to " << c.list;
    EXPECT_EQ(list, c.after) << c.path << " to " << c.list;
  }
}

TEST_F(ListEditTest, OnlyTheByteOneMeansEnd) {
  std::string list = "L";
  EXPECT_EQ(AddPathToList(list, "C:\\x", static_cast<PathPlacement>(2)), 0);
  EXPECT_EQ(list, "C:\\x;L");
}

TEST_F(ListEditTest, RemovePathFromList) {
  struct Case {
    const char* list;
    const char* path;
    int result;
    const char* after;
  } cases[] = {
      {"C:\\a;C:\\ab", "C:\\a", 0, "C:\\ab"},
      {"C:\\a\\;D:\\x", "C:\\a", 0, "D:\\x"},
      {"D:\\tools\\bin;C:\\x", "tools\\bin", 2, "D:\\tools\\bin;C:\\x"},
      {"C:\\Program Files\\X;D:\\Keep", "c:\\program files\\x", 0, "D:\\Keep"},
      {"a;b;a", "a", 0, "b;a"},
      {"a;b;c", "b", 0, "a;c"},
      {"a;b", "b", 0, "a"},
      {"a", "a", 0, ""},
      {"a;b", "", 1, "a;b"},
      {"C:\\work\\src\\bin;C:\\work\\bin;Z", ".\\brambley\\..\\bin", 0, "C:\\work\\bin;Z"},
  };
  for (const auto& c : cases) {
    std::string list = c.list;
    EXPECT_EQ(RemovePathFromList(list, c.path), c.result) << c.path << " from " << c.list;
    EXPECT_EQ(list, c.after) << c.path << " from " << c.list;
  }
}

TEST_F(ListEditTest, ListLengthLimits) {
  // End, no final ";": list + ";" + path must fit 32,766.
  std::string list(32760, 'z');
  EXPECT_EQ(AddPathToList(list, "C:\\a\\b", PathPlacement::End), 0);  // not a directory
  prefix_.MakeDir("C:\\a\\b");
  list.assign(32760, 'z');
  EXPECT_EQ(AddPathToList(list, "C:\\a\\b", PathPlacement::End), 4);
  EXPECT_EQ(list.size(), 32760u);
  list.assign(32759, 'z');
  EXPECT_EQ(AddPathToList(list, "C:\\a\\b", PathPlacement::End), 0);
  EXPECT_EQ(list.size(), kMaxListLength);

  // End after a final ";": no separator is added.
  list.assign(32760, 'z');
  list.back() = ';';
  EXPECT_EQ(AddPathToList(list, "C:\\a\\b", PathPlacement::End), 0);
  EXPECT_EQ(list.size(), 32766u);
  list.assign(32761, 'z');
  list.back() = ';';
  EXPECT_EQ(AddPathToList(list, "C:\\a\\b", PathPlacement::End), 3);

  // Start counts the separator too.
  list.assign(32760, 'z');
  EXPECT_EQ(AddPathToList(list, "C:\\a\\b", PathPlacement::Start), 4);
  list.assign(32759, 'z');
  EXPECT_EQ(AddPathToList(list, "C:\\a\\b", PathPlacement::Start), 0);
  EXPECT_EQ(list.substr(0, 7), "C:\\a\\b;");
}

TEST_F(ListEditTest, SeveralPathsInOneArgument) {
  struct Case {
    const char* list;
    const char* paths;
    PathPlacement placement;
    int result;
    const char* after;
  } cases[] = {
      {"L", "C:\\x;C:\\y", PathPlacement::Start, 0, "C:\\y;C:\\x;L"},
      {"L", "C:\\x;C:\\y", PathPlacement::End, 0, "L;C:\\x;C:\\y"},
      {"L", "C:\\x;C:\\y;", PathPlacement::End, 0, "L;C:\\x;C:\\y"},
      {"L", "C:\\x;", PathPlacement::End, 0, "L;C:\\x"},
      {"L", "C:\\x;;C:\\y", PathPlacement::End, 1, "L;C:\\x;C:\\y"},  // the empty piece fails
      {"L", ";C:\\x", PathPlacement::End, 1, "L;C:\\x"},
  };
  for (const auto& c : cases) {
    std::string list = c.list;
    EXPECT_EQ(AddPathsToList(list, c.paths, c.placement), c.result) << c.paths;
    EXPECT_EQ(list, c.after) << c.paths;
  }

  std::string list = "C:\\work\\src\\bin;M;C:\\work\\bin";
  EXPECT_EQ(RemovePathsFromList(list, ".\\brambley\\..\\bin;..\\bin"), 0);
  EXPECT_EQ(list, "M");
  list = "A;B";
  EXPECT_EQ(RemovePathsFromList(list, "A;C"), 1);  // C is not there
  EXPECT_EQ(list, "B");
  list = "A;B";
  EXPECT_EQ(RemovePathsFromList(list, "C"), 2);  // one path keeps its own code
}

TEST_F(ListEditTest, TooLongPieceFailsWholeArgument) {
  std::string list = "L";
  std::string tooLong = "C:\\" + std::string(kMaxDirectoryLength, 'd');
  EXPECT_EQ(AddPathToList(list, tooLong, PathPlacement::End), 1);
  EXPECT_EQ(AddPathsToList(list, "C:\\x;" + tooLong, PathPlacement::End), 1);
  EXPECT_EQ(RemovePathFromList(list, tooLong), 1);
}

}  // namespace
}  // namespace qm
