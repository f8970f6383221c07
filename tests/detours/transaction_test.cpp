// The hook engine's transactions on code of known bytes (so each case knows exactly what a
// trampoline must hold), on Windows' own LoadLibraryExW, and from several threads at once.
#include "outside/detours/detours.h"

#include <windows.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

using Function = int (*)();

// A page of executable code: bytes placed at chosen offsets, callable as int(void).
class CodePage {
 public:
  CodePage() {
    m_page = static_cast<uint8_t*>(VirtualAlloc(nullptr, 4096, MEM_RESERVE | MEM_COMMIT, PAGE_EXECUTE_READWRITE));
    if (m_page != nullptr) memset(m_page, 0xCC, 4096);
  }
  ~CodePage() { VirtualFree(m_page, 0, MEM_RELEASE); }
  uint8_t* Put(size_t offset, std::initializer_list<uint8_t> bytes) {
    std::copy(bytes.begin(), bytes.end(), m_page + offset);
    FlushInstructionCache(GetCurrentProcess(), m_page + offset, bytes.size());
    return m_page + offset;
  }
  uint8_t* At(size_t offset) const { return m_page + offset; }
  std::vector<uint8_t> Bytes() const { return std::vector<uint8_t>(m_page, m_page + 4096); }

 private:
  uint8_t* m_page = nullptr;
};

// The detour of every case: 7, plus what the original gives through the trampoline.
Function g_true = nullptr;
int Detour() { return 7 + (g_true != nullptr ? g_true() : 0); }

// mov eax,42; ret
constexpr std::initializer_list<uint8_t> kReturns42 = {0xb8, 0x2a, 0, 0, 0, 0xc3};

LONG Attach(Function& pointer, Function detour) {
  return DetourAttach(reinterpret_cast<PVOID*>(&pointer), reinterpret_cast<PVOID>(detour));
}
LONG Detach(Function& pointer, Function detour) {
  return DetourDetach(reinterpret_cast<PVOID*>(&pointer), reinterpret_cast<PVOID>(detour));
}

class Transactions : public testing::Test {
 protected:
  void TearDown() override { g_true = nullptr; }
  CodePage page_;
};

TEST_F(Transactions, AttachThenDetachRestoresEveryByte) {
  Function target = reinterpret_cast<Function>(page_.Put(0, kReturns42));
  const std::vector<uint8_t> before = page_.Bytes();
  g_true = target;
  ASSERT_EQ(NO_ERROR, DetourTransactionBegin());
  ASSERT_EQ(NO_ERROR, DetourUpdateThread(GetCurrentThread()));
  ASSERT_EQ(NO_ERROR, Attach(g_true, Detour));
  EXPECT_EQ(target, g_true) << "nothing changes before the commit";
  ASSERT_EQ(NO_ERROR, DetourTransactionCommit());
  EXPECT_NE(target, g_true) << "the true pointer now holds the trampoline";
  EXPECT_EQ(49, target()) << "the detour runs, and the trampoline runs the moved instructions";
  EXPECT_EQ(42, g_true());

  ASSERT_EQ(NO_ERROR, DetourTransactionBegin());
  ASSERT_EQ(NO_ERROR, Detach(g_true, Detour));
  ASSERT_EQ(NO_ERROR, DetourTransactionCommit());
  EXPECT_EQ(target, g_true);
  EXPECT_EQ(42, target());
  EXPECT_EQ(before, page_.Bytes());
}

TEST_F(Transactions, AnImportThunkIsFollowedToTheFunctionItJumpsTo) {
  // Offset 0: the function; offset 64: its address; offset 128: "jmp [address]" as import thunks
  // are (x64: rip-relative, x86: absolute). Hooking through the thunk diverts direct calls too.
  Function target = reinterpret_cast<Function>(page_.Put(0, kReturns42));
  uint8_t* slot = page_.At(64);
  memcpy(slot, &target, sizeof target);
  uint8_t* thunk = page_.Put(128, {0xFF, 0x25, 0, 0, 0, 0});
#ifdef _WIN64
  const int32_t displacement = static_cast<int32_t>(slot - (thunk + 6));
#else
  const int32_t displacement = static_cast<int32_t>(reinterpret_cast<uintptr_t>(slot));
#endif
  memcpy(thunk + 2, &displacement, 4);
  ASSERT_EQ(42, reinterpret_cast<Function>(thunk)());

  g_true = reinterpret_cast<Function>(thunk);
  ASSERT_EQ(NO_ERROR, DetourTransactionBegin());
  ASSERT_EQ(NO_ERROR, Attach(g_true, Detour));
  ASSERT_EQ(NO_ERROR, DetourTransactionCommit());
  EXPECT_EQ(49, target()) << "the function behind the thunk is hooked";
  EXPECT_EQ(49, reinterpret_cast<Function>(thunk)());
  EXPECT_EQ(0xFF, thunk[0]) << "the thunk itself is left alone";

  ASSERT_EQ(NO_ERROR, DetourTransactionBegin());
  ASSERT_EQ(NO_ERROR, Detach(g_true, Detour));
  ASSERT_EQ(NO_ERROR, DetourTransactionCommit());
  EXPECT_EQ(target, g_true) << "after the detach the pointer leads to the function itself";
  EXPECT_EQ(42, target());
}

