// Launch options, encoded URLs and the base-URL/language resolution.
#include "installer/palisk/command_line.h"

#include <gtest/gtest.h>

#include "installer/palisk/process_reader.h"

#include "framework/scoped_handle.h"
#include "support/test_support.h"


namespace {

using palisk::CommandLineOptions;

using testing_support::EncodeSourceUrl;

TEST(CommandLineOptions, NamesValuesAndTheFirstArgument) {
  const CommandLineOptions options = CommandLineOptions::Parse(
      L"C:\\agent\\agent.exe /silent taskId=a=b=c \"runParams=/x /y\" /hwid= plain");
  EXPECT_TRUE(options.Has(L"C:\\agent\\agent.exe")) << "the first argument is an option too";
  EXPECT_TRUE(options.Has(L"silent"));
  EXPECT_EQ(L"a=b=c", options.Value(L"taskId")) << "further \"=\" stay in the value";
  EXPECT_EQ(L"/x /y", options.Value(L"runParams"));
  EXPECT_TRUE(options.Has(L"hwid"));
  EXPECT_EQ(L"", options.Value(L"hwid"));
  EXPECT_TRUE(options.Has(L"plain"));
  EXPECT_EQ(6u, options.Count());
}

TEST(CommandLineOptions, FirstValueWinsAndNamesAreCaseSensitive) {
  const CommandLineOptions options = CommandLineOptions::Parse(L"silent=0 /silent=1 Silent //x");
  EXPECT_EQ(L"0", options.Value(L"silent"));
  EXPECT_TRUE(options.Has(L"Silent"));
  EXPECT_TRUE(options.Has(L"/x")) << "only one leading slash is dropped";
  const palisk::ParsedLaunch launch = palisk::ReadLaunchOptions(options);
  EXPECT_TRUE(launch.silent) << "presence counts, whatever the value";

  const palisk::ParsedLaunch capital = palisk::ReadLaunchOptions(CommandLineOptions::Parse(L"Silent"));
  EXPECT_FALSE(capital.silent);
}

TEST(CommandLineOptions, EmptyCommandLineHasNoOptions) {
  EXPECT_EQ(0u, CommandLineOptions::Parse(L"").Count());
  const palisk::ParsedLaunch launch = palisk::ReadLaunchOptions(CommandLineOptions::Parse(L""));
  EXPECT_FALSE(launch.silent);
  EXPECT_FALSE(launch.parameters.statusToFile);
}

TEST(CommandLineOptions, EveryRecognisedOptionReachesItsField) {
  const palisk::ParsedLaunch launch = palisk::ReadLaunchOptions(CommandLineOptions::Parse(
      L"statustofile hwid=H1 configFile=C:\\c.xml defaultUrl=http://d runParams=/r "
      L"sourceUrlEnc=abc taskId=T7 onlyCheckPrerequisites other=1"));
  const LaunchParameters& p = launch.parameters;
  EXPECT_TRUE(p.statusToFile);
  EXPECT_EQ(p.hwid, L"H1");
  EXPECT_EQ(p.configFile, L"C:\\c.xml");
  EXPECT_EQ(p.defaultUrl, L"http://d");
  EXPECT_EQ(p.runParams, L"/r");
  EXPECT_EQ(p.taskId, L"T7");
  EXPECT_TRUE(p.onlyCheckPrerequisites);
  EXPECT_EQ(L"abc", launch.sourceUrlEnc);
  EXPECT_FALSE(launch.silent);
}

TEST(EncodedUrl, DecodesDashesAsSlashesAndUtf8) {
  const std::string url = "http://kits.example:8080/kit?x=1&lang=fr-FR/\xC3\xA9t\xC3\xA9";
  const std::wstring encoded = EncodeSourceUrl(url);
  EXPECT_EQ(L"http://kits.example:8080/kit?x=1&lang=fr-FR/\u00e9t\u00e9", palisk::DecodeSourceUrl(encoded));
  EXPECT_EQ(L"", palisk::DecodeSourceUrl(L"not base64!"));
  EXPECT_EQ(L"", palisk::DecodeSourceUrl(L""));
}

TEST(ParentPath, UrlBetweenBracketsInTheCommandLinesSpelling) {
  const std::wstring encoded = EncodeSourceUrl("http://127.0.0.1:8000/Kits?lang=de-DE");
  const std::wstring path = L"C:\\agents\\setup[" + encoded + L"].exe";
  std::wstring lowerPath = path;
  for (wchar_t& c : lowerPath) c = static_cast<wchar_t>(towlower(c));
  // The process path (here lowercased, as a file system may report it) loses the encoding's
  // case; the command line keeps it.
  const std::wstring commandLine = L"\"" + path + L"\" /ovparams silent";
  EXPECT_EQ(L"http://127.0.0.1:8000/Kits?lang=de-DE", palisk::SourceFromPath(lowerPath, commandLine));
  EXPECT_NE(L"http://127.0.0.1:8000/Kits?lang=de-DE", palisk::SourceFromPath(lowerPath, L""));
  EXPECT_EQ(L"", palisk::SourceFromPath(L"C:\\agents\\setup.exe", commandLine)) << "no brackets";
  EXPECT_EQ(L"", palisk::SourceFromPath(L"C:\\a[b\\setup].exe", L"")) << "only the file name counts";
}

TEST(KitLocation, SourceUrlEncKeepsItsLangPart) {
  LaunchParameters parameters;
  const palisk::KitLocation location = palisk::ResolveBaseUrlAndLanguage(
      parameters, EncodeSourceUrl("http://h/kit?lang=fr-FR"), L"");
  EXPECT_EQ(L"http://h/kit?lang=fr-FR", location.baseUrl);
  EXPECT_EQ(L"en-US", location.language);
}

TEST(KitLocation, ConfigFileStopsEveryDerivation) {
  LaunchParameters parameters;
  parameters.configFile = L"C:\\kit\\installer.xml";
  const palisk::KitLocation location =
      palisk::ResolveBaseUrlAndLanguage(parameters, EncodeSourceUrl("http://h/kit"), L"");
  EXPECT_EQ(L"", location.baseUrl);
  EXPECT_EQ(L"en-US", location.language);
}

// A process's command line read the way the parent's is, from this very process.
class ProcessReader : public testing::Test {
 protected:
  void TearDown() override { palisk::SetProcessApi(nullptr); }
  static std::wstring OwnCommandLine(std::wstring& why) {
    ov::ScopedHandle self(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, GetCurrentProcessId()));
    return palisk::ReadProcessCommandLine(self.Get(), why);
  }
  // Answers as a 32-bit process on 64-bit Windows does: it is WoW64, the other process is not.
  static BOOL WINAPI OnlyUsWow64(HANDLE process, BOOL* wow64) {
    *wow64 = process == GetCurrentProcess();
    return TRUE;
  }
};

