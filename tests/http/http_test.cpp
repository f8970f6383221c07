// Real requests through the hypra.dll stand-in (beside this test) against the shared kit
// server: files, reports, HTTPS, failures, proxies and progress.
#include "libheaders/hyprawrapper.h"

#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "framework/scoped_handle.h"
#include "outside/hypra/content_length.h"
#include "support/kit_server.h"
#include "support/recording_listener.h"
#include "support/test_support.h"

namespace {

using testing_support::KitServer;
using testing_support::ReadTextFile;
using testing_support::ScopedTempFolder;

using testing_support::ReadBinaryFile;

std::string BigFile() {
  std::string data;
  for (int i = 0; i < 4096; ++i) {
    for (int b = 0; b < 256; ++b) data += static_cast<char>(b);
  }
  return data;
}

// Requests of this process are kept apart from those of other test processes by a tag.
std::string Tag(const char* name) { return "/v/" + std::string(name) + "-" + std::to_string(GetCurrentProcessId()) + "/"; }

std::wstring Path(const wchar_t* tag, const wchar_t* file) {
  return L"/v/" + std::wstring(tag) + L"-" + std::to_wstring(GetCurrentProcessId()) + L"/" + file;
}

palisk::ProxyRecord Proxy(uint16_t port, const wchar_t* user = L"", const wchar_t* password = L"") {
  palisk::ProxyRecord record;
  record.host = L"127.0.0.1";
  record.port = port;
  record.user = user;
  record.password = password;
  return record;
}

class Http : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.Connect()) << "the KitServer fixture is not running";
    ASSERT_EQ(0u, wrapper_.LoadResult());
    wrapper_.OverrideDiscoveredProxies(palisk::ProxyRecord(), palisk::ProxyRecord());
  }
  std::wstring File(const wchar_t* name) { return folder_.Path() + L"\\" + name; }

  KitServer server_;
  CHypraWrapper wrapper_;
  ScopedTempFolder folder_;
};

TEST_F(Http, GetsAFileWithTheRightRequest) {
  ASSERT_EQ(0u, wrapper_.SendRequest(server_.Url("http", Path(L"get", L"small.txt?fakeparam=1")).c_str(),
                                     File(L"small.txt").c_str(), nullptr, L""));
  EXPECT_EQ("small file from the kit server\n", ReadBinaryFile(File(L"small.txt")));
  const nlohmann::json requests = server_.Requests(Tag("get"));
  ASSERT_EQ(1u, requests.size());
  const nlohmann::json& headers = requests[0]["headers"];
  EXPECT_EQ("VAZEzezedavu-Dezoz", headers.value("User-Agent", ""));
  EXPECT_FALSE(headers.contains("Expect")) << "the empty Expect means none";
  EXPECT_EQ("fakeparam=1", requests[0]["query"]);
  EXPECT_EQ(CHypraWrapper::kDirect, wrapper_.ProxyMode());
}

TEST_F(Http, PostsTheBodyAsAnEncodedJsonField) {
  const std::string tag = "/mgmt/status/post-" + std::to_string(GetCurrentProcessId());
  ASSERT_EQ(0u, wrapper_.SendRequest(server_.Url("http", std::wstring(tag.begin(), tag.end())).c_str(),
                                     File(L"tmp.txt").c_str(), nullptr, L"a /\u00e9"));
  EXPECT_EQ("OK", ReadBinaryFile(File(L"tmp.txt")));
  const nlohmann::json requests = server_.Requests(tag);
  ASSERT_EQ(1u, requests.size());
  EXPECT_EQ("POST", requests[0]["method"]);
  EXPECT_EQ("json=a%20/%C3%A9", requests[0]["raw_body"]);
  EXPECT_EQ("a /\xC3\xA9", requests[0]["form"]["json"]);
}

TEST_F(Http, HttpsToASelfSignedServer) {
  ASSERT_EQ(0u, wrapper_.SendRequest(server_.Url("https", Path(L"https", L"small.txt")).c_str(), File(L"s.txt").c_str(),
                                     nullptr, L""));
  EXPECT_EQ("small file from the kit server\n", ReadBinaryFile(File(L"s.txt")));
  EXPECT_EQ("https", server_.Requests(Tag("https"))[0]["server"]);
}

TEST_F(Http, ErrorStatusFailsAndLeavesNoFile) {
  EXPECT_EQ(100404u, wrapper_.SendRequest(server_.Url("http", Path(L"missing", L"none.bin")).c_str(), File(L"n").c_str(),
                                          nullptr, L""));
  EXPECT_FALSE(testing_support::FileExists(File(L"n")));
  ASSERT_TRUE(server_.AddRules({{{"path", Tag("status503")}, {"status", 503}}}));
  EXPECT_EQ(100503u, wrapper_.SendRequest(server_.Url("http", Path(L"status503", L"small.txt")).c_str(), File(L"n").c_str(),
                                          nullptr, L""));
}

