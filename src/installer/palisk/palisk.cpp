// palisk.exe: the web installer's entry point and its run stages, in order, on the main
// thread. Every stage from the working folder on can end the run early; the hand-off of the
// result and the clean-up always run. The process exit code is the run's result.
#include <windows.h>
#include <objbase.h>

#include <cstdint>
#include <string>

#include "dllprotect/dllprotect_setup.h"
#include "dllprotect/protection.h"
#include "framework/file_util.h"
#include "framework/module_path.h"
#include "framework/system_library.h"
#include "gui/message_box.h"
#include "gui/sciter_engine.h"
#include "installer/palisk/command_line.h"
#include "installer/palisk/glossel_client.h"
#include "installer/palisk/launch_parameters.h"
#include "installer/palisk/installer_launch.h"
#include "installer/palisk/os_info.h"
#include "installer/palisk/product_detection.h"
#include "installer/palisk/productconfig.h"
#include "installer/palisk/run_result_codes.h"
#include "installer/palisk/working_folder.h"
#include "logging/binary_logger.h"

namespace palisk {
namespace {

constexpr char kLogSource[] = "palisk.cpp";
using namespace RovEveduzodi::BinaryLogger;


struct Run {
  uint32_t result = run_result::kSucceeded;
  std::string fileVersion;
  std::wstring parentCommandLine;
  bool useParent = false;
  LaunchParameters parameters;
  bool silent = false;
  std::wstring sourceUrlEnc;
  std::wstring baseUrl;
  std::wstring language = L"en-US";
  bool is64Bit = false;
  int osVersionCode = 0;
  std::wstring dictionaryFolder;
  std::wstring workingFolder;
  ProductInformation product;
  wchar_t freeSpacePath[260] = {};
};

std::wstring Widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

// Step 10: options from the parent's command line behind "/ovparams", else from our own.
void ReadOptions(Run& run, const wchar_t* ownCommandLine) {
  const std::wstring current = ownCommandLine != nullptr ? ownCommandLine : L"";
  const CommandLineOptions options =
      CommandLineOptions::Parse(run.useParent ? run.parentCommandLine : current);
  ParsedLaunch launch = ReadLaunchOptions(options);
  run.parameters = launch.parameters;
  run.silent = launch.silent;
  run.sourceUrlEnc = launch.sourceUrlEnc;
  PALISK_LOG(kInfo, L"[PALISK] Parent process command line : \"%s\".", run.parentCommandLine.c_str());
  PALISK_LOG(kInfo, L"[PALISK] Current process command line : \"%s\".", current.c_str());
  PALISK_LOG(kInfo, L"[PALISK] Using %s process command line.", run.useParent ? L"parent" : L"current");
  PALISK_LOG(kInfo,
             L"[SETUP] OS Version (0 - unknown, 1 - XP, 2 - VISTA no sp, 3 - VISTA with sp, 4 - Win 7): %d",
             run.osVersionCode);
}

// Step 12: the language's dictionaries when shipped, else the English ones.
std::wstring ChooseDictionaryFolder(const std::wstring& language) {
  const std::wstring programFolder = ov::FolderOf(ov::ModuleFilePath(nullptr)) + L"\\";
  const std::wstring wanted = programFolder + L"lang\\" + language;
  return ov::FolderExists(wanted) ? wanted : programFolder + L"lang\\en-US";
}

// Steps 14 and 15: the descriptors could not be read. The integrity text when a kit file
// failed verification, else the network text; nothing is shown in a silent run.
void ShowDescriptorError(const Run& run, int32_t error) {
  if (run.silent) return;
  const wchar_t* text =
      error == run_result::kKitFileNotValid
          ? L"_LSAfter performing the integrity check for downloaded files we detected an issue. Please download and "
            L"try again and if the issue persists contact the system administrator.LS_"
          : L"_LSThe Web Installer cannot download the product files. Please check the network connectivity between "
            L"this machine and the server.LS_";
  ov::gui::ShowMessageBox(Translate(text), Translate(L"_LSPalisk error!LS_"), MB_OK | MB_ICONERROR);
}

constexpr uint32_t kEngineMissing = static_cast<uint32_t>(-1);

// Steps 13 to 19: the kit, from its descriptors to the installer's exit code.
uint32_t RunKit(Run& run) {
  // A visible run needs the page engine for its screen and its popups: without it nothing is
  // downloaded or reported, and the run ends through the usual stop stages.
  if (!run.silent && !ov::gui::EngineAvailable()) {
    PALISK_LOG(kError, L"The HTML engine (sciter.dll) could not be loaded.");
    return kEngineMissing;
  }
  CProductConfig configuration;
  const uint32_t folderError = CreateWorkingFolder(run.workingFolder);
  if (folderError != 0) {
    PALISK_LOG(kError, L"Palisk failed to create temporary directory for downloaded files.");
    return folderError;
  }
  const std::wstring taskId = run.parameters.taskId.c_str();
  const int32_t setData = configuration.SetData(run.workingFolder, run.baseUrl, run.parameters.configFile.c_str(),
                                                run.is64Bit ? CProductConfig::kArch64 : CProductConfig::kArch32, true,
                                                run.silent, run.parameters.defaultUrl.c_str());
  if (setData != 0) {
    PALISK_LOG(kError,
               L"Reading palisk data (from data.xml) failed: error = %u; tempDir = \"%s\"; downloadConfigPath = \"%s\".",
               setData, run.workingFolder.c_str(), run.baseUrl.c_str());
    ShowDescriptorError(run, setData);
    configuration.ReportInstallProgress(5, setData);
    configuration.ReportStatus(211, setData, taskId);
    return static_cast<uint32_t>(setData);
  }
  const int32_t information = configuration.GetProductInformation(run.product);
  if (information != 0) {
    PALISK_LOG(kError, L"GetProductInformation error %u.", information);
    ShowDescriptorError(run, information);
    return static_cast<uint32_t>(information);
  }
  if (configuration.KeepSettings()) {                                           // 16
    DetectOldVersions(run.product, run.workingFolder, run.is64Bit, run.language);
  }
  const uint32_t space = CheckAvailableSpace(run.freeSpacePath, run.silent,      // 17
                                             static_cast<int64_t>(run.product.minimumSpaceMb), configuration);
  if (space != 0) {
    PALISK_LOG(kError, L"Available space check failed: CheckAvailableSpace error = %u", space);
    return space;
  }

  configuration.ReportStatus(200, 0, taskId);                                   // 18
  configuration.ReportInstallProgress(-2, 0);
  const int32_t downloaded = configuration.DownloadFiles();
  if (downloaded == run_result::kCancelled) {
    PALISK_LOG(kNotice, L"Files download cancelled by user.");
    return static_cast<uint32_t>(downloaded);
  }
  if (downloaded != 0) {
    PALISK_LOG(kError, L"Files download failed with error = %u.", downloaded);
    configuration.ShowDownloadError(downloaded, taskId);
    return static_cast<uint32_t>(downloaded);
  }
  configuration.ReportInstallProgress(-1, 0);
  configuration.ReportStatus(201, 0, taskId);
  const uint32_t installed = RunPostDownloadActions(run.parameters, run.workingFolder, configuration);
  if (installed != 0) PALISK_LOG(kError, L"Failed post-download actions with error = %u.", installed);
  return installed;
}

// Step 20: silent runs leave the result where the management agent reads it.
void HandResultOn(const Run& run) {
  if (run.silent) {
    HKEY key = nullptr;
    const LONG opened = RegOpenKeyExW(HKEY_USERS, L".DEFAULT\\Software\\Vudidavi", 0, KEY_ALL_ACCESS, &key);
    if (opened != ERROR_SUCCESS) {
      PALISK_LOG(kInfo, L"[PALISK] RegOpen failed ret[%d] last err[%d]", opened, GetLastError());
    } else {
      const DWORD value = run.result;
      const LONG set = RegSetValueExW(key, L"dwErrCode", 0, REG_DWORD,
                                      reinterpret_cast<const BYTE*>(&value), sizeof value);
      if (set != ERROR_SUCCESS) {
        PALISK_LOG(kInfo, L"[PALISK] RegSet failed ret[%d] last err[%d]", set, GetLastError());
      }
      RegCloseKey(key);
    }
  } else {
    PALISK_LOG(kInfo, L"[PALISK] NOT SILENT, exit code not set in registry.");
  }
  if (run.parameters.statusToFile) WriteStatusFile(run.result);
}

}  // namespace

uint32_t RunPalisk(const wchar_t* ownCommandLine) {
  Run run;
  const dllprotect::DllProtectSetup protection;                                  // 1
  run.fileVersion = GetFileVersionAsString();                                   // 2

  Logger& logger = Logger::Instance();                                           // 3
  SetActiveLogger(&logger);
  logger.SetNameParts(Widen(run.fileVersion), L"palisk");
  logger.Start(L"Palisk main thread");
  {
    LogExitGuard exitGuard(&run.result);
    PALISK_LOG(kInfo, L"KitVersion: [%S]", run.fileVersion.c_str());

    run.parentCommandLine = GetParrentProcessCmdLine();                           // 4
    run.is64Bit = IsOs64Bit();                                                    // 5, 6
    run.osVersionCode = GetOsVersionCode();
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);                                // 7
    run.useParent = run.parentCommandLine.find(L"/ovparams") != std::wstring::npos;  // 8

    ProcessRecord record;                                                         // 9
    record.note = L"<not-implemented>";
    record.parentCommandLine = run.parentCommandLine;
    record.programPath = ov::ModuleFilePath(nullptr);
    record.ansiCommandLine = GetCommandLineA();
    record.processId = GetCurrentProcessId();
    logger.SetProcessRecord(record);

    ReadOptions(run, ownCommandLine);                                             // 10
    const KitLocation location =                                                  // 11
        ResolveBaseUrlAndLanguage(run.parameters, run.sourceUrlEnc, run.parentCommandLine);
    run.baseUrl = location.baseUrl;
    run.language = location.language;
    run.dictionaryFolder = ChooseDictionaryFolder(run.language);                  // 12
    GlosselHandle glossel;  // the run's own use of the client: Glossel stays loaded
    glossel->SetDictionaryFolder(run.dictionaryFolder.c_str());

    run.result = RunKit(run);                                                     // 13-19
    HandResultOn(run);                                                            // 20
    RemoveFolderTree(run.workingFolder);                                          // 21
    CoUninitialize();                                                             // 22
  }                                                                               // 23
  SetActiveLogger(nullptr);
  if (protection.Started()) dllprotect::DllProtectEnd();                        // 24
  return run.result;
}

}  // namespace palisk

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int) {
  // Before anything else: every later load by name, ours or system code's, searches only the
  // system folder, never palisk's own (a Downloads folder). Our own libraries load by full path.
  ov::RestrictDllSearchToSystemFolder();
  return static_cast<int>(palisk::RunPalisk(commandLine));
}