TEST_F(ProcessReader, ReadsTheCommandLineOfAProcessOfItsOwnWidth) {
  std::wstring why;
  EXPECT_EQ(GetCommandLineW(), OwnCommandLine(why));
  EXPECT_EQ(L"", why);
}

TEST_F(ProcessReader, A64BitProcessSeenFromWow64IsReadThroughTheWow64Calls) {
#ifdef _WIN64
  // A 64-bit build stands in for the 64-bit parent: the WoW64 calls become the native ones.
  static int wow64Reads = 0;
  palisk::ProcessApi api = palisk::ActiveProcessApi();
  api.isWow64Process = OnlyUsWow64;
  api.wow64QueryInformation64 = api.queryInformation;
  api.wow64ReadMemory64 = [](HANDLE process, ULONG64 address, void* buffer, ULONG64 size, ULONG64*) {
    ++wow64Reads;
    return ReadProcessMemory(process, reinterpret_cast<LPCVOID>(address), buffer, size, nullptr) ? 0L : -1L;
  };
  api.readMemory = [](HANDLE, LPCVOID, LPVOID, SIZE_T, SIZE_T*) -> BOOL { return FALSE; };
  palisk::SetProcessApi(&api);
  std::wstring why;
  EXPECT_EQ(GetCommandLineW(), OwnCommandLine(why)) << why;
  EXPECT_EQ(3, wow64Reads) << "PEB, parameters and text, all through the 64-bit reads";
#else
  GTEST_SKIP() << "needs a 64-bit build to stand in for the 64-bit parent";
#endif
}

TEST_F(ProcessReader, WithoutTheWow64CallsTheReasonIsGiven) {
  palisk::ProcessApi api = palisk::ActiveProcessApi();
  api.isWow64Process = OnlyUsWow64;
  api.wow64QueryInformation64 = nullptr;
  api.wow64ReadMemory64 = nullptr;
  palisk::SetProcessApi(&api);
  std::wstring why;
  EXPECT_EQ(L"", OwnCommandLine(why));
  EXPECT_NE(std::wstring::npos, why.find(L"64-bit process")) << why;
}

TEST_F(ProcessReader, TheImagePathIsTheExecutablesFullPath) {
  wchar_t own[MAX_PATH];
  GetModuleFileNameW(nullptr, own, MAX_PATH);
  ov::ScopedHandle self(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, GetCurrentProcessId()));
  EXPECT_EQ(0, _wcsicmp(own, palisk::ProcessImagePath(self.Get()).c_str()));
}

}  // namespace
