// Every parser and decoder against seeded malformed and mutated inputs: each case must end in
// a clear error or the documented fallback, never a crash or a hang. Each test prints its seed
// and case count; PALISK_ROBUSTNESS_SEED and PALISK_ROBUSTNESS_CASES replay or widen a run.
#include <winsock2.h>
#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "dllprotect/dll_event.h"
#include "dllprotect/trust_checks.h"
#include "binlog_reader.h"
#include "framework/utf8.h"
#include "glossel/dictionary.h"
#include "installer/palisk/catalog_reader.h"
#include "installer/palisk/command_line.h"
#include "installer/palisk/fileverifier.h"
#include "installer/palisk/path_macros.h"
#include "installer/palisk/productconfig.h"
#include "libheaders/hyprawrapper.h"
#include "logging/binary_logger.h"
#include "robustness/mutator.h"
#include "support/test_support.h"

namespace {

using robustness::Mutate;
using robustness::MutateWide;
using robustness::Rng;
using testing_support::BuildFolder;
using testing_support::FileExists;
using testing_support::ReadBinaryFile;
using testing_support::ScopedTempFolder;

// Each parser draws from its own stream of the run's seed, so one can be replayed alone.
class Robustness : public testing::Test {
 protected:
  void SetUp() override {
    const std::string name = testing::UnitTest::GetInstance()->current_test_info()->name();
    uint64_t stream = 1469598103934665603ull;
    for (char c : name) stream = (stream ^ static_cast<uint8_t>(c)) * 1099511628211ull;
    seed_ = robustness::RunSeed();
    cases_ = robustness::CasesPerParser();
    rng_ = Rng(seed_ ^ stream);
    std::printf("[robustness] %s: seed %llu, %u cases\n", name.c_str(), static_cast<unsigned long long>(seed_),
                static_cast<unsigned>(cases_));
  }
  // Names the case in a failure message so it can be replayed.
  std::string Case(size_t n) const {
    return "case " + std::to_string(n) + " of seed " + std::to_string(seed_);
  }
  uint64_t seed_ = 0;
  size_t cases_ = 0;
  Rng rng_{1};
};

void WriteBytes(const std::wstring& path, const std::string& bytes) {
  std::ofstream out(testing_support::WideToUtf8(path), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

TEST_F(Robustness, DictionaryLinesAndFiles) {
  const std::vector<std::wstring> lines = {
      L"Are you sure you want to quit?=Wirklich beenden?", L"\"key with  blanks \"=\" text \"",
      L"a=b=c=d=e", L"[LanguageName]=Fran\u00e7ais", L"Lines=first\\n\\rsecond", L"  spaced  =  x  ",
      L"Not enough free space on drive [%1]. Please free [%2] MB.=Pas assez d'espace sur [%1] : [%2] Mo.",
      L"=", L"noequals"};
  const std::vector<std::wstring> tokens = {L"=", L"\"", L"\"=\"", L"\\n\\r", L"\\\\", L"[%1]"};
  for (size_t n = 0; n < cases_; ++n) {
    const std::wstring line = MutateWide(lines[n % lines.size()], rng_, tokens);
    std::wstring rawKey, text;
    if (CDictLoader::ParseLine(line, rawKey, text)) {
      ASSERT_LE(rawKey.size() + text.size(), line.size()) << Case(n);
    }
    CDictLoader::Unescape(CDictLoader::Trim(rawKey));
  }

  ScopedTempFolder folder;
  const std::wstring path = folder.Path() + L"\\palisk.dict";
  std::string sample = "\xEF\xBB\xBF";
  for (const std::wstring& line : lines) sample += ov::ToUtf8(line) + "\r\n";
  for (size_t n = 0; n < cases_; ++n) {
    WriteBytes(path, Mutate(sample, rng_, {"=", "\"", "\r\n", "\\n\\r"}));
    CDictionary dictionary;
    dictionary.Load(path.c_str());  // a file without one good line is still a (empty) dictionary
    const wchar_t* text = nullptr;
    ASSERT_TRUE(dictionary.GetString(text, L"Are you sure you want to quit?", path.c_str()) || text == nullptr) << Case(n);
    dictionary.LanguageName(text);
  }
}

TEST_F(Robustness, LatestDat) {
  const std::vector<std::string> samples = {"1.0.0 kits/1.0.0\n", "1.0.0 kits/1.0.0\r\n", "2.1 a b c", "1.0.0"};
  for (size_t n = 0; n < cases_; ++n) {
    const std::string text = Mutate(samples[n % samples.size()], rng_, {" ", "  ", "\r\n"});
    std::wstring folder;
    if (palisk::KitFolderFromLatestDat(text, folder)) {
      ASSERT_FALSE(folder.empty()) << Case(n);
      ASSERT_EQ(std::wstring::npos, folder.find(L' ')) << Case(n) << ": one token";
      ASSERT_TRUE(folder.back() != L'\r' && folder.back() != L'\n') << Case(n);
    } else {
      ASSERT_TRUE(folder.empty()) << Case(n);
    }
  }
}

class RobustnessXml : public Robustness {
 protected:
  void SetUp() override {
    Robustness::SetUp();
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  }
  void TearDown() override { CoUninitialize(); }
};

TEST_F(RobustnessXml, ConfigurationXml) {
  const std::string sample =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<config><downloadUrl>https://kits.example.com/orvane/</downloadUrl>"
      "<proxyServer>proxy.corp</proxyServer><proxyPort>3128</proxyPort><proxyUser>svc</proxyUser>"
      "<proxyPass>64FWFRXjHR8=</proxyPass><autodetectProxy>1</autodetectProxy>"
      "<installLink>https://mgmt.example.com/install</installLink><statusLink>https://mgmt/status</statusLink>"
      "<keepSettings>1</keepSettings></config>";
  ScopedTempFolder folder;
  const std::wstring path = folder.Path() + L"\\installer.xml";
  CProductConfig config;  // one for all cases: building its HTTP client costs more than a parse
  for (size_t n = 0; n < cases_; ++n) {
    WriteBytes(path, Mutate(sample, rng_, {"<config>", "</config>", "<![CDATA[", "&amp;", "&#0;", "<a>", "\"", "<!--"}));
    config.LoadDataFromFile(path);  // any HRESULT; what matters is that it returns
  }
}

TEST_F(RobustnessXml, DataXml) {
  const std::string sample =
      "<?xml version=\"1.0\"?><root><manufacturer>Orvane</manufacturer><productname>Endpoint</productname>"
      "<UpgradeCode>{6F1D2C3B-4A5E-4F60-8172-93A4B5C6D7E8}</UpgradeCode><minspaceavailabe>500</minspaceavailabe>"
      "<retry_fail>3</retry_fail><run_command proc=\"Installer.exe\" params=\"\"/><files>"
      "<file name=\"Installer.exe\" md5=\"0123\" size=\"4096\"/><file name=\"sub/data.bin\" size=\"12\"/>"
      "<file name=\"optional.txt\" required=\"0\"/><file name=\"x.txt\" url=\"http://elsewhere/x\" size=\"-5\"/>"
      "</files></root>";
  ScopedTempFolder folder;
  const std::wstring work = folder.Make(L"work\\");
  const std::wstring path = folder.Path() + L"\\data.xml";
  const std::wstring kitFolder = work + L"x86\\";
  CProductConfig config;  // one for all cases: building its HTTP client costs more than a parse
  config.SetData(work, L"", L"", CProductConfig::kArch32, false, true, L"");
  for (size_t n = 0; n < cases_; ++n) {
    WriteBytes(path, Mutate(sample, rng_, {"<file name=\"", "\"/>", "..", "/../", "\\", "<files>", "</root>", "<a>"}));
    config.Downloader().RemoveAllEntries();
    const int32_t result = config.LoadKitData(path);
    ASSERT_TRUE(result >= 0 && result <= 0xFFFF) << Case(n) << ": " << result;
    // Whatever the descriptor says, every file lands inside the kit's folder.
    for (const FileEntry& entry : config.Downloader().Entries()) {
      const std::wstring local = entry.finalPath.c_str();
      ASSERT_EQ(0, _wcsnicmp(local.c_str(), kitFolder.c_str(), kitFolder.size())) << Case(n);
      ASSERT_EQ(std::wstring::npos, local.find(L"..")) << Case(n);
    }
  }
}

std::string CatalogSummary(const std::vector<palisk::CatalogEntry>& entries) {
  std::string summary;
  for (const palisk::CatalogEntry& e : entries) summary += ov::ToUtf8(e.fileName + L"=" + e.digestHex + L";");
  return summary;
}

TEST_F(Robustness, Catalogs) {
  const std::wstring kit = BuildFolder() + L"\\testdata\\kits\\good\\kits\\1.0.0\\win32\\";
  const std::string original = ReadBinaryFile(kit + L"kit.cat");
  ASSERT_FALSE(original.empty()) << "run the prepare_test_kits fixture first";
  ScopedTempFolder folder;
  const std::wstring path = folder.Make(L"kit.cat");
  const std::wstring member = folder.Make(L"x86\\readme.txt");
  ASSERT_TRUE(testing_support::CopyFileTo(kit + L"readme.txt", member));
  WriteBytes(path, original);
  std::vector<palisk::CatalogEntry> good;
  ASSERT_EQ(0u, palisk::ReadCatalogEntries(path, good));
  const std::string goodSummary = CatalogSummary(good);
  size_t accepted = 0;
  for (size_t n = 0; n < cases_; ++n) {
    const std::string bytes = Mutate(original, rng_, {std::string("\x30\x84\xFF\xFF\xFF\xFF", 6),
                                                      std::string("\x04\x80", 2), std::string("\x30\x00", 2)});
    WriteBytes(path, bytes);
    palisk::DerHeaderLength(bytes);
    // As the verifier meets a downloaded kit.cat: it is loaded only when its signature holds,
    // and then it lists exactly what the publisher signed.
    CFileVerifier verifier;
    if (verifier.ValidateFile(path)) {
      ++accepted;
      std::vector<palisk::CatalogEntry> entries;
      ASSERT_EQ(0u, palisk::ReadCatalogEntries(path, entries)) << Case(n);
      ASSERT_EQ(goodSummary, CatalogSummary(entries)) << Case(n);
      ASSERT_TRUE(verifier.ValidateFile(member)) << Case(n);
    }
  }
  std::printf("[robustness] %u mutated catalogs were still accepted (changes outside what was signed)\n",
              static_cast<unsigned>(accepted));
}

TEST_F(Robustness, CommandLinesAndEncodedUrls) {
  const std::vector<std::wstring> samples = {
      L"palisk.exe /ovparams silent taskId=T-1 sourceUrlEnc=aHR0cDovL2tpdHMuZXhhbXBsZS5jb20va2l0cy8-",
      L"\"C:\\Program Files\\Agent\\agent.exe\" /ovparams \"runParams=/quiet /norestart\" lang=fr-FR",
      L"setup.exe configFile=\"C:\\x\\installer.xml\" onlyCheckPrerequisites resultFile",
      L"C:\\Users\\u\\Downloads\\setup[aHR0cDovL2gvaz9sYW5nPWZyLUZS].exe"};
  for (size_t n = 0; n < cases_; ++n) {
    const std::wstring line = MutateWide(samples[n % samples.size()], rng_, {L"/ovparams", L"sourceUrlEnc=", L"[", L"]", L"-"});
    const palisk::CommandLineOptions options = palisk::CommandLineOptions::Parse(line);
    const palisk::ParsedLaunch launch = palisk::ReadLaunchOptions(options);
    const std::wstring decoded = palisk::DecodeSourceUrl(launch.sourceUrlEnc);
    ASSERT_LE(decoded.size(), launch.sourceUrlEnc.size()) << Case(n) << ": Base64 only shrinks";
    palisk::SourceFromPath(line, line);
    palisk::ResolveBaseUrlAndLanguage(launch.parameters, launch.sourceUrlEnc, line);
  }
}

TEST_F(Robustness, PathMacros) {
  const std::vector<std::wstring> samples = {L"%programfiles%\\Orvane\\setup.exe", L"%temp%\\ovtempdir01\\%appdata%",
                                             L"plain\\path", L"%%", L"%system(x86)%\\drivers\\%unknown%"};
  for (size_t n = 0; n < cases_; ++n) {
    const std::wstring input = MutateWide(samples[n % samples.size()], rng_, {L"%", L"%temp%", L"%programfiles(x86)%"});
    std::wstring output;
    palisk::ExpandPathMacros(input, output);
    // Each macro stands for one folder: never more than a long path per character of input.
    ASSERT_LE(output.size(), (input.size() + 1) * 32768) << Case(n);
  }
}

TEST_F(Robustness, BinaryLogDecoder) {
  ScopedTempFolder folder;
  const std::wstring path = folder.Path() + L"\\sample.part";
  {
    namespace bl = RovEveduzodi::BinaryLogger;
    bl::ThreadLogger logger;
    ASSERT_EQ(0u, logger.Open(path, L"main"));
    logger.OnMessage({bl::kError, "disk full", "palisk.cpp", 83});
    logger.OnProcessInfo({1, "s1", "s2", 2, "s3", "s4"});
    logger.OnBlob({"name", {1, 2, 3}});
    logger.OnTriple({1, 2, 3});
    logger.OnExitCode(0xFFFFFFFEu);
    logger.OnThreadEnd();
    logger.Close();
  }
  const std::string sample = ReadBinaryFile(path);
  ASSERT_FALSE(sample.empty());
  for (size_t n = 0; n < cases_; ++n) {
    const std::string bytes = Mutate(sample, rng_, {std::string("\xFF\xFF\xFF\xFF", 4), std::string(16, '\0')});
    const binlog::ReadResult read = binlog::Parse(bytes);
    ASSERT_LE(read.records.size() * 16, bytes.size()) << Case(n) << ": every record has its 16-byte header";
    for (const binlog::Record& record : read.records) binlog::ToText(record);
  }
}

// A loopback server that answers every connection with the current response and closes it.
// The client may well connect more than once for one request (a retry after a reset), so
// each connection gets the answer, not just the first.
class RawServer {
 public:
  RawServer() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    m_listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
    int size = sizeof address;
    getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &size);
    m_port = ntohs(address.sin_port);
    listen(m_listener, 16);
    m_thread = std::thread([this] { Serve(); });
  }
  ~RawServer() {
    m_stop = true;
    m_thread.join();
    closesocket(m_listener);
    WSACleanup();
  }
  uint16_t Port() const { return m_port; }
  void SetResponse(const std::string& response) {
    std::lock_guard<std::mutex> hold(m_lock);
    m_response = response;
  }

 private:
  void Serve() {
    while (!m_stop) {
      fd_set ready;
      FD_ZERO(&ready);
      FD_SET(m_listener, &ready);
      timeval wait = {0, 20000};
      if (select(0, &ready, nullptr, nullptr, &wait) <= 0) continue;
      SOCKET client = accept(m_listener, nullptr, nullptr);
      if (client == INVALID_SOCKET) continue;
      std::string request;
      char buffer[4096];
      while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
        const int got = recv(client, buffer, sizeof buffer, 0);
        if (got <= 0) break;
        request.append(buffer, static_cast<size_t>(got));
      }
      std::string response;
      {
        std::lock_guard<std::mutex> hold(m_lock);
        response = m_response;
      }
      send(client, response.data(), static_cast<int>(response.size()), 0);
      shutdown(client, SD_BOTH);
      closesocket(client);
    }
  }