TEST_F(Http, TruncatedBodiesFail) {
  ASSERT_TRUE(server_.AddRules({{{"path", Tag("closed")}, {"close_after", 1000}},
                                {{"path", Tag("short")}, {"content_length", 2000000}}}));
  EXPECT_EQ(static_cast<uint32_t>(kHypraTruncated),
            wrapper_.SendRequest(server_.Url("http", Path(L"closed", L"big.bin")).c_str(), File(L"c").c_str(), nullptr, L""));
  EXPECT_FALSE(testing_support::FileExists(File(L"c")));
  EXPECT_EQ(static_cast<uint32_t>(kHypraTruncated),
            wrapper_.SendRequest(server_.Url("http", Path(L"short", L"big.bin")).c_str(), File(L"s").c_str(), nullptr, L""));
}

TEST_F(Http, ResetConnectionFails) {
  ASSERT_TRUE(server_.AddRules({{{"path", Tag("reset")}, {"reset_after", 500}}}));
  const uint32_t code =
      wrapper_.SendRequest(server_.Url("http", Path(L"reset", L"big.bin")).c_str(), File(L"r").c_str(), nullptr, L"");
  EXPECT_NE(0u, code);
  EXPECT_FALSE(testing_support::FileExists(File(L"r")));
}

TEST_F(Http, ContentLengthReachesTheListenerAndProgressSumsToTheSize) {
  testing_support::RecordingListener progress;
  ASSERT_EQ(0u, wrapper_.SendRequest(server_.Url("http", Path(L"progress", L"big.bin")).c_str(), File(L"b").c_str(),
                                     &progress, L""));
  EXPECT_EQ(1, progress.begins);
  ASSERT_FALSE(progress.totals.empty());
  EXPECT_EQ(1048576u, progress.totals.back());
  EXPECT_EQ(1048576u, progress.received);
  EXPECT_EQ(BigFile(), ReadBinaryFile(File(L"b")));
}

TEST_F(Http, ACancelFromTheListenerEndsTheTransferAtOnce) {
  // The user confirmed quitting: the listener answers the first progress call with -2.
  struct Cancelling : testing_support::RecordingListener {
    int OnDownloadProgress(const DownloadStatus::FileIdentity& file, const DownloadStatus::ProgressPair& p) override {
      RecordingListener::OnDownloadProgress(file, p);
      return DownloadStatus::kCancelled;
    }
  } cancelling;
  EXPECT_EQ(static_cast<uint32_t>(DownloadStatus::kCancelled),
            wrapper_.SendRequest(server_.Url("http", Path(L"cancel", L"big.bin")).c_str(), File(L"x").c_str(),
                                 &cancelling, L""));
  EXPECT_EQ(1u, cancelling.totals.size()) << "the transfer went on after the cancel";
  EXPECT_LT(cancelling.received, 1048576u);
  EXPECT_FALSE(testing_support::FileExists(File(L"x")));
}

TEST_F(Http, FailingConfiguredProxyFallsBackToDirect) {
  wrapper_.SetConfiguredProxy(Proxy(server_.Port("bad_proxy")));
  ASSERT_EQ(0u, wrapper_.SendRequest(server_.Url("http", Path(L"fallback", L"small.txt")).c_str(), File(L"f").c_str(),
                                     nullptr, L""));
  EXPECT_EQ(CHypraWrapper::kDirect, wrapper_.ProxyMode());
  EXPECT_EQ("small file from the kit server\n", ReadBinaryFile(File(L"f")));
}

TEST_F(Http, AuthenticatingProxyCarriesHttpAndHttps) {
  wrapper_.SetConfiguredProxy(Proxy(server_.Port("proxy"), L"user", L"secret"));
  // The origin is named, not 127.0.0.1: WinHTTP would skip the proxy for its own host name.
  const std::wstring http = L"http://origin.test:" + std::to_wstring(server_.Port("http")) + Path(L"via-proxy", L"small.txt");
  ASSERT_EQ(0u, wrapper_.SendRequest(http.c_str(), File(L"p").c_str(), nullptr, L""));
  EXPECT_EQ(CHypraWrapper::kConfigured, wrapper_.ProxyMode());
  EXPECT_EQ("small file from the kit server\n", ReadBinaryFile(File(L"p")));
  const std::wstring https =
      L"https://origin.test:" + std::to_wstring(server_.Port("https")) + Path(L"via-proxy-tls", L"small.txt");
  ASSERT_EQ(0u, wrapper_.SendRequest(https.c_str(), File(L"t").c_str(), nullptr, L""));
  EXPECT_EQ("small file from the kit server\n", ReadBinaryFile(File(L"t")));
  EXPECT_EQ("https", server_.Requests(Tag("via-proxy-tls"))[0]["server"]);
}

