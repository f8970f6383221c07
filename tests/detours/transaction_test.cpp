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

// A thread parked in a spin loop, then stopped and set to run the target from `ip` with eax 40:
// the target's two "inc eax" make it 42, which its return stores for the test to read.
class ParkedThread {
 public:
  explicit ParkedThread(CodePage& page) : m_page(page) {
    // offset 384: jmp $ (where the thread waits); offset 256: store eax at offset 512, ExitThread(0).
    page.Put(384, {0xeb, 0xfe});
    void* exitThread = reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "ExitThread"));
#ifdef _WIN64
    uint8_t* done = page.Put(256, {0x89, 0x05, 0, 0, 0, 0, 0x48, 0x83, 0xec, 0x28, 0x31, 0xc9, 0x48, 0xb8, 0, 0, 0, 0, 0,
                                   0, 0, 0, 0xff, 0xd0});
    const int32_t toResult = static_cast<int32_t>(page.At(512) - (done + 6));
    memcpy(done + 2, &toResult, 4);
    memcpy(done + 14, &exitThread, 8);
#else
    uint8_t* done = page.Put(256, {0xa3, 0, 0, 0, 0, 0x6a, 0x00, 0xb8, 0, 0, 0, 0, 0xff, 0xd0});
    uint8_t* result = page.At(512);
    memcpy(done + 1, &result, 4);
    memcpy(done + 8, &exitThread, 4);
#endif
    memset(page.At(512), 0, 4);
    m_stack = static_cast<uint8_t*>(VirtualAlloc(nullptr, 65536, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    m_thread = CreateThread(nullptr, 0, reinterpret_cast<LPTHREAD_START_ROUTINE>(page.At(384)), nullptr, 0, nullptr);
  }
  ~ParkedThread() {
    if (m_thread != nullptr) {
      if (WaitForSingleObject(m_thread, 10000) != WAIT_OBJECT_0) TerminateThread(m_thread, 1);
      CloseHandle(m_thread);
    }
    VirtualFree(m_stack, 0, MEM_RELEASE);
  }
  HANDLE Handle() const { return m_thread; }

  // Suspends the thread once it waits in the loop, and points it at `ip`, returning to the store.
  bool StopAt(const uint8_t* ip) {
    CONTEXT context = {};
    for (int tries = 0; tries < 1000; ++tries) {
      if (SuspendThread(m_thread) == static_cast<DWORD>(-1)) return false;
      context.ContextFlags = CONTEXT_FULL;
      if (GetThreadContext(m_thread, &context) && Ip(context) == reinterpret_cast<uintptr_t>(m_page.At(384))) break;
      ResumeThread(m_thread);
      Sleep(1);
    }
    uint8_t* top = m_stack + 65536 - 256;  // 16-aligned: the store's code starts as a function does
    uint8_t* done = m_page.At(256);
    memcpy(top, &done, sizeof done);
#ifdef _WIN64
    context.Rip = reinterpret_cast<DWORD64>(ip);
    context.Rsp = reinterpret_cast<DWORD64>(top);
    context.Rax = 40;
#else
    context.Eip = reinterpret_cast<DWORD>(ip);
    context.Esp = reinterpret_cast<DWORD>(top);
    context.Eax = 40;
#endif
    return SetThreadContext(m_thread, &context) != 0;
  }
  uintptr_t StoppedAt() const {
    CONTEXT context = {};
    context.ContextFlags = CONTEXT_CONTROL;
    return GetThreadContext(m_thread, &context) ? Ip(context) : 0;
  }
  // Lets it run to its end; what the target returned.
  int Finish() {
    ResumeThread(m_thread);
    if (WaitForSingleObject(m_thread, 10000) != WAIT_OBJECT_0) return -1;
    int result = 0;
    memcpy(&result, m_page.At(512), 4);
    return result;
  }

 private:
#ifdef _WIN64
  static uintptr_t Ip(const CONTEXT& context) { return static_cast<uintptr_t>(context.Rip); }
#else
  static uintptr_t Ip(const CONTEXT& context) { return static_cast<uintptr_t>(context.Eip); }
#endif
  CodePage& m_page;
  uint8_t* m_stack = nullptr;
  HANDLE m_thread = nullptr;
};