  SOCKET m_listener = INVALID_SOCKET;
  uint16_t m_port = 0;
  std::atomic<bool> m_stop{false};
  std::mutex m_lock;
  std::string m_response;
  std::thread m_thread;
};

TEST_F(Robustness, HttpAnswersAsTheClientSeesThem) {
  const std::vector<std::string> samples = {
      "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Type: text/plain\r\n\r\nhello",
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n",
      "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n",
      "HTTP/1.0 200 OK\r\n\r\nbody until close",
      "HTTP/1.1 503 Busy\r\nRetry-After: 1\r\nContent-Length: 4\r\n\r\nbusy"};
  RawServer server;
  CHypraWrapper wrapper;
  ASSERT_EQ(0u, wrapper.LoadResult());
  wrapper.OverrideDiscoveredProxies(palisk::ProxyRecord(), palisk::ProxyRecord());
  ScopedTempFolder folder;
  const std::wstring file = folder.Path() + L"\\answer.bin";
  const std::wstring url = L"http://127.0.0.1:" + std::to_wstring(server.Port()) + L"/kits/f.bin";
  for (size_t n = 0; n < cases_; ++n) {
    const std::string response = Mutate(samples[n % samples.size()], rng_,
                                        {"\r\n", "Content-Length: ", "Content-Length: 99999999999\r\n", "HTTP/1.1 ",
                                         "Transfer-Encoding: chunked\r\n", "ffffffffffffffff\r\n", ": ", "\r\n\r\n"});
    server.SetResponse(response);
    const uint32_t result = wrapper.SendRequest(url.c_str(), file.c_str(), nullptr, L"");
    // A request either succeeds with the file in place or fails and leaves no file behind.
    ASSERT_EQ(result == 0, FileExists(file)) << Case(n) << ": result " << result;
    DeleteFileW(file.c_str());
  }
}

}  // namespace

