// The records of launch options and kit data that the run stages pass around.
#pragma once

#include <cstdint>

#include "framework/guarded_string.h"

struct LaunchParameters {
  bool statusToFile = false;
  ov::StringT hwid;
  ov::StringT configFile;
  ov::StringT taskId;
  ov::StringT runParams;
  ov::StringT defaultUrl;
  bool onlyCheckPrerequisites = false;
};

struct ProductInformation {
  ov::StringT manufacturer;
  ov::StringT productName;
  ov::StringT spare1;
  ov::StringT spare2;
  ov::StringT upgradeCode;
  int32_t minimumSpaceMb = 0;
  int32_t retryCount = 0;
  ov::StringT localBaseUrl;     // the kit's effective download URL
  ov::StringT process;          // the installer's file name
  ov::StringT parameters;       // the installer's parameter text
  ov::StringT installedFolder;  // the installed product's folder, when one was found
};
