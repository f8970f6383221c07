// CHypraWrapper's contract with Hypra is exactly what it passes, in which order: checked here
// against a recording double of hypra.dll that sits beside this test.
#include "libheaders/hyprawrapper.h"

#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "framework/scoped_handle.h"
#include "support/recording_listener.h"

namespace {

using palisk::ProxyRecord;

struct Recorder {
  Recorder() {
    HMODULE hypra = GetModuleHandleW(L"hypra.dll");
    script = ov::GetProc<void (*)(const int*, int)>(hypra, "RecorderScript");
    headers = ov::GetProc<void (*)(const char*)>(hypra, "RecorderHeaders");
    progress = ov::GetProc<void (*)(const uint32_t*, int)>(hypra, "RecorderProgress");
    journal = ov::GetProc<const char* (*)()>(hypra, "RecorderJournal");
    performs = ov::GetProc<int (*)()>(hypra, "RecorderPerforms");
    clear = ov::GetProc<void (*)()>(hypra, "RecorderClear");
    if (clear != nullptr) clear();
  }
  bool Loaded() const { return script && headers && progress && journal && performs && clear; }
  void (*script)(const int*, int) = nullptr;
  void (*headers)(const char*) = nullptr;
  void (*progress)(const uint32_t*, int) = nullptr;
  const char* (*journal)() = nullptr;
  int (*performs)() = nullptr;
  void (*clear)() = nullptr;
};

ProxyRecord Proxy(const wchar_t* host, uint32_t port, const wchar_t* user = L"", const wchar_t* password = L"") {
  ProxyRecord record;
  record.host = host;
  record.port = port;
  record.user = user;
  record.password = password;
  return record;
}

// Values of option `id` in journal order ("1=proxy:1;..." gives the proxies of each attempt).
std::vector<std::string> Values(const std::string& journal, int id) {
  std::vector<std::string> values;
  const std::string key = std::to_string(id) + "=";
  size_t at = 0;
  while (at < journal.size()) {
    size_t end = journal.find(';', at);
    if (end == std::string::npos) end = journal.size();
    const std::string entry = journal.substr(at, end - at);
    if (entry.compare(0, key.size(), key) == 0) values.push_back(entry.substr(key.size()));
    at = end + 1;
  }
  return values;
}

class Wrapper : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(recorder_.Loaded()) << "the recording hypra.dll is not beside the test";
    ASSERT_EQ(0u, wrapper_.LoadResult());
    wrapper_.OverrideDiscoveredProxies(ProxyRecord(), ProxyRecord());
    recorder_.clear();
  }
  CHypraWrapper wrapper_;
  Recorder recorder_;
};

TEST_F(Wrapper, GetWithoutListenerAppliesTheOptionTableInOrder) {
  EXPECT_EQ(0u, wrapper_.SendRequest(L"http://host:8080/x", L"", nullptr, L""));
  EXPECT_STREQ(
      "99999=9;923=ptr;924=ptr;907=ptr;908=ptr;30=1;915=Expect:;914=9999;921=GET;900=host:8080;901=/x;"
      "1=;2=:;909=0;922=0;10=1;13=30;14=30;12=VAZEzezedavu-Dezoz;912=0;perform(9);",
      recorder_.journal());
}

TEST_F(Wrapper, LocalFileReplacesTheWriteCallback) {
  EXPECT_EQ(0u, wrapper_.SendRequest(L"https://kits.test/a/b?c=d", L"C:\\work\\f.bin", nullptr, L""));
  const std::string journal = recorder_.journal();
  EXPECT_EQ(std::vector<std::string>{"C:\\work\\f.bin"}, Values(journal, 903));
  EXPECT_TRUE(Values(journal, 923).empty());
  EXPECT_EQ(std::vector<std::string>{"kits.test:443"}, Values(journal, 900));
  EXPECT_EQ(std::vector<std::string>{"/a/b?c=d"}, Values(journal, 901));
  EXPECT_EQ(std::vector<std::string>{"1"}, Values(journal, 909));
}

