// A recording double of hypra.dll: every SetOption is written to a journal ("id=value;") and
// Perform answers from a script, calling the header and progress callbacks it was given.
//   RecorderScript(results, count)   results of the next Perform calls (then 0)
//   RecorderHeaders(text)            header lines ("name\tvalue\n"...) each Perform reports
//   RecorderProgress(a, b, ...)      progress deltas each Perform reports (0 ends the list)
//   RecorderJournal()                the journal so far;  RecorderClear() empties everything
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <deque>
#include <new>
#include <string>
#include <vector>

#include "libheaders/hypra.h"

namespace {

std::string g_journal;
std::deque<int> g_script;
std::vector<std::pair<std::string, std::string>> g_headers;
std::vector<uint32_t> g_progress;
int g_performs = 0;

bool IsText(int32_t id) {
  return id == HYPRA_OPT_Proxy || id == HYPRA_OPT_ProxyAuth || id == HYPRA_OPT_UserAgent ||
         id == HYPRA_OPT_GenReport_Server || id == HYPRA_OPT_GenReport_Url || id == HYPRA_OPT_GenReport_Method ||
         id == HYPRA_OPT_GenReport_HttpHeader_A;
}

bool IsPointer(int32_t id) {
  return id == HYPRA_OPT_GenReport_WriteFn || id == HYPRA_OPT_GenReport_WriteFnCtx ||
         id == HYPRA_OPT_GenReport_HeaderFn || id == HYPRA_OPT_GenReport_HeaderFnCtx ||
         id == HYPRA_OPT_GenReport_ProgressFn || id == HYPRA_OPT_GenReport_ProgressFnCtx;
}

class Recorder final : public IHypraRequest {
 public:
  int Reserved() override { return 0; }

  int SetOption(int32_t id, const void* value) override {
    std::string shown;
    if (IsText(id)) {
      shown = value != nullptr ? static_cast<const char*>(value) : "<null>";
    } else if (IsPointer(id)) {
      shown = value != nullptr ? "ptr" : "null";
    } else if (id == HYPRA_OPT_GenReport_LocalFile_W) {
      const wchar_t* file = static_cast<const wchar_t*>(value);
      for (; file != nullptr && *file != 0; ++file) shown += static_cast<char>(*file < 128 ? *file : '?');
    } else if (id == HYPRA_OPT_GenReport_FormField) {
      const auto* field = static_cast<const HypraFormField*>(value);
      shown = std::to_string(field->size) + ":" + field->name + "=" + field->value;
    } else {
      shown = std::to_string(*static_cast<const uint32_t*>(value));
    }
    g_journal += std::to_string(id) + "=" + shown + ";";
    switch (id) {
      case HYPRA_OPT_GenReport_HeaderFn: m_header = reinterpret_cast<HypraHeaderFn>(const_cast<void*>(value)); break;
      case HYPRA_OPT_GenReport_HeaderFnCtx: m_headerContext = const_cast<void*>(value); break;
      case HYPRA_OPT_GenReport_ProgressFn: m_progress = reinterpret_cast<HypraProgressFn>(const_cast<void*>(value)); break;
      case HYPRA_OPT_GenReport_ProgressFnCtx: m_progressContext = const_cast<void*>(value); break;
      case HYPRA_OPT_GenReport_WriteFn: m_write = reinterpret_cast<HypraWriteFn>(const_cast<void*>(value)); break;
      case HYPRA_OPT_GenReport_WriteFnCtx: m_writeContext = const_cast<void*>(value); break;
      case HYPRA_OPT_RequestKind:
        m_progress = nullptr;
        m_progressContext = nullptr;
        break;
      default: break;
    }
    return 0;
  }

  int Perform(int32_t kind) override {
    ++g_performs;
    g_journal += "perform(" + std::to_string(kind) + ");";
    for (const auto& header : g_headers) {
      if (m_header != nullptr) m_header(header.first.c_str(), header.second.c_str(), m_headerContext);
    }
    for (uint32_t delta : g_progress) {
      if (m_progress != nullptr) m_progress(delta, m_progressContext);
    }
    if (m_write != nullptr) m_write("body", 1, 4, m_writeContext);
    if (g_script.empty()) return 0;
    const int result = g_script.front();
    g_script.pop_front();
    return result;
  }

  int Cleanup(int32_t) override { return 0; }

 private:
  HypraHeaderFn m_header = nullptr;
  void* m_headerContext = nullptr;
  HypraProgressFn m_progress = nullptr;
  void* m_progressContext = nullptr;
  HypraWriteFn m_write = nullptr;
  void* m_writeContext = nullptr;
};

}  // namespace

extern "C" __declspec(dllexport) IHypraRequest* HypraNew() { return new (std::nothrow) Recorder(); }
extern "C" __declspec(dllexport) void HypraDelete(IHypraRequest* request) { delete static_cast<Recorder*>(request); }

extern "C" __declspec(dllexport) void RecorderScript(const int* results, int count) {
  g_script.assign(results, results + count);
}

extern "C" __declspec(dllexport) void RecorderHeaders(const char* text) {
  g_headers.clear();
  std::string all = text != nullptr ? text : "";
  size_t at = 0;
  while (at < all.size()) {
    size_t end = all.find('\n', at);
    if (end == std::string::npos) end = all.size();
    const std::string line = all.substr(at, end - at);
    const size_t tab = line.find('\t');
    g_headers.emplace_back(line.substr(0, tab), tab == std::string::npos ? "" : line.substr(tab + 1));
    at = end + 1;
  }
}

extern "C" __declspec(dllexport) void RecorderProgress(const uint32_t* deltas, int count) {
  g_progress.assign(deltas, deltas + count);
}

extern "C" __declspec(dllexport) const char* RecorderJournal() { return g_journal.c_str(); }
extern "C" __declspec(dllexport) int RecorderPerforms() { return g_performs; }

extern "C" __declspec(dllexport) void RecorderClear() {
  g_journal.clear();
  g_script.clear();
  g_headers.clear();
  g_progress.clear();
  g_performs = 0;
}