TEST_F(Robustness, DllEventReports) {
  // A report of three events, as the protection writes it, then mutated.
  ScopedTempFolder folder;
  const dllprotect::DllEventDump dump(folder.Path(), L"palisk.exe");
  for (const char* name : {"a.dll", "C:\\Users\\u\\Downloads\\b.dll", "\xce\x94.dll"}) {
    dllprotect::DllProtectInfo event{name, name, "VULNERABLE_PATH", "LoadLibraryW", "0x0", "palisk.exe", "0x1a2b", ""};
    ASSERT_TRUE(dump.Dump(event));
  }
  const std::string sample = ReadBinaryFile(dump.ReportPath());
  ASSERT_EQ(3u, dllprotect::ReadReport(sample).events.size());
  for (size_t n = 0; n < cases_; ++n) {
    const std::string bytes = Mutate(sample, rng_, {std::string("\xFF\xFF\xFF\x7F", 4), std::string(8, '\0')});
    const dllprotect::ReportContent read = dllprotect::ReadReport(bytes);
    size_t recordBytes = 0;
    for (const dllprotect::DllProtectInfo& event : read.events) {
      recordBytes += 4 + ((dllprotect::JoinFields(event).size() + 7) / 8) * 8;
    }
    ASSERT_LE(recordBytes, bytes.size()) << Case(n) << ": events come only from bytes that are there";
    if (read.error.empty()) {
      ASSERT_EQ(recordBytes == 0, bytes.empty()) << Case(n) << ": a clean read accounts for every byte";
    }
  }
}

TEST_F(Robustness, DllBlacklistJson) {
  ScopedTempFolder folder;
  const std::wstring path = folder.Path() + L"\\dllblacklist.json";
  const std::string sample = "{\"blacklist\": [\"evil.dll\", \"other.dll\", \"x\\u00e9.dll\"], \"note\": {\"a\": [1, 2]}}";
  WriteBytes(path, sample);
  ASSERT_EQ(3u, dllprotect::ReadBlacklistJson(path).size());
  for (size_t n = 0; n < cases_; ++n) {
    const std::string text = Mutate(sample, rng_, {"[", "]", "{", "}", "\"", "\\u", ",", ":", "null", "1e999999"});
    WriteBytes(path, text);
    size_t quotes = 0;
    for (char c : text) quotes += c == '"';
    // No exception leaves the reader, and each entry was a string in the text.
    ASSERT_LE(dllprotect::ReadBlacklistJson(path).size(), quotes / 2) << Case(n);
  }
}