TEST_F(Transactions, AbortChangesNothing) {
  Function target = reinterpret_cast<Function>(page_.Put(0, kReturns42));
  const std::vector<uint8_t> before = page_.Bytes();
  g_true = target;
  ASSERT_EQ(NO_ERROR, DetourTransactionBegin());
  ASSERT_EQ(NO_ERROR, Attach(g_true, Detour));
  ASSERT_EQ(NO_ERROR, DetourTransactionAbort());
  EXPECT_EQ(target, g_true);
  EXPECT_EQ(before, page_.Bytes());
  EXPECT_EQ(42, target());
}

TEST_F(Transactions, OneFailedAttachLeavesEveryFunctionAsItWas) {
  Function good = reinterpret_cast<Function>(page_.Put(0, kReturns42));
  Function tooShort = reinterpret_cast<Function>(page_.Put(64, {0x31, 0xc0, 0xc3}));  // xor eax,eax; ret
  Function unknown = reinterpret_cast<Function>(page_.Put(128, {0x0f, 0x0a, 0, 0, 0, 0}));
  const std::vector<uint8_t> before = page_.Bytes();
  Function goodTrue = good, shortTrue = tooShort, unknownTrue = unknown;
  ASSERT_EQ(NO_ERROR, DetourTransactionBegin());
  ASSERT_EQ(NO_ERROR, Attach(goodTrue, Detour));
  EXPECT_EQ(ERROR_INVALID_BLOCK, Attach(shortTrue, Detour)) << "shorter than the jump";
  EXPECT_EQ(ERROR_INVALID_BLOCK, Attach(unknownTrue, Detour)) << "the pending error stays";
  EXPECT_EQ(ERROR_INVALID_BLOCK, DetourTransactionCommit()) << "all or nothing";
  EXPECT_EQ(good, goodTrue);
  EXPECT_EQ(before, page_.Bytes());
  EXPECT_EQ(ERROR_INVALID_OPERATION, DetourTransactionAbort()) << "the failed commit ended the transaction";
  ASSERT_EQ(NO_ERROR, DetourTransactionBegin()) << "and a new one can start";
  EXPECT_EQ(NO_ERROR, Attach(goodTrue, Detour));
  EXPECT_EQ(NO_ERROR, DetourTransactionAbort());
  EXPECT_EQ(before, page_.Bytes());
}

TEST_F(Transactions, RelativeOperandsAreRelocated) {
  // call helper; ret  -- the call's rel32 must still reach the helper from the trampoline.
  page_.Put(256, kReturns42);
  const int32_t rel = 256 - 5;
  uint8_t* call = page_.Put(0, {0xe8, 0, 0, 0, 0, 0xc3});
  memcpy(call + 1, &rel, 4);
  // xor eax,eax; xor ecx,ecx; jmp +6 -> the helper copy at 12: the rel8 becomes a rel32.
  page_.Put(64, {0x31, 0xc0, 0x31, 0xc9, 0xeb, 0x06});
  page_.Put(76, kReturns42);
  Function callTarget = reinterpret_cast<Function>(page_.At(0));
  Function jumpTarget = reinterpret_cast<Function>(page_.At(64));
  Function callTrue = callTarget, jumpTrue = jumpTarget;
  ASSERT_EQ(NO_ERROR, DetourTransactionBegin());
  ASSERT_EQ(NO_ERROR, Attach(callTrue, Detour));
  ASSERT_EQ(NO_ERROR, Attach(jumpTrue, Detour));
  ASSERT_EQ(NO_ERROR, DetourTransactionCommit());
  EXPECT_EQ(42, callTrue());
  EXPECT_EQ(42, jumpTrue());
  g_true = callTrue;
  EXPECT_EQ(49, callTarget());
  ASSERT_EQ(NO_ERROR, DetourTransactionBegin());
  ASSERT_EQ(NO_ERROR, Detach(callTrue, Detour));
  ASSERT_EQ(NO_ERROR, Detach(jumpTrue, Detour));
  ASSERT_EQ(NO_ERROR, DetourTransactionCommit());
  EXPECT_EQ(42, callTarget());
}

#ifdef _WIN64
TEST_F(Transactions, RipRelativeDataIsRelocated) {
  // mov rax,[rip+disp32]; ret  -- reads the 42 stored at offset 512.
  const uint64_t value = 42;
  memcpy(page_.At(512), &value, 8);
  uint8_t* load = page_.Put(0, {0x48, 0x8b, 0x05, 0, 0, 0, 0, 0xc3});
  const int32_t disp = 512 - 7;
  memcpy(load + 3, &disp, 4);
  Function target = reinterpret_cast<Function>(load);
  Function trueFunction = target;
  ASSERT_EQ(NO_ERROR, DetourTransactionBegin());
  ASSERT_EQ(NO_ERROR, Attach(trueFunction, Detour));
  ASSERT_EQ(NO_ERROR, DetourTransactionCommit());
  EXPECT_EQ(42, trueFunction()) << "the trampoline's copy still reads the same data";
  ASSERT_EQ(NO_ERROR, DetourTransactionBegin());
  ASSERT_EQ(NO_ERROR, Detach(trueFunction, Detour));
  ASSERT_EQ(NO_ERROR, DetourTransactionCommit());
}
#endif

