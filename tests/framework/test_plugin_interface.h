// The interfaces the test plugins offer, and the journal they keep of their lifecycle.
#pragma once

#include <windows.h>

#include <string>

#include "framework/plugin.h"

class ITestGreeter {
 public:
  virtual const wchar_t* Greet() = 0;
};

// An interface no test plugin implements.
class ITestMissing {
 public:
  virtual void Nothing() = 0;
};

// {3F1C2B7A-1D2E-4F50-9A8B-7C6D5E4F3A21}
constexpr GUID IID_ITestGreeter = {
    0x3F1C2B7A, 0x1D2E, 0x4F50, {0x9A, 0x8B, 0x7C, 0x6D, 0x5E, 0x4F, 0x3A, 0x21}};
// {0B7D61E2-93A4-4C1F-8E2D-55AA66BB77CC}
constexpr GUID IID_ITestMissing = {
    0x0B7D61E2, 0x93A4, 0x4C1F, {0x8E, 0x2D, 0x55, 0xAA, 0x66, 0xBB, 0x77, 0xCC}};

namespace ov {
template <>
struct InterfaceIid<ITestGreeter> {
  static constexpr const GUID& value = IID_ITestGreeter;
};
template <>
struct InterfaceIid<ITestMissing> {
  static constexpr const GUID& value = IID_ITestMissing;
};
template <>
struct ServPluginScope<ITestGreeter> {
  static constexpr const wchar_t* value = L"ServPlugin<class ITestGreeter>::GetPlugin";
};
}  // namespace ov

// Plugins append "Event;" to this process environment variable: it outlives the library.
constexpr wchar_t kJournalVariable[] = L"PALISK_TEST_PLUGIN_JOURNAL";

inline void JournalAppend(const wchar_t* event) {
  wchar_t buffer[4096] = L"";
  GetEnvironmentVariableW(kJournalVariable, buffer, 4096);
  std::wstring journal = buffer;
  journal += event;
  journal += L';';
  SetEnvironmentVariableW(kJournalVariable, journal.c_str());
}

inline std::wstring JournalTake() {
  wchar_t buffer[4096] = L"";
  GetEnvironmentVariableW(kJournalVariable, buffer, 4096);
  SetEnvironmentVariableW(kJournalVariable, nullptr);
  return buffer;
}