TEST_F(Transactions, ThreadsStoppedInTheMovedBytesAreMovedWithThem) {
  // xor eax,eax; inc eax; inc eax; ret: six bytes are moved, a thread stopped at the first inc
  // would resume in the middle of the patch's jump.
  Function target = reinterpret_cast<Function>(page_.Put(0, {0x31, 0xc0, 0xff, 0xc0, 0xff, 0xc0, 0xc3}));
  Function trueFunction = target;
  ParkedThread attaching(page_);
  ASSERT_TRUE(attaching.StopAt(page_.At(2)));
  ASSERT_EQ(NO_ERROR, DetourTransactionBegin());
  ASSERT_EQ(NO_ERROR, DetourUpdateThread(attaching.Handle()));
  ASSERT_EQ(NO_ERROR, Attach(trueFunction, Detour));
  ASSERT_EQ(NO_ERROR, DetourTransactionCommit());
  ASSERT_NE(target, trueFunction);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(trueFunction) + 2, attaching.StoppedAt()) << "moved into the trampoline";
  MEMORY_BASIC_INFORMATION info = {};
  ASSERT_NE(0u, VirtualQuery(reinterpret_cast<void*>(trueFunction), &info, sizeof info));
  EXPECT_EQ(static_cast<DWORD>(PAGE_EXECUTE_READ), info.Protect) << "a committed trampoline is not writable";
  EXPECT_EQ(42, attaching.Finish());

  ParkedThread detaching(page_);
  ASSERT_TRUE(detaching.StopAt(reinterpret_cast<uint8_t*>(trueFunction) + 4));  // the trampoline's second inc
  ASSERT_EQ(NO_ERROR, DetourTransactionBegin());
  ASSERT_EQ(NO_ERROR, DetourUpdateThread(detaching.Handle()));
  ASSERT_EQ(NO_ERROR, Detach(trueFunction, Detour));
  ASSERT_EQ(NO_ERROR, DetourTransactionCommit());
  EXPECT_EQ(reinterpret_cast<uintptr_t>(page_.At(4)), detaching.StoppedAt()) << "moved out of the freed trampoline";
  EXPECT_EQ(41, detaching.Finish());
  EXPECT_EQ(2, target());
}

TEST_F(Transactions, BranchesIntoAnyMovedByteAreRefused) {
  // xor eax,eax; jne +1; add eax,1; ret: seven bytes are moved to fit the jump, and the branch
  // lands on the sixth, past the five the jump itself covers.
  Function target = reinterpret_cast<Function>(page_.Put(0, {0x31, 0xc0, 0x75, 0x01, 0x83, 0xc0, 0x01, 0xc3}));
  const std::vector<uint8_t> before = page_.Bytes();
  ASSERT_EQ(NO_ERROR, DetourTransactionBegin());
  EXPECT_EQ(ERROR_INVALID_BLOCK, Attach(target, Detour));
  EXPECT_EQ(ERROR_INVALID_BLOCK, DetourTransactionCommit());
  EXPECT_EQ(before, page_.Bytes());
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

TEST(LiveHook, AttachedThroughKernel32CallsToKernelbaseAreDivertedFromSeveralThreads) {
  // kernel32's export is a stub that jumps into kernelbase: the hook must sit behind it, so that
  // callers of kernelbase's own export (other system DLLs, COM servers) are diverted too.
  HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
  HMODULE kernelbase = GetModuleHandleW(L"kernelbase.dll");
  ASSERT_NE(nullptr, kernel32);
  ASSERT_NE(nullptr, kernelbase);
  auto* stub = reinterpret_cast<uint8_t*>(GetProcAddress(kernel32, "LoadLibraryExW"));
  auto* target = reinterpret_cast<uint8_t*>(GetProcAddress(kernelbase, "LoadLibraryExW"));
  ASSERT_NE(nullptr, stub);
  ASSERT_NE(nullptr, target);
  const auto viaKernelbase = reinterpret_cast<LoadLibraryExWFn>(target);
  const std::vector<uint8_t> stubBefore(stub, stub + 16), before(target, target + 32);
  g_trueLoadLibraryExW = reinterpret_cast<LoadLibraryExWFn>(stub);
  ASSERT_EQ(NO_ERROR, DetourTransactionBegin());
  ASSERT_EQ(NO_ERROR, DetourUpdateThread(GetCurrentThread()));
  ASSERT_EQ(NO_ERROR, DetourAttach(reinterpret_cast<PVOID*>(&g_trueLoadLibraryExW),
                                   reinterpret_cast<PVOID>(CountingLoadLibraryExW)));
  ASSERT_EQ(NO_ERROR, DetourTransactionCommit());
  EXPECT_EQ(stubBefore, std::vector<uint8_t>(stub, stub + 16)) << "the stub itself is left alone";

  g_loads = 0;
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 100; ++i) {
        HMODULE module = (t % 2 == 0 ? viaKernelbase : LoadLibraryExW)(L"version.dll", nullptr, 0);
        if (module == nullptr) ++failures;
        else FreeLibrary(module);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(0, failures.load());
  EXPECT_GE(g_loads.load(), 400) << "every load went through the hook, by either export";

  ASSERT_EQ(NO_ERROR, DetourTransactionBegin());
  ASSERT_EQ(NO_ERROR, DetourDetach(reinterpret_cast<PVOID*>(&g_trueLoadLibraryExW),
                                   reinterpret_cast<PVOID>(CountingLoadLibraryExW)));
  ASSERT_EQ(NO_ERROR, DetourTransactionCommit());
  EXPECT_EQ(before, std::vector<uint8_t>(target, target + 32));
  const long after = g_loads.load();
  FreeLibrary(viaKernelbase(L"version.dll", nullptr, 0));
  EXPECT_EQ(after, g_loads.load()) << "no longer hooked";
}

}  // namespace
