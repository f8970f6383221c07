#include "dllprotect/dllprotect_setup.h"

#include "dllprotect/protect_switches.h"
#include "dllprotect/protection.h"

namespace dllprotect {
namespace {

// Events of a protection that must not report are consumed and dropped.
void DropEvent(void*, const DllProtectInfo&) {}

}  // namespace

DllProtectSetup::DllProtectSetup() {
  RunPathSanitiser();
  const ProtectionDecision decision = DecideProtection();
  if (!decision.start) return;
  if (!decision.report && !Protection().active) SetEventCallback(&DropEvent, nullptr);
  if (decision.report && decision.fromEnvironment) SetReportFolder(decision.reportFolder);
  DllProtectStart(decision.Options(), decision.processName.empty() ? nullptr : decision.processName.c_str());
  m_started = true;
}

}  // namespace dllprotect