TEST(TransactionRules, OneTransactionAtATimeAndOnlyItsOwnerUsesIt) {
  Function nothing = nullptr;
  EXPECT_EQ(ERROR_INVALID_OPERATION, Attach(nothing, Detour)) << "no transaction open";
  EXPECT_EQ(ERROR_INVALID_OPERATION, DetourTransactionCommit());
  ASSERT_EQ(NO_ERROR, DetourTransactionBegin());
  EXPECT_EQ(ERROR_INVALID_OPERATION, DetourTransactionBegin());
  LONG fromOther = NO_ERROR;
  std::thread([&] { fromOther = DetourTransactionCommit(); }).join();
  EXPECT_EQ(ERROR_INVALID_OPERATION, fromOther) << "another thread's commit";
  EXPECT_EQ(ERROR_INVALID_HANDLE, Attach(nothing, Detour));
  EXPECT_EQ(ERROR_INVALID_HANDLE, DetourTransactionCommit());
}

TEST(TransactionRules, EnlistedThreadsAreSuspendedUntilTheCommit) {
  std::atomic<bool> stop{false};
  std::atomic<long> spins{0};
  std::atomic<DWORD> workerId{0};
  std::thread worker([&] {
    workerId = GetCurrentThreadId();
    while (!stop) ++spins;
  });
  while (workerId == 0) Sleep(1);
  HANDLE handle = OpenThread(THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT | THREAD_SET_CONTEXT | THREAD_QUERY_INFORMATION,
                             FALSE, workerId);
  ASSERT_NE(nullptr, handle);
  ASSERT_EQ(NO_ERROR, DetourTransactionBegin());
  ASSERT_EQ(NO_ERROR, DetourUpdateThread(handle));
  const long frozen = spins.load();
  Sleep(50);
  EXPECT_EQ(frozen, spins.load()) << "suspended while the transaction is open";
  ASSERT_EQ(NO_ERROR, DetourTransactionCommit());
  Sleep(50);
  EXPECT_GT(spins.load(), frozen) << "running again after the commit";
  stop = true;
  worker.join();
  CloseHandle(handle);
}

// Windows' own LoadLibraryExW, hooked the way the DLL protection will hook it, with loads
// from several threads at once.
using LoadLibraryExWFn = HMODULE(WINAPI*)(LPCWSTR, HANDLE, DWORD);
LoadLibraryExWFn g_trueLoadLibraryExW = nullptr;
std::atomic<long> g_loads{0};

HMODULE WINAPI CountingLoadLibraryExW(LPCWSTR name, HANDLE file, DWORD flags) {
  ++g_loads;
  return g_trueLoadLibraryExW(name, file, flags);
}

TEST(LiveHook, LoadLibraryExWFromSeveralThreads) {
  HMODULE kernelbase = GetModuleHandleW(L"kernelbase.dll");
  ASSERT_NE(nullptr, kernelbase);
  auto* target = reinterpret_cast<uint8_t*>(GetProcAddress(kernelbase, "LoadLibraryExW"));
  ASSERT_NE(nullptr, target);
  std::vector<uint8_t> before(target, target + 32);
  g_trueLoadLibraryExW = reinterpret_cast<LoadLibraryExWFn>(target);
  ASSERT_EQ(NO_ERROR, DetourTransactionBegin());
  ASSERT_EQ(NO_ERROR, DetourUpdateThread(GetCurrentThread()));
  ASSERT_EQ(NO_ERROR, DetourAttach(reinterpret_cast<PVOID*>(&g_trueLoadLibraryExW),
                                   reinterpret_cast<PVOID>(CountingLoadLibraryExW)));
  ASSERT_EQ(NO_ERROR, DetourTransactionCommit());

  g_loads = 0;
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 100; ++i) {
        HMODULE module = LoadLibraryExW(L"version.dll", nullptr, 0);
        if (module == nullptr) ++failures;
        else FreeLibrary(module);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(0, failures.load());
  EXPECT_GE(g_loads.load(), 400) << "every load went through the hook";

  ASSERT_EQ(NO_ERROR, DetourTransactionBegin());
  ASSERT_EQ(NO_ERROR, DetourDetach(reinterpret_cast<PVOID*>(&g_trueLoadLibraryExW),
                                   reinterpret_cast<PVOID>(CountingLoadLibraryExW)));
  ASSERT_EQ(NO_ERROR, DetourTransactionCommit());
  EXPECT_EQ(before, std::vector<uint8_t>(target, target + 32));
  const long after = g_loads.load();
  FreeLibrary(LoadLibraryW(L"version.dll"));
  EXPECT_EQ(after, g_loads.load()) << "no longer hooked";
}

}  // namespace
