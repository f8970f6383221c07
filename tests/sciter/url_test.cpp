// Page addresses to paths and references inside pages.
#include <gtest/gtest.h>

#include "outside/sciter/url.h"

namespace sciter_engine {
namespace {

std::wstring Path(const std::wstring& url) {
  std::wstring path;
  return FileUrlToPath(url, &path) ? path : L"<refused>";
}

TEST(UrlTest, FileUrlsInTheirUsualSpellings) {
  EXPECT_EQ(Path(L"file://C:/Program Files/Palisk/skin/palisk.html"), L"C:\\Program Files\\Palisk\\skin\\palisk.html");
  EXPECT_EQ(Path(L"file:///C:/a/b.html"), L"C:\\a\\b.html");
  EXPECT_EQ(Path(L"file://C:\\a\\b.html"), L"C:\\a\\b.html");
  EXPECT_EQ(Path(L"FILE://c:/a/./x/../b.html"), L"c:\\a\\b.html");
  EXPECT_EQ(Path(L"file://C:/a%20b/%C3%A9t%C3%A9.html"), std::wstring(L"C:\\a b\\") + wchar_t(0xE9) + L"t" + wchar_t(0xE9) + L".html");
  EXPECT_EQ(Path(L"file://C:/a/b.html?x=1#top"), L"C:\\a\\b.html");
  EXPECT_EQ(Path(L"C:\\plain\\path.html"), L"C:\\plain\\path.html");
}

TEST(UrlTest, NonLocalAddressesAreRefused) {
  EXPECT_EQ(Path(L"http://example.com/a.html"), L"<refused>");
  EXPECT_EQ(Path(L"file://relative/a.html"), L"<refused>");
  EXPECT_EQ(Path(L""), L"<refused>");
  EXPECT_EQ(Path(L"page.html"), L"<refused>");
}

TEST(UrlTest, SharesAndDevicePathsAreRefused) {
  // A share would open an SMB connection (and offer the user's credentials to its host).
  EXPECT_EQ(Path(L"file:////host/share/x.png"), L"<refused>");
  EXPECT_EQ(Path(L"file://\\\\host\\share\\x.png"), L"<refused>");
  EXPECT_EQ(Path(L"\\\\host\\share\\x.png"), L"<refused>");
  EXPECT_EQ(Path(L"file:////./pipe/x"), L"<refused>");
  EXPECT_EQ(Path(L"\\\\?\\C:\\x.png"), L"<refused>");
  std::wstring path;
  EXPECT_FALSE(ResolveReference(L"C:\\app\\skin\\palisk.html", L"\\\\host\\x.png", &path));
  EXPECT_FALSE(ResolveReference(L"C:\\app\\skin\\palisk.html", L"//host/x.png", &path));
}

TEST(UrlTest, ReferencesResolveAgainstThePageFolder) {
  std::wstring path;
  ASSERT_TRUE(ResolveReference(L"C:\\app\\skin\\palisk.html", L"palisk.js", &path));
  EXPECT_EQ(path, L"C:\\app\\skin\\palisk.js");
  ASSERT_TRUE(ResolveReference(L"C:\\app\\skin\\palisk.html", L"../css/a%20b.css?v=2", &path));
  EXPECT_EQ(path, L"C:\\app\\css\\a b.css");
  ASSERT_TRUE(ResolveReference(L"C:\\app\\skin\\palisk.html", L"/root.css", &path));
  EXPECT_EQ(path, L"C:\\root.css");
  ASSERT_TRUE(ResolveReference(L"C:\\app\\skin\\palisk.html", L"file:///D:/x.js", &path));
  EXPECT_EQ(path, L"D:\\x.js");
  EXPECT_FALSE(ResolveReference(L"C:\\app\\skin\\palisk.html", L"https://cdn.example/x.js", &path));
  EXPECT_FALSE(ResolveReference(L"C:\\app\\skin\\palisk.html", L"", &path));
}

TEST(UrlTest, PathsBecomeFileUrls) {
  EXPECT_EQ(PathToFileUrl(L"C:\\a\\b.css"), L"file:///C:/a/b.css");
  // Characters that mean something in a URL are escaped, and read back as they were.
  const std::wstring odd = L"C:\\C# 50%25 x\\skin\\p?.html";
  EXPECT_EQ(PathToFileUrl(odd), L"file:///C:/C%23%2050%2525%20x/skin/p%3F.html");
  EXPECT_EQ(Path(PathToFileUrl(odd)), odd);
}

}  // namespace
}  // namespace sciter_engine
