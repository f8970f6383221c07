// The product configuration and the downloader against kits served by the shared kit server:
// descriptors, file lists, downloads with their retries and fall-backs, and verification.
#include "installer/palisk/productconfig.h"

#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <string>

#include <gtest/gtest.h>

#include "framework/module_path.h"
#include "installer/palisk/authenticode_hash.h"
#include "installer/palisk/catalog_reader.h"
#include "installer/palisk/xml_document.h"
#include "support/kit_server.h"
#include "support/test_support.h"

namespace {

using testing_support::FileExists;
using testing_support::KitServer;
using testing_support::ScopedTempFolder;
using testing_support::WideToUtf8;
using testing_support::WriteTextFile;

int g_waits = 0;
void CountWait(DWORD milliseconds) {
  if (milliseconds == 5000) ++g_waits;
}

std::string Tag(const char* name) { return std::string(name) + "-" + std::to_string(GetCurrentProcessId()); }

class Kit : public testing::Test {
 protected:
  void SetUp() override {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    ASSERT_TRUE(server_.Connect()) << "the KitServer fixture is not running";
    g_waits = 0;
    palisk::SetRetryWaitForTesting(&CountWait);
  }
  void TearDown() override {
    palisk::SetRetryWaitForTesting(nullptr);
    CoUninitialize();
  }
  // A local configuration XML (the configFile route) pointing at `downloadUrl`.
  std::wstring Config(const std::wstring& downloadUrl, const std::string& extra = "") {
    const std::wstring path = folder_.Path() + L"\\given-installer.xml";
    WriteTextFile(path, "<config><downloadUrl>" + WideToUtf8(downloadUrl) + "</downloadUrl>" + extra + "</config>");
    return path;
  }
  std::wstring Work(const wchar_t* relative) const { return folder_.Path() + L"\\work\\" + relative; }
  int32_t SetData(CProductConfig& config, const std::wstring& configFile, int architecture = CProductConfig::kArch32,
                  const std::wstring& configUrl = L"") {
    CreateDirectoryW((folder_.Path() + L"\\work").c_str(), nullptr);
    return config.SetData(folder_.Path() + L"\\work", configUrl, configFile, architecture, true, true, L"");
  }