// A body sink stands in for the local file: Hypra gets the write callback, and the sink starts
// afresh before each attempt, so a failed attempt leaves nothing of its body behind.
TEST_F(Wrapper, BodySinkTakesTheBodyAndRestartsForEveryAttempt) {
  struct Sink : CHypraWrapper::IBodySink {
    bool Restart() override {
      ++restarts;
      body.clear();
      return true;
    }
    bool Write(const void* data, size_t size) override {
      body.append(static_cast<const char*>(data), size);
      return true;
    }
    int restarts = 0;
    std::string body;
  } sink;
  wrapper_.SetConfiguredProxy(Proxy(L"proxy.test", 3128));
  const int results[] = {12029, 0};
  recorder_.script(results, 2);
  EXPECT_EQ(0u, wrapper_.SendRequest(L"http://h/x", &sink, nullptr, L""));
  const std::string journal = recorder_.journal();
  EXPECT_TRUE(Values(journal, 903).empty());
  EXPECT_EQ(2u, Values(journal, 923).size());
  EXPECT_EQ(2, sink.restarts);
  EXPECT_EQ("body", sink.body);

  recorder_.clear();
  EXPECT_EQ(0u, wrapper_.SendRequest(L"http://h/y", L"", nullptr, L""));
  EXPECT_EQ(std::vector<std::string>{"ptr"}, Values(recorder_.journal(), 924)) << "the sink is not kept";
  EXPECT_EQ("body", sink.body);
}

// The form-field record (size, name pointer, value pointer) takes 12 bytes in the i686 product
// and 24 in the x64 build; the recorder journals the size it was given.
#ifdef _WIN64
constexpr char kFieldRecordSize[] = "24:";
#else
constexpr char kFieldRecordSize[] = "12:";
#endif

TEST_F(Wrapper, BodyIsPostedAsOneEncodedJsonField) {
  EXPECT_EQ(0u, wrapper_.SendRequest(L"http://h/status", L"", nullptr, L"a /\u00e9"));
  const std::string journal = recorder_.journal();
  const std::string field = std::string(kFieldRecordSize) + "json=a%20/%C3%A9";
  EXPECT_EQ(std::vector<std::string>{"POST"}, Values(journal, 921));
  EXPECT_EQ(std::vector<std::string>{field}, Values(journal, 905));
  // The form field comes last, after every other option.
  EXPECT_NE(std::string::npos, journal.find("912=0;905=" + field + ";perform(9);"));

  recorder_.clear();
  wrapper_.SendRequest(L"http://h/status", L"", nullptr, L"{\"b\":2}");
  EXPECT_EQ(std::vector<std::string>{std::string(kFieldRecordSize) + "json=%7B%22b%22%3A2%7D"},
            Values(recorder_.journal(), 905))
      << "only this request's body";
  recorder_.clear();
  wrapper_.SendRequest(L"http://h/file", L"", nullptr, L"");
  EXPECT_EQ(std::vector<std::string>{"GET"}, Values(recorder_.journal(), 921));
  EXPECT_TRUE(Values(recorder_.journal(), 905).empty());
}

TEST_F(Wrapper, UnsplittableUrlsNeverReachHypra) {
  EXPECT_EQ(1627u, wrapper_.SendRequest(L"ftp://host/x", L"", nullptr, L""));
  EXPECT_EQ(1627u, wrapper_.SendRequest(L"http://hostonly", L"", nullptr, L""));
  EXPECT_EQ(1627u, wrapper_.SendRequest(L"HTTP://host/x", L"", nullptr, L""));
  EXPECT_EQ(1627u, wrapper_.SendRequest(L"http://", L"", nullptr, L""));
  EXPECT_EQ(0, recorder_.performs());
}

TEST_F(Wrapper, NoProxiesAtAllGiveOneAttempt) {
  const int results[] = {12029};
  recorder_.script(results, 1);
  EXPECT_EQ(12029u, wrapper_.SendRequest(L"http://h/x", L"", nullptr, L""));
  EXPECT_EQ(1, recorder_.performs());
  EXPECT_EQ(std::vector<std::string>{""}, Values(recorder_.journal(), 1));
}

