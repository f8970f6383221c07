// Launch options, encoded URLs and the base-URL/language resolution.
#include "installer/palisk/command_line.h"

#include <gtest/gtest.h>

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

}  // namespace