  KitServer server_;
  ScopedTempFolder folder_;
};

TEST_F(Kit, GoodKitThirtyTwoBit) {
  CProductConfig config;
  ASSERT_EQ(0, SetData(config, Config(server_.KitUrl("basic"))));
  const std::wstring base = server_.KitUrl("basic") + L"kits/1.0.0/win32";
  EXPECT_EQ(base, config.BaseUrl());
  ProductInformation product;
  ASSERT_EQ(0, config.GetProductInformation(product));
  EXPECT_EQ(product.manufacturer, L"Orvane");
  EXPECT_EQ(product.upgradeCode, L"{6F1D2C3B-4A5E-4F60-8172-93A4B5C6D7E8}");
  EXPECT_EQ(2, product.retryCount);

  const auto& entries = config.Downloader().Entries();
  ASSERT_EQ(4u, entries.size()) << "skipped.txt (required=0) is not listed; optional.txt (False) is";
  // Sorted by name: Installer.exe, optional.txt, readme.txt, sub/data.bin.
  EXPECT_EQ(Work(L"x86\\sub\\data.bin"), std::wstring(entries[3].finalPath.c_str()));
  EXPECT_EQ(base + L"/sub/data.bin", std::wstring(entries[3].url.c_str()));

  std::wstring path, parameters;
  ASSERT_EQ(0, config.GetRunCommand(path, parameters, CProductConfig::kArch32));
  EXPECT_EQ(Work(L"x86\\Installer.exe"), path) << "run_command's proc is logged, not used";
  EXPECT_EQ(L" currentDownloadLink=\"" + base + L"\"", parameters);
  EXPECT_EQ(ERROR_NOT_SUPPORTED, config.GetRunCommand(path, parameters, 3));

  ASSERT_EQ(0, config.DownloadFiles());
  EXPECT_TRUE(FileExists(Work(L"x86\\sub\\data.bin")));
  EXPECT_TRUE(FileExists(Work(L"x86\\optional.txt")));
  EXPECT_FALSE(FileExists(Work(L"x86\\skipped.txt")));
  EXPECT_TRUE(FileExists(Work(L"kit.cat")));
  EXPECT_EQ(0, g_waits);
}

// Every file that passed verification stays held while the downloader lives: nobody can write,
// rename or delete it; the run's end lets go of it.
TEST_F(Kit, VerifiedFilesStayHeldWhileTheDownloaderLives) {
  {
    CProductConfig config;
    ASSERT_EQ(0, SetData(config, Config(server_.KitUrl("basic"))));
    ASSERT_EQ(0, config.DownloadFiles());
    EXPECT_NE(nullptr, config.Downloader().HeldFileAt(Work(L"x86\\Installer.exe")));
    EXPECT_EQ(INVALID_HANDLE_VALUE, CreateFileW(Work(L"x86\\readme.txt").c_str(), GENERIC_WRITE,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                OPEN_EXISTING, 0, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
    EXPECT_FALSE(MoveFileW(Work(L"x86\\Installer.exe").c_str(), Work(L"x86\\moved.exe").c_str()));
    EXPECT_FALSE(DeleteFileW(Work(L"kit.cat").c_str()));
    EXPECT_FALSE(DeleteFileW(Work(L"data.xml").c_str()));
  }
  EXPECT_TRUE(DeleteFileW(Work(L"x86\\readme.txt").c_str()));
  EXPECT_TRUE(DeleteFileW(Work(L"kit.cat").c_str()));
}

TEST_F(Kit, GoodKitSixtyFourBitUsesTheX64Folders) {
  CProductConfig config;
  ASSERT_EQ(0, SetData(config, Config(server_.KitUrl("basic")), CProductConfig::kArch64));
  EXPECT_EQ(server_.KitUrl("basic") + L"kits/1.0.0/x64", config.BaseUrl());
  ASSERT_EQ(0, config.DownloadFiles());
  EXPECT_TRUE(FileExists(Work(L"x64\\sub\\data.bin")));
  std::wstring path, parameters;
  config.GetRunCommand(path, parameters, CProductConfig::kArch64);
  EXPECT_EQ(Work(L"x64\\Installer.exe"), path);
}

TEST_F(Kit, ConfigurationUrlEndingInInstallerXml) {
  CProductConfig config;
  ASSERT_EQ(0, SetData(config, L"", CProductConfig::kArch32, server_.KitUrl("basic") + L"installer.xml"));
  EXPECT_EQ(server_.KitUrl("basic") + L"kits/1.0.0/win32", config.BaseUrl());
  EXPECT_TRUE(FileExists(Work(L"installer.xml")));
}

TEST_F(Kit, LatestDatWithOneTokenLeavesTheLink) {
  CProductConfig config;
  ASSERT_EQ(0, SetData(config, Config(server_.KitUrl("onetoken"))));
  EXPECT_EQ(server_.KitUrl("onetoken") + L"win32", config.BaseUrl());
  std::wstring path, parameters;
  config.GetRunCommand(path, parameters, CProductConfig::kArch32);
  EXPECT_NE(std::wstring::npos, parameters.find(L"currentDownloadLink=")) << "resolved without error";
}

TEST_F(Kit, OversizedLatestDatIsRefused) {
  CProductConfig config;
  ASSERT_EQ(0, SetData(config, Config(server_.KitUrl("biglatest"))));
  EXPECT_EQ(server_.KitUrl("biglatest") + L"win32", config.BaseUrl()) << "the link as it was";
  std::wstring path, parameters;
  config.GetRunCommand(path, parameters, CProductConfig::kArch32);
  EXPECT_EQ(std::wstring::npos, parameters.find(L"currentDownloadLink=")) << "the link could not be resolved";
}

// latest.dat is not signed: a quote and a tab in its folder name must not reach the
// installer's command line as such, or they would add switches to a signed installer.
TEST_F(Kit, HostileLatestDatCannotAddSwitchesToTheInstaller) {
  CProductConfig config;
  ASSERT_EQ(0, SetData(config, Config(server_.KitUrl("hostile"))));
  std::wstring path, parameters;
  ASSERT_EQ(0, config.GetRunCommand(path, parameters, CProductConfig::kArch32));
  EXPECT_EQ(L" currentDownloadLink=\"" + server_.KitUrl("hostile") + L"kits/1.0.0%22%09/silent/win32\"", parameters);
  int count = 0;
  LPWSTR* arguments = CommandLineToArgvW((L"Installer.exe" + parameters + L" /silent taskId=T").c_str(), &count);
  ASSERT_NE(nullptr, arguments);
  EXPECT_EQ(4, count) << "the link stays one argument";
  LocalFree(arguments);
}

TEST_F(Kit, UnreachableLatestDatGivesNoCurrentDownloadLink) {
  const std::string tag = Tag("nolatest");
  ASSERT_TRUE(server_.AddRules({{{"path", "/v/" + tag + "/basic/latest.dat"}, {"status", 404}}}));
  // Without latest.dat the kit is looked for right below downloadUrl: serve it there.
  CProductConfig config;
  ASSERT_EQ(0, SetData(config, Config(server_.TaggedKitUrl(tag, "basic") + L"kits/1.0.0/")));
  std::wstring path, parameters;
  config.GetRunCommand(path, parameters, CProductConfig::kArch32);
  EXPECT_EQ(std::wstring::npos, parameters.find(L"currentDownloadLink="));
}

TEST_F(Kit, TwelveCatalogFailuresGiveMinus13AfterTwelveWaits) {
  const std::string tag = Tag("nocatalog");
  ASSERT_TRUE(server_.AddRules({{{"path", "/v/" + tag + "/basic/.*kit.cat"}, {"status", 503}}}));
  CProductConfig config;
  EXPECT_EQ(-13, SetData(config, Config(server_.TaggedKitUrl(tag, "basic"))));
  EXPECT_EQ(12, g_waits);
  EXPECT_EQ(12u, server_.Requests("/v/" + tag + "/basic/kits/1.0.0/win32/kit.cat").size());
}

TEST_F(Kit, MissingDataXmlFallsBackToTheProgramFolder) {
  const std::string tag = Tag("nodata");
  ASSERT_TRUE(server_.AddRules({{{"path", "/v/" + tag + "/basic/.*data.xml"}, {"status", 404}}}));
  CProductConfig config;
  // No data.xml beside the test executable: the fall-back has nothing to read either.
  EXPECT_NE(0, SetData(config, Config(server_.TaggedKitUrl(tag, "basic"))));
  EXPECT_FALSE(FileExists(Work(L"data.xml")));
  EXPECT_EQ(0, g_waits);
}

TEST_F(Kit, DotDotInANameEndsTheRead) {
  CProductConfig config;
  EXPECT_EQ(1, SetData(config, Config(server_.KitUrl("dotdot"))));
}

TEST_F(Kit, MissingSizeCountsFiles) {
  CProductConfig config;
  ASSERT_EQ(0, SetData(config, Config(server_.KitUrl("nosize"))));
  uint32_t total = 0;
  ASSERT_EQ(0, config.Downloader().GetDownloadSize(&total));
  EXPECT_EQ(4u, total) << "a file count, not bytes";
  ASSERT_EQ(0, config.DownloadFiles());
}

TEST_F(Kit, TamperedFileGivesMinus13AndStaysOnDisk) {
  CProductConfig config;
  ASSERT_EQ(0, SetData(config, Config(server_.KitUrl("tampered"))));
  EXPECT_EQ(-13, config.DownloadFiles());
  EXPECT_TRUE(FileExists(Work(L"x86\\readme.txt")));
  EXPECT_FALSE(FileExists(Work(L"x86\\sub\\data.bin"))) << "the walk stopped at the refused file";
}

TEST_F(Kit, ProxySettingsAndFlagsFromTheConfiguration) {
  CProductConfig config;
  // An unreachable configured proxy: the requests fall back to a direct connection.
  ASSERT_EQ(0, SetData(config, Config(server_.KitUrl("basic"),
                                      "<proxyServer>127.0.0.1</proxyServer><proxyPort>" +
                                          std::to_string(server_.Port("bad_proxy")) +
                                          "</proxyPort><proxyUser>u</proxyUser><proxyPass>64FWFRXjHR8=</proxyPass>"
                                          "<keepSettings>true</keepSettings><autodetectProxy>false</autodetectProxy>")));
  EXPECT_FALSE(config.KeepSettings()) << "only \"1\" keeps settings";
  EXPECT_EQ(CHypraWrapper::kDirect, config.Downloader().Http().ProxyMode());
}

TEST_F(Kit, DescriptorEntriesCommentsUrlsAndDotDot) {
  CProductConfig config;
  CreateDirectoryW((folder_.Path() + L"\\work").c_str(), nullptr);
  ASSERT_EQ(0, config.SetData(folder_.Path() + L"\\work", L"", L"", CProductConfig::kArch64, false, true, L""));
  const std::wstring data = folder_.Path() + L"\\data.xml";
  WriteTextFile(data,
                "<root><files><!-- a comment -->text<file name=\"a/b.txt\" size=\"3\" url=\"http://elsewhere.test/x?y=1\"/>"
                "<file md5=\"no name\"/><other name=\"c.txt\" required=\"False\"/></files></root>");
  ASSERT_EQ(0, config.LoadKitData(data));
  const auto& entries = config.Downloader().Entries();
  ASSERT_EQ(2u, entries.size()) << "the comment, the text and the entry without a name are skipped";
  EXPECT_EQ(L"http://elsewhere.test/x?y=1", std::wstring(entries[0].url.c_str())) << "the url attribute as given";
  EXPECT_EQ(Work(L"x64\\a\\b.txt"), std::wstring(entries[0].finalPath.c_str()));
  EXPECT_EQ(Work(L"x64\\c.txt"), std::wstring(entries[1].finalPath.c_str())) << "any element name is an entry";
  WriteTextFile(data, "<root><files><file name=\"ok.txt\"/><file name=\"sub/x..y/z.txt\"/></files></root>");
  EXPECT_EQ(1, config.LoadKitData(data)) << "\"..\" anywhere in a name";
  // Names Windows would not take as written: devices (whatever the extension, the case, or the
  // blanks before the dot), alternate data streams, and trailing dots and blanks it drops.
  for (const char* name : {"CON", "nul.txt", "COM1.dll", "sub/lpt9", "Aux .log", "conout$", "a:b", "x.dll.",
                           "x.dll ", "sub./x.dll", "x*.dll"}) {
    WriteTextFile(data, std::string("<root><files><file name=\"ok.txt\"/><file name=\"") + name +
                            "\"/></files></root>");
    EXPECT_EQ(1, config.LoadKitData(data)) << name;
  }
  for (const char* name : {"console.dll", "com10.dll", "nul_x.txt", "sub/lpt.txt", ".hidden", "a b/c.txt"}) {
    WriteTextFile(data, std::string("<root><files><file name=\"") + name + "\"/></files></root>");
    EXPECT_EQ(0, config.LoadKitData(data)) << name << " is an ordinary name";
  }
  WriteTextFile(data, "<root><nofiles/></root>");
  EXPECT_NE(0, config.LoadKitData(data));
}

class KitData : public testing::Test {
 protected:
  void SetUp() override {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    CreateDirectoryW((folder_.Path() + L"\\work").c_str(), nullptr);
  }
  void TearDown() override { CoUninitialize(); }
  // LoadKitData of `xml` written as data.xml, with `config` set up for a 32-bit kit.
  int32_t Load(CProductConfig& config, const std::string& xml) {
    config.SetData(folder_.Path() + L"\\work", L"", L"", CProductConfig::kArch32, false, true, L"");
    const std::wstring data = folder_.Path() + L"\\data.xml";
    WriteTextFile(data, xml);
    return config.LoadKitData(data);
  }
  ScopedTempFolder folder_;
};

TEST_F(KitData, SizesThatAreNoPositiveNumberCountAsMissing) {
  for (const char* size : {"0", "abc", "-5", ""}) {
    CProductConfig config;
    ASSERT_EQ(0, Load(config, std::string("<root><files><file name=\"a\" size=\"10\"/><file name=\"b\" size=\"") +
                                  size + "\"/></files></root>"));
    EXPECT_FALSE(config.AllSizesKnown()) << "size \"" << size << "\"";
    EXPECT_EQ(0u, config.Downloader().Entries()[1].expectedSize) << size;
  }
  CProductConfig sized;
  ASSERT_EQ(0, Load(sized, "<root><files><file name=\"a\" size=\"10\"/><file name=\"b\" size=\"3\"/></files></root>"));
  EXPECT_TRUE(sized.AllSizesKnown());
}

TEST_F(KitData, UnreadableDocumentsGiveTheLowBitsOfTheLoadResult) {
  CProductConfig config;
  const int32_t malformed = Load(config, "<root><files><file name=\"a\"");
  EXPECT_NE(0, malformed);
  EXPECT_EQ(malformed & 0xFFFF, malformed) << "16 bits";
  EXPECT_NE(16389, malformed) << "not E_FAIL in place of what the load said";

  CProductConfig huge;
  std::string big = "<root><files>";
  big += "<!--" + std::string(palisk::XmlDocument::kMaxDocumentBytes, 'x') + "-->";
  big += "</files></root>";
  EXPECT_EQ(ERROR_FILE_TOO_LARGE, Load(huge, big)) << "refused before parsing";
}

TEST_F(KitData, DocumentsWithADtdAreRefused) {
  CProductConfig config;
  EXPECT_NE(0, Load(config, "<!DOCTYPE root [<!ENTITY e \"x\">]>"
                            "<root><files><file name=\"&e;\" size=\"1\"/></files></root>"));
  EXPECT_TRUE(config.Downloader().Entries().empty());
}

TEST(ProxyPassword, DecryptsWhatTheKitToolEncrypted) {
  // kittool.py encrypt-proxy-pass s3cret
  EXPECT_EQ(L"s3cret", CFileDownloader::DecryptProxyPassword(L"64FWFRXjHR8="));
  EXPECT_EQ(L"", CFileDownloader::DecryptProxyPassword(L""));
  EXPECT_EQ(L"", CFileDownloader::DecryptProxyPassword(L"not base64!"));
}

class Downloads : public Kit {
 protected:
  // A file the verifier exempts (data.xml), so these tests are about transfers only.
  std::wstring DataXmlUrl(const std::string& tag) {
    return server_.TaggedKitUrl(tag, "basic") + L"kits/1.0.0/win32/data.xml";
  }
};

TEST_F(Downloads, ServerFailingTwiceSucceedsOnTheThirdAttemptWithoutPause) {
  const std::string tag = Tag("twice");
  ASSERT_TRUE(server_.AddRules({{{"path", "/v/" + tag + "/"}, {"status", 503}, {"first", 2}}}));
  CFileDownloader downloader;
  downloader.SetBasePath(Work(L"").c_str());  // data.xml at the top of it: a descriptor, exempt
  ASSERT_EQ(0, downloader.AddFile(DataXmlUrl(tag).c_str(), Work(L"data.xml").c_str(), L"", 0, false));
  EXPECT_EQ(0, downloader.AddFile(DataXmlUrl(tag).c_str(), Work(L"other.xml").c_str(), L"", 0, false))
      << "the same URL is one entry";
  const DWORD start = GetTickCount();
  EXPECT_EQ(0, downloader.DownloadFiles(3, 0));
  EXPECT_LT(GetTickCount() - start, 4000u);
  EXPECT_EQ(3u, server_.Requests("/v/" + tag + "/").size());
  EXPECT_TRUE(FileExists(Work(L"data.xml")));
}

TEST_F(Downloads, ZeroAttemptsStillMakesOne) {
  const std::string tag = Tag("zero");
  ASSERT_TRUE(server_.AddRules({{{"path", "/v/" + tag + "/"}, {"status", 503}}}));
  CFileDownloader downloader;
  downloader.AddFile(DataXmlUrl(tag).c_str(), Work(L"data.xml").c_str(), L"", 0, false);
  EXPECT_EQ(100503, downloader.DownloadFiles(0, 0));
  EXPECT_EQ(1u, server_.Requests("/v/" + tag + "/").size());
}

TEST_F(Downloads, FailedFileStopsTheWalk) {
  const std::string tag = Tag("stop");
  CFileDownloader downloader;
  downloader.AddFile((server_.TaggedKitUrl(tag, "basic") + L"missing/data.xml").c_str(), Work(L"a\\data.xml").c_str(),
                     L"", 0, false);
  downloader.AddFile(DataXmlUrl(tag).c_str(), Work(L"b\\data.xml").c_str(), L"", 0, false);
  EXPECT_EQ(100404, downloader.DownloadFiles(1, 0));
  EXPECT_EQ(1, downloader.Entries()[0].status);
  EXPECT_EQ(100404, downloader.Entries()[0].result);
  EXPECT_EQ(0, downloader.Entries()[1].status) << "still pending";
  EXPECT_FALSE(FileExists(Work(L"a\\data.xml")));
}

TEST_F(Downloads, FakeparamIsJoinedWithQuestionMarkOrAmpersand) {
  const std::string tag = Tag("query");
  CFileDownloader downloader;
  ASSERT_EQ(0, downloader.downloadSinglefile(DataXmlUrl(tag).c_str(), Work(L"1\\data.xml").c_str(), 0, L""));
  ASSERT_EQ(0, downloader.downloadSinglefile((DataXmlUrl(tag) + L"?x=1").c_str(), Work(L"2\\data.xml").c_str(), 0, L""));
  const nlohmann::json requests = server_.Requests("/v/" + tag + "/");
  ASSERT_EQ(2u, requests.size());
  EXPECT_EQ(0u, requests[0]["query"].get<std::string>().find("fakeparam="));
  EXPECT_EQ(0u, requests[1]["query"].get<std::string>().find("x=1&fakeparam="));
}

TEST_F(Downloads, UrlWithoutSchemeTriesHttpThenHttps) {
  const std::string tag = Tag("scheme");
  CFileDownloader downloader;
  // The HTTPS port does not speak plain HTTP: the first try fails, the https one succeeds.
  const std::wstring url = L"127.0.0.1:" + std::to_wstring(server_.Port("https")) + L"/v/" +
                           testing_support::Utf8ToWide(tag) + L"/basic/kits/1.0.0/win32/data.xml";
  ASSERT_EQ(0, downloader.downloadSinglefile(url.c_str(), Work(L"data.xml").c_str(), 0, L""));
  const nlohmann::json requests = server_.Requests("/v/" + tag + "/");
  ASSERT_EQ(1u, requests.size());
  EXPECT_EQ("https", requests[0]["server"]);
}

// A body longer than its declared size fails as soon as the excess arrives; nothing of it is
// left on disk. A body of exactly that size is fine.
TEST_F(Downloads, BodyLongerThanItsDeclaredSizeFailsAndLeavesNothing) {
  const std::string tag = Tag("oversize");
  const std::wstring big = server_.Url("http", L"/v/" + testing_support::Utf8ToWide(tag) + L"/big.bin");
  CFileDownloader downloader;
  downloader.SetBasePath(Work(L"").c_str());
  ASSERT_EQ(0, downloader.AddFile(big.c_str(), Work(L"big.bin").c_str(), L"", 1000, false));
  EXPECT_EQ(ERROR_FILE_TOO_LARGE, downloader.DownloadFiles(1, 0));
  EXPECT_FALSE(FileExists(Work(L"big.bin")));

  const std::string dataXml = testing_support::PlainRequest(
      L"GET", server_.Port("http"), (L"/v/" + testing_support::Utf8ToWide(tag) + L"/basic/kits/1.0.0/win32/data.xml").c_str(),
      "");
  ASSERT_FALSE(dataXml.empty());
  ASSERT_EQ(0, downloader.AddFile(DataXmlUrl(tag).c_str(), Work(L"data.xml").c_str(), L"",
                                  static_cast<uint32_t>(dataXml.size()), false));
  EXPECT_EQ(0, downloader.DownloadFiles(1, 0));
  EXPECT_TRUE(FileExists(Work(L"data.xml")));
}

// Without a declared size a download may not bring the drive's free space under the margin.
TEST_F(Downloads, BodyThatWouldEatIntoTheFreeSpaceMarginFailsAndLeavesNothing) {
  ULARGE_INTEGER available = {}, total = {}, free = {};
  ASSERT_TRUE(GetDiskFreeSpaceExW(folder_.Path().c_str(), &available, &total, &free));
  const std::wstring big = server_.Url("http", L"/v/" + testing_support::Utf8ToWide(Tag("margin")) + L"/big.bin");
  CFileDownloader downloader;
  downloader.SetFreeSpaceMargin(available.QuadPart + (1ull << 30));
  EXPECT_EQ(ERROR_DISK_FULL, downloader.downloadSinglefile(big.c_str(), Work(L"big.bin").c_str(), 0, L""));
  EXPECT_FALSE(FileExists(Work(L"big.bin")));
  downloader.SetFreeSpaceMargin(1ull << 20);
  EXPECT_EQ(0, downloader.downloadSinglefile(big.c_str(), Work(L"big.bin").c_str(), 0, L""));
  EXPECT_EQ(1u << 20, testing_support::ReadBinaryFile(Work(L"big.bin")).size());
}

std::wstring FlatSha256(const std::string& bytes) {
  std::vector<uint8_t> digest;
  palisk::DigestBytes("2.16.840.1.101.3.4.2.1", reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), digest);
  return palisk::LowerHex(digest.data(), digest.size());
}

// Each file is hashed from the disk while it lands; the digest is the whole file's, whatever
// its size against the pieces it is read back in (none, one, a head, pieces plus a rest).
TEST_F(Downloads, DigestHashedWhileTheFileLandsIsTheWholeFilesDigest) {
  const std::string tag = Tag("landed");
  CFileDownloader downloader;
  for (const size_t size : {size_t{0}, size_t{1}, size_t{65535}, size_t{65537}, size_t{3 * 1048576 + 7}}) {
    std::string body;
    for (size_t i = 0; i < size; ++i) body += static_cast<char>('a' + (i * 7 + i / 251) % 26);
    const std::string path = "/v/" + tag + "/size" + std::to_string(size);
    ASSERT_TRUE(server_.AddRules({{{"path", path + "$"}, {"status", 200}, {"body", body}}}));
    const std::wstring local = Work(L"sizes\\") + std::to_wstring(size) + L".bin";
    ASSERT_EQ(0, downloader.downloadSinglefile(server_.Url("http", testing_support::Utf8ToWide(path)).c_str(),
                                               local.c_str(), 0, L""));
    ASSERT_EQ(body, testing_support::ReadBinaryFile(local)) << size;
    EXPECT_EQ(FlatSha256(body), downloader.LandedDigest()) << size;
  }
  // An image is hashed as the catalog records it (less its checksum and certificate table).
  const std::wstring kit = server_.KitUrl("basic") + L"kits/1.0.0/win32/";
  ASSERT_EQ(0, downloader.downloadSinglefile((kit + L"kit.cat").c_str(), Work(L"kit.cat").c_str(), 0, L""));
  std::vector<palisk::CatalogEntry> entries;
  ASSERT_EQ(0u, palisk::ReadCatalogEntries(Work(L"kit.cat"), entries));
  ASSERT_EQ(0, downloader.downloadSinglefile((kit + L"Installer.exe").c_str(), Work(L"x86\\Installer.exe").c_str(), 0,
                                             L""));
  std::wstring recorded;
  for (const palisk::CatalogEntry& entry : entries) {
    if (entry.fileName.find(L"Installer.exe") != std::wstring::npos) recorded = entry.digestHex;
  }
  EXPECT_EQ(64u, recorded.size());
  EXPECT_EQ(recorded, downloader.LandedDigest());
}

// A body cut short (after the hashing thread started) leaves no digest, no handle and no file.
TEST_F(Downloads, CutBodyLeavesNoDigestNoHandleNoFile) {
  const std::string cut = Tag("cut");
  ASSERT_TRUE(server_.AddRules({{{"path", "/v/" + cut + "/big.bin"}, {"status", 200}, {"body", std::string(3 << 20, 'c')},
                                 {"close_after", 2 << 20}}}));
  const std::wstring url = server_.Url("http", L"/v/" + testing_support::Utf8ToWide(cut) + L"/big.bin");
  CFileDownloader downloader;
  EXPECT_NE(0, downloader.downloadSinglefile(url.c_str(), Work(L"cut.bin").c_str(), 0, L""));
  EXPECT_EQ(L"", downloader.LandedDigest());
  EXPECT_FALSE(FileExists(Work(L"cut.bin"))) << "deleted: no handle of the hashing thread kept it";
}

// A file written by someone else between the download's close and its hold is not judged by
// the digest hashed while it landed: it is hashed again, and refused.
TEST_F(Downloads, FileChangedAfterItsDownloadIsHashedAgain) {
  CFileDownloader downloader;
  const std::wstring kit = server_.KitUrl("basic") + L"kits/1.0.0/win32/";
  ASSERT_EQ(0, downloader.downloadSinglefile((kit + L"kit.cat").c_str(), Work(L"kit.cat").c_str(), 1, L""));
  FileEntry entry;
  entry.url = (kit + L"readme.txt").c_str();
  entry.finalPath = Work(L"x86\\readme.txt").c_str();
  ASSERT_EQ(0, downloader.DownloadFile(entry, L""));
  EXPECT_TRUE(downloader.CheckFile(entry));

  ASSERT_EQ(0, downloader.DownloadFile(entry, L""));
  ASSERT_FALSE(downloader.LandedDigest().empty());
  HANDLE other = CreateFileW(Work(L"x86\\readme.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, other);
  DWORD written = 0;
  EXPECT_TRUE(WriteFile(other, "X", 1, &written, nullptr));
  CloseHandle(other);
  EXPECT_FALSE(downloader.CheckFile(entry));
}

TEST_F(Downloads, ReplaceFileLeavesNoAsideCopy) {
  ASSERT_TRUE(WriteTextFile(Work(L"new.txt"), "new"));
  ASSERT_TRUE(WriteTextFile(Work(L"dest\\old.txt"), "old"));
  CFileDownloader downloader;
  ASSERT_EQ(0u, downloader.ReplaceFile(Work(L"new.txt").c_str(), Work(L"dest\\old.txt").c_str()));
  EXPECT_EQ(L"new", testing_support::ReadTextFile(Work(L"dest\\old.txt")));
  EXPECT_FALSE(FileExists(Work(L"new.txt")));
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW(Work(L"dest\\del_*").c_str(), &data);
  EXPECT_EQ(INVALID_HANDLE_VALUE, find);
  if (find != INVALID_HANDLE_VALUE) FindClose(find);
  EXPECT_EQ(static_cast<uint32_t>(ERROR_INVALID_PARAMETER), downloader.ReplaceFile(nullptr, L"x"));
}

}  // namespace
