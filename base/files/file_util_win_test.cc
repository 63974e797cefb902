// File utilities against the real (Wine) file system.
#include <windows.h>

#include <io.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "base/files/file_util.h"
#include "base/win/scoped_handle.h"
#include "testing/scoped_environment_variable_win.h"
#include "testing/scoped_temp_dir.h"

namespace base {
namespace {

using test_support::ReadBytes;
using test_support::ScopedEnvironmentVariable;
using test_support::ScopedTempDir;
using test_support::WriteBytes;

class FileUtilWinTest : public ::testing::Test {
 protected:
  PathValue Path(std::wstring_view name = {}) const {
    return name.empty() ? PathValue(dir_.Wide()) : PathValue(dir_.Wide()).AppendComponent(name);
  }
  void Write(std::wstring_view name, std::string_view bytes) const {
    WriteBytes(std::filesystem::path(Path(name).Text()), bytes);
  }
  ScopedHandle HoldUnshared(std::wstring_view name) const {
    return ScopedHandle(CreateFileW(Path(name).Text().c_str(), GENERIC_READ, 0, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
  }

  ScopedTempDir dir_;
};

TEST(FileUtilTest, ToFileErrorCode) {
  const struct {
    uint32_t windows_error;
    FileErrorCode code;
  } cases[] = {{32, kFileErrorInUse},
               {1175, kFileErrorInUse},
               {1176, kFileErrorInUse},
               {1177, kFileErrorInUse},
               {80, kFileErrorExists},
               {183, kFileErrorExists},
               {2, kFileErrorNotFound},
               {3, kFileErrorNotFound},
               {5, kFileErrorAccessDenied},
               {33, kFileErrorAccessDenied},
               {4, kFileErrorTooManyOpened},
               {8, kFileErrorNoMemory},
               {14, kFileErrorNoMemory},
               {39, kFileErrorNoSpace},
               {112, kFileErrorNoSpace},
               {314, kFileErrorNoSpace},
               {1224, kFileErrorInvalidOperation},
               {21, kFileErrorIo},
               {27, kFileErrorIo},
               {31, kFileErrorIo},
               {55, kFileErrorIo},
               {1117, kFileErrorIo},
               {1127, kFileErrorIo},
               {1392, kFileErrorIo},
               {1393, kFileErrorIo},
               {0, kFileErrorFailed},
               {87, kFileErrorFailed},
               {145, kFileErrorFailed}};
  for (const auto& c : cases)
    EXPECT_EQ(ToFileErrorCode(c.windows_error), c.code) << c.windows_error;
}

TEST_F(FileUtilWinTest, QueryTempDirectoryTrimsTheTrailingSeparator) {
  PathValue temp;
  ASSERT_TRUE(QueryTempDirectory(temp));
  EXPECT_FALSE(temp.empty());
  EXPECT_NE(temp.Text().back(), L'\\');
  EXPECT_TRUE(DirectoryExists(temp));
}

TEST_F(FileUtilWinTest, QueryTempDirectoryRefusesLongPaths) {
  for (size_t length : {265u, 332u}) {
    SCOPED_TRACE(length);
    ScopedEnvironmentVariable tmp(L"TMP", L"C:\\" + std::wstring(length - 3, L'x'));
    PathValue temp(L"unchanged");
    EXPECT_FALSE(QueryTempDirectory(temp));
    EXPECT_EQ(temp.Text(), L"unchanged");
  }
}

TEST_F(FileUtilWinTest, CreateDirectoryMakesEveryMissingAncestor) {
  const PathValue nested = Path(L"a").AppendComponent(L"b").AppendComponent(L"c");
  FileErrorCode error = kFileErrorFailed;
  ASSERT_TRUE(CreateDirectoryAndGetError(nested, &error));
  EXPECT_TRUE(DirectoryExists(nested));
  EXPECT_TRUE(EnsureDirectory(nested));  // existing is success
}

TEST_F(FileUtilWinTest, CreateDirectoryOverAFileFails) {
  Write(L"file", "x");
  FileErrorCode error = kFileErrorFailed;
  EXPECT_FALSE(CreateDirectoryAndGetError(Path(L"file"), &error));
  EXPECT_EQ(error, kFileErrorNotADirectory);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
  EXPECT_FALSE(EnsureDirectory(Path(L"file").AppendComponent(L"below")));
}

TEST_F(FileUtilWinTest, WriteFileReplacesAndReportsTheOpenError) {
  Write(L"payload", "a much longer earlier content");
  const std::string data = "new";
  ASSERT_TRUE(WriteFile(Path(L"payload"), data));
  EXPECT_EQ(ReadBytes(std::filesystem::path(Path(L"payload").Text())), "new");
  ASSERT_TRUE(WriteFile(Path(L"empty"), {}));
  EXPECT_EQ(std::filesystem::file_size(std::filesystem::path(Path(L"empty").Text())), 0u);

  ScopedHandle held = HoldUnshared(L"payload");
  ASSERT_TRUE(held.IsValid());
  SetLastError(0);
  EXPECT_FALSE(WriteFile(Path(L"payload"), data));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
}

TEST_F(FileUtilWinTest, DeleteEdgeCases) {
  EXPECT_TRUE(DoDeleteFile(Path(L"missing"), false));
  EXPECT_TRUE(DoDeleteFile(Path(L"missing\\deeper"), true));
  EXPECT_TRUE(DoDeleteFile(PathValue(), true));
  const PathValue long_path(L"C:\\" + std::wstring(257, L'x'));
  EXPECT_FALSE(DoDeleteFile(long_path, true));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_PATHNAME));
}

TEST_F(FileUtilWinTest, RecursiveDeleteClearsReadOnlyEntries) {
  ASSERT_TRUE(EnsureDirectory(Path(L"tree\\sub")));
  Write(L"tree\\sub\\locked.txt", "x");
  Write(L"tree\\top.txt", "y");
  ASSERT_TRUE(
      SetFileAttributesW(Path(L"tree\\sub\\locked.txt").Text().c_str(), FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(SetFileAttributesW(Path(L"tree\\sub").Text().c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_TRUE(DeleteRecursively(Path(L"tree")));
  EXPECT_FALSE(PathExists(Path(L"tree")));
}

TEST_F(FileUtilWinTest, ReadOnlyFileAloneIsDeleted) {
  Write(L"ro.txt", "x");
  ASSERT_TRUE(SetFileAttributesW(Path(L"ro.txt").Text().c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_TRUE(DoDeleteFile(Path(L"ro.txt"), false));
  EXPECT_FALSE(PathExists(Path(L"ro.txt")));
}

TEST_F(FileUtilWinTest, PatternDeletesMatchesAndKeepsTheDirectory) {
  Write(L"a.tmp", "1");
  Write(L"b.tmp", "2");
  Write(L"keep.txt", "3");
  ASSERT_TRUE(EnsureDirectory(Path(L"sub")));
  Write(L"sub\\c.tmp", "4");
  EXPECT_TRUE(DoDeleteFile(Path(L"*.tmp"), false));
  EXPECT_FALSE(PathExists(Path(L"a.tmp")));
  EXPECT_FALSE(PathExists(Path(L"b.tmp")));
  EXPECT_TRUE(PathExists(Path(L"keep.txt")));
  EXPECT_TRUE(PathExists(Path(L"sub\\c.tmp")));
  EXPECT_TRUE(DirectoryExists(Path()));
}

TEST_F(FileUtilWinTest, NonRecursiveDeleteOfAFullDirectoryFails) {
  ASSERT_TRUE(EnsureDirectory(Path(L"full")));
  Write(L"full\\x", "1");
  EXPECT_FALSE(DoDeleteFile(Path(L"full"), false));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIR_NOT_EMPTY));
  EXPECT_TRUE(PathExists(Path(L"full\\x")));
}

TEST_F(FileUtilWinTest, FileHeldOpenKeepsItsDirectoryAndReportsTheError) {
  ASSERT_TRUE(EnsureDirectory(Path(L"work")));
  Write(L"work\\held.exe", "1");
  Write(L"work\\free.txt", "2");
  ScopedHandle held = HoldUnshared(L"work\\held.exe");
  ASSERT_TRUE(held.IsValid());
  EXPECT_FALSE(DeleteRecursively(Path(L"work")));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_TRUE(PathExists(Path(L"work\\held.exe")));
  EXPECT_FALSE(PathExists(Path(L"work\\free.txt")));  // what could go, went
  held.Close();

  // The directory itself held, as a process holds its current directory:
  // everything in it goes, the directory stays until it is let go.
  ASSERT_TRUE(EnsureDirectory(Path(L"work\\sub")));
  Write(L"work\\sub\\deeper.txt", "3");
  held.Reset(CreateFileW(Path(L"work").Text().c_str(), FILE_TRAVERSE | SYNCHRONIZE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  ASSERT_TRUE(held.IsValid());
  EXPECT_FALSE(DeleteRecursively(Path(L"work")));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_FALSE(PathExists(Path(L"work\\held.exe")));
  EXPECT_FALSE(PathExists(Path(L"work\\sub")));
  held.Close();
  EXPECT_TRUE(DeleteRecursively(Path(L"work")));
  EXPECT_FALSE(PathExists(Path(L"work")));
}

TEST_F(FileUtilWinTest, ReadWholeFileLimits) {
  Write(L"eleven", "0123456789A");
  Write(L"ten", "0123456789");
  std::string contents = "stale";
  EXPECT_FALSE(ReadWholeFileWithLimit(Path(L"eleven"), &contents, 10));
  EXPECT_EQ(contents, "0123456789");
  EXPECT_TRUE(ReadWholeFileWithLimit(Path(L"ten"), &contents, 10));
  EXPECT_EQ(contents, "0123456789");
  EXPECT_TRUE(ReadWholeFile(Path(L"eleven"), &contents));
  EXPECT_EQ(contents, "0123456789A");
  EXPECT_TRUE(ReadWholeFile(Path(L"ten"), nullptr));

  contents = "stale";
  EXPECT_FALSE(ReadWholeFile(Path(L"missing"), &contents));
  EXPECT_EQ(contents, "");
  contents = "stale";
  EXPECT_FALSE(ReadWholeFile(Path(L"sub\\..\\ten"), &contents));
  EXPECT_EQ(contents, "");
}

TEST_F(FileUtilWinTest, StreamIsReadByOneCallSizedAboveTheFile) {
  const std::string data(200000, 'z');
  Write(L"big", data);
  ScopedFile file = OpenFile(Path(L"big"), "rb");
  ASSERT_TRUE(file);
  std::vector<size_t> sizes;
  std::string buffer;
  EXPECT_TRUE(ReadStreamToSpanWithMaxSize(file.get(), SIZE_MAX, [&](size_t size) {
    sizes.push_back(size);
    buffer.resize(size);
    return buffer.data();
  }));
  EXPECT_THAT(sizes, ::testing::ElementsAre(data.size() + 1, data.size()));
  EXPECT_EQ(buffer, data);
  EXPECT_FALSE(ReadStreamToSpanWithMaxSize(nullptr, 1, [&](size_t) { return buffer.data(); }));
}

TEST_F(FileUtilWinTest, OpenFileIsNotInherited) {
  Write(L"f", "x");
  ScopedFile file = OpenFile(Path(L"f"), "rb");
  ASSERT_TRUE(file);
  DWORD flags = 0;
  ASSERT_TRUE(
      GetHandleInformation(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file.get()))), &flags));
  EXPECT_EQ(flags & HANDLE_FLAG_INHERIT, 0u);
}

TEST_F(FileUtilWinTest, SmallQueries) {
  Write(L"f", "x");
  EXPECT_TRUE(PathExists(Path(L"f")));
  EXPECT_FALSE(DirectoryExists(Path(L"f")));
  EXPECT_TRUE(DirectoryExists(Path()));
  EXPECT_FALSE(PathExists(Path(L"missing")));
  EXPECT_TRUE(PathAllowsWriting(Path(L"f")));
  EXPECT_TRUE(PathAllowsWriting(Path()));
  EXPECT_FALSE(PathAllowsWriting(Path(L"missing")));
  EXPECT_TRUE(MakeAbsoluteFilePath(PathValue(L"x")).IsAbsolutePath());
  PathValue current;
  EXPECT_TRUE(QueryCurrentDirectory(current));
  EXPECT_TRUE(current.IsAbsolutePath());
  EXPECT_FALSE(QueryHomeDirectory().empty());
}

// Wine shows a Unix symbolic link to a directory as a directory reparse
// point; the test script makes one at MIR_LINK_TEST_LINK pointing at
// MIR_LINK_TEST_TARGET before this program starts.
void Write(const PathValue& directory, const wchar_t* name) {
  WriteBytes(std::filesystem::path(directory.AppendComponent(name).Text()), "x");
}

TEST(FileUtilLinkTest, RecursiveDeleteNeverEntersLinks) {
  wchar_t link[MAX_PATH] = {}, target[MAX_PATH] = {};
  if (!GetEnvironmentVariableW(L"MIR_LINK_TEST_LINK", link, MAX_PATH) ||
      !GetEnvironmentVariableW(L"MIR_LINK_TEST_TARGET", target, MAX_PATH)) {
    FAIL() << "run through the file_util_link_test entry, which makes the link";
  }
  const PathValue work = PathValue(link).ParentDir();
  const DWORD attributes = GetFileAttributesW(link);
  ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
  ASSERT_TRUE(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
  ASSERT_TRUE(PathExists(PathValue(target).AppendComponent(L"precious.txt")));

  Write(work, L"other.txt");
  const bool deleted = DeleteRecursively(work);
  // Wine cannot remove a Unix symbolic link through Win32 at all (Windows
  // removes a directory link with RemoveDirectoryW); either way nothing
  // behind the link may go, and everything else must.
  if (!deleted) {
    EXPECT_FALSE(PathExists(work.AppendComponent(L"other.txt")));
    EXPECT_TRUE(PathExists(PathValue(link)));
  } else {
    EXPECT_FALSE(PathExists(work));
  }
  EXPECT_TRUE(PathExists(PathValue(target).AppendComponent(L"precious.txt")));
}

}  // namespace
}  // namespace base