TEST_F(Wrapper, FailingConfiguredProxyFallsBackToDirectAndRemembersIt) {
  wrapper_.SetConfiguredProxy(Proxy(L"proxy.test", 3128, L"user", L"p\u00e4ss"));
  const int results[] = {12029, 0};
  recorder_.script(results, 2);
  EXPECT_EQ(0u, wrapper_.SendRequest(L"http://h/x", L"", nullptr, L""));
  const std::string journal = recorder_.journal();
  EXPECT_EQ((std::vector<std::string>{"proxy.test:3128", ""}), Values(journal, 1));
  EXPECT_EQ((std::vector<std::string>{"user:p\xC3\xA4ss", ":"}), Values(journal, 2));
  EXPECT_EQ(CHypraWrapper::kDirect, wrapper_.ProxyMode());

  recorder_.clear();
  EXPECT_EQ(0u, wrapper_.SendRequest(L"http://h/y", L"", nullptr, L""));
  EXPECT_EQ(std::vector<std::string>{""}, Values(recorder_.journal(), 1)) << "the next request starts direct";
  EXPECT_EQ(1, recorder_.performs());
}

TEST_F(Wrapper, EverythingFailingMakesFiveAttempts) {
  wrapper_.SetConfiguredProxy(Proxy(L"conf", 1));
  wrapper_.OverrideDiscoveredProxies(Proxy(L"disc-http", 2), Proxy(L"disc-https", 3));
  const int results[] = {1, 2, 3, 4, 5, 6};
  recorder_.script(results, 6);
  EXPECT_EQ(5u, wrapper_.SendRequest(L"https://h/x", L"", nullptr, L""));
  EXPECT_EQ(5, recorder_.performs());
  EXPECT_EQ((std::vector<std::string>{"conf:1", "disc-https:3", "", "conf:1", "disc-https:3"}),
            Values(recorder_.journal(), 1));
  EXPECT_EQ(CHypraWrapper::kUndetermined, wrapper_.ProxyMode());
}

TEST_F(Wrapper, DiscoveredProxyThatWorksIsRemembered) {
  wrapper_.OverrideDiscoveredProxies(Proxy(L"disc", 8080), ProxyRecord());
  wrapper_.SetConfiguredProxy(Proxy(L"conf", 1));
  const int results[] = {7, 0};
  recorder_.script(results, 2);
  EXPECT_EQ(0u, wrapper_.SendRequest(L"http://h/x", L"", nullptr, L""));
  EXPECT_EQ(CHypraWrapper::kDiscovered, wrapper_.ProxyMode());
  recorder_.clear();
  wrapper_.SendRequest(L"http://h/x", L"", nullptr, L"");
  EXPECT_EQ(std::vector<std::string>{"disc:8080"}, Values(recorder_.journal(), 1));
}

TEST_F(Wrapper, DirectSuccessWithoutConfiguredProxyMeansDirectMode) {
  EXPECT_EQ(0u, wrapper_.SendRequest(L"http://h/x", L"", nullptr, L""));
  EXPECT_EQ(CHypraWrapper::kDirect, wrapper_.ProxyMode());
}

TEST_F(Wrapper, DefaultHeaderCallbackParsesTheStatusLine) {
  recorder_.headers("HTTP/1.1   404 Not Found\t\nContent-Length\t12");
  wrapper_.SendRequest(L"http://h/x", L"", nullptr, L"");
  EXPECT_EQ(404u, wrapper_.LastResult().httpStatus);
  ASSERT_EQ(2u, wrapper_.LastResult().headers.size());
  EXPECT_EQ("Content-Length", wrapper_.LastResult().headers[1].first);
  EXPECT_EQ("body", wrapper_.LastResult().body) << "the default write callback keeps the body";
  recorder_.headers("garbage\t");
  wrapper_.SendRequest(L"http://h/x", L"", nullptr, L"");
  EXPECT_EQ(0u, wrapper_.LastResult().httpStatus);
}

