// The first thing Palisk's main function creates: runs the PATH sanitiser, then decides on the
// load protection and starts it. The main function calls DllProtectEnd on its way out when a
// start was recorded.
#pragma once

namespace dllprotect {

class DllProtectSetup {
 public:
  DllProtectSetup();
  DllProtectSetup(const DllProtectSetup&) = delete;
  DllProtectSetup& operator=(const DllProtectSetup&) = delete;

  bool Started() const { return m_started; }

 private:
  bool m_started = false;  // DllProtectStart was called (whatever it answered)
};

}  // namespace dllprotect