TEST_F(Http, WrongProxyPasswordFallsBackToDirect) {
  wrapper_.SetConfiguredProxy(Proxy(server_.Port("proxy"), L"user", L"wrong"));
  const std::wstring url = L"http://127.0.0.1:" + std::to_wstring(server_.Port("http")) + Path(L"wrong-pass", L"small.txt");
  ASSERT_EQ(0u, wrapper_.SendRequest(url.c_str(), File(L"w").c_str(), nullptr, L""));
  EXPECT_EQ(CHypraWrapper::kDirect, wrapper_.ProxyMode());
}

// The stand-in on its own, for what the wrapper fixes (its 30 s timeouts).
// A Content-Length past 4 GiB is read whole: cut to 32 bits, a complete body would look
// truncated.
TEST(ContentLength, SixtyFourBitValuesAndNothingElse) {
  uint64_t length = 1;
  ASSERT_TRUE(hypra::ParseContentLength(L"5368709120", length));
  EXPECT_EQ(5368709120ull, length);
  ASSERT_TRUE(hypra::ParseContentLength(L" 0 ", length));
  EXPECT_EQ(0u, length);
  ASSERT_TRUE(hypra::ParseContentLength(L"9223372036854775807", length));
  for (const wchar_t* bad : {L"", L"-1", L"12abc", L"1 2", L"0x10", L"9223372036854775808", L"99999999999999999999"}) {
    EXPECT_FALSE(hypra::ParseContentLength(bad, length)) << bad;
    EXPECT_EQ(0u, length);
  }
  EXPECT_FALSE(hypra::ParseContentLength(nullptr, length));
}

TEST(HypraStandIn, StalledServerTimesOut) {
  KitServer server;
  ASSERT_TRUE(server.Connect());
  ASSERT_TRUE(server.AddRules({{{"path", Tag("stall")}, {"stall", 20}}}));
  ov::ScopedModule module(LoadLibraryW((testing_support::TestBinFolder() + L"\\hypra.dll").c_str()));
  HMODULE hypra = module.Get();
  auto create = ov::GetProc<HypraNewFn>(hypra, "HypraNew");
  auto destroy = ov::GetProc<HypraDeleteFn>(hypra, "HypraDelete");
  ASSERT_NE(nullptr, create);
  IHypraRequest* request = create();
  const uint32_t kind = kHypraGenReport, two = 2;
  const std::string address = "127.0.0.1:" + std::to_string(server.Port("http"));
  request->SetOption(HYPRA_OPT_RequestKind, &kind);
  request->SetOption(HYPRA_OPT_GenReport_Server, address.c_str());
  const std::string path = Tag("stall") + "small.txt";
  request->SetOption(HYPRA_OPT_GenReport_Url, path.c_str());
  request->SetOption(HYPRA_OPT_IOTimeout, &two);
  request->SetOption(HYPRA_OPT_ConnectTimeout, &two);
  const DWORD start = GetTickCount();
  const int result = request->Perform(kHypraGenReport);
  const DWORD elapsed = GetTickCount() - start;
  destroy(request);
  EXPECT_EQ(12002, result);  // ERROR_WINHTTP_TIMEOUT
  EXPECT_LT(elapsed, 15000u) << "bounded by the 2 s I/O timeout, not by the 20 s stall";
}

TEST(HypraStandIn, RefusesUnknownOptionsAndKinds) {
  ov::ScopedModule module(LoadLibraryW((testing_support::TestBinFolder() + L"\\hypra.dll").c_str()));
  HMODULE hypra = module.Get();
  ASSERT_NE(nullptr, ov::GetProc<HypraNewFn>(hypra, "HypraNew"));
  IHypraRequest* request = ov::GetProc<HypraNewFn>(hypra, "HypraNew")();
  const uint32_t eight = 8, nine = 9;
  EXPECT_EQ(kHypraBadOptions, request->SetOption(HYPRA_OPT_RequestKind, &eight));
  EXPECT_EQ(0, request->SetOption(HYPRA_OPT_RequestKind, &nine));
  EXPECT_NE(0, request->SetOption(4242, &nine));
  EXPECT_NE(0, request->SetOption(HYPRA_OPT_GenReport_Method, "PUT"));
  EXPECT_EQ(kHypraBadOptions, request->Perform(kHypraGenReport)) << "no server set";
  ov::GetProc<HypraDeleteFn>(hypra, "HypraDelete")(request);
}

}  // namespace