using CountingListener = testing_support::RecordingListener;

TEST_F(Wrapper, ListenerHearsContentLengthAndProgress) {
  recorder_.headers("HTTP/1.1 200 OK\t\ncontent-length\t300\nX-Other\t1");
  const uint32_t deltas[] = {100, 200};
  recorder_.progress(deltas, 2);
  CountingListener listener;
  EXPECT_EQ(0u, wrapper_.SendRequest(L"http://h/x", L"C:\\f", &listener, L""));
  EXPECT_EQ(1, listener.begins);
  EXPECT_EQ(300u, listener.received);
  EXPECT_EQ((std::vector<uint32_t>{300, 300}), listener.totals);
  EXPECT_EQ(std::vector<std::string>{"ptr"}, Values(recorder_.journal(), 917));

  recorder_.clear();
  wrapper_.SendRequest(L"http://h/x", L"C:\\f", nullptr, L"");
  EXPECT_TRUE(Values(recorder_.journal(), 917).empty()) << "no listener, no progress callback";
}

// A listener that calls back into the client from inside Perform: the lock is not recursive.
class ReenteringListener : public CountingListener {
 public:
  explicit ReenteringListener(CHypraWrapper& wrapper) : m_wrapper(wrapper) {}
  int OnBeginDownload(const DownloadStatus::FileIdentity&) override {
    m_wrapper.SendRequest(L"http://h/again", L"", nullptr, L"");
    return 0;
  }

 private:
  CHypraWrapper& m_wrapper;
};

TEST(WrapperDeathTest, CallingBackIntoTheClientEndsTheProcess) {
  EXPECT_EXIT(
      {
        CHypraWrapper wrapper;
        Recorder recorder;
        recorder.headers("HTTP/1.1 200 OK\t\nContent-Length\t5");
        ReenteringListener listener(wrapper);
        wrapper.SendRequest(L"http://h/x", L"C:\\f", &listener, L"");
        std::exit(0);
      },
      [](int code) { return code != 0; }, "");
}

TEST(SplitUrl, SchemesHostsPortsAndPaths) {
  std::wstring scheme, host, path;
  uint32_t port = 0;
  ASSERT_TRUE(SplitUrl(L"http://host:8080/x", scheme, host, port, path));
  EXPECT_EQ(L"http", scheme);
  EXPECT_EQ(L"host", host);
  EXPECT_EQ(8080u, port);
  EXPECT_EQ(L"x", path);
  ASSERT_TRUE(SplitUrl(L"https://h/a/b?q=1", scheme, host, port, path));
  EXPECT_EQ(443u, port);
  EXPECT_EQ(L"a/b?q=1", path);
  ASSERT_TRUE(SplitUrl(L"http://h/", scheme, host, port, path));
  EXPECT_EQ(80u, port);
  EXPECT_EQ(L"", path);
  ASSERT_TRUE(SplitUrl(L"garbage http://h:12ab/p", scheme, host, port, path)) << "found anywhere";
  EXPECT_EQ(12u, port);
  ASSERT_TRUE(SplitUrl(L"http://h:/p", scheme, host, port, path));
  EXPECT_EQ(0u, port);
  EXPECT_FALSE(SplitUrl(L"http://h", scheme, host, port, path));
  EXPECT_FALSE(SplitUrl(L"Https://h/p", scheme, host, port, path));
}

TEST(PercentEncode, KeepsOnlyTheSafeSet) {
  EXPECT_EQ("a%20/%C3%A9", PercentEncode(L"a /\u00e9"));
  EXPECT_EQ("AZaz09./-~_", PercentEncode(L"AZaz09./-~_"));
  EXPECT_EQ("%7B%22x%22%3A%201%2C%20%22y%22%3A%22%5C%22%7D", PercentEncode(L"{\"x\": 1, \"y\":\"\\\"}"));
}

}  // namespace
