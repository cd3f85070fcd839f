// The stack and buffer checks' own runtime, in place of libssp's, which
// seeds its guard through advapi32: the command-line tool imports nothing
// but kernel32 and msvcrt. Windows builds only.

#include <windows.h>

#include <cstdint>

extern "C" {

// The value every protected frame keeps below its return address.
uintptr_t __stack_chk_guard;  // NOLINT(bugprone-reserved-identifier): the compiler's name

// A smashed stack or an overrun buffer: end at once, running nothing that
// trusts either, with the status Windows gives such a process.
[[noreturn]] void __stack_chk_fail()  // NOLINT(bugprone-reserved-identifier)
{
    TerminateProcess(GetCurrentProcess(), STATUS_STACK_BUFFER_OVERRUN);
    __builtin_trap();
}

[[noreturn]] void __chk_fail()  // NOLINT(bugprone-reserved-identifier)
{
    __stack_chk_fail();
}

} // extern "C"

namespace {

// Before main and every other constructor, from what differs between runs
// and processes, as Microsoft's own runtime seeds its cookie. Unprotected:
// its own frame would see the guard change.
__attribute__((constructor(101), no_stack_protector)) void seed_stack_guard()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    LARGE_INTEGER count;
    QueryPerformanceCounter(&count);
    uintptr_t seed = now.dwLowDateTime ^ now.dwHighDateTime ^ GetCurrentProcessId() ^ GetCurrentThreadId()
                     ^ GetTickCount() ^ count.LowPart ^ static_cast<uintptr_t>(count.HighPart)
                     ^ reinterpret_cast<uintptr_t>(&now);
    // Never 0, the value before this ran.
    __stack_chk_guard = seed != 0 ? seed : 0x2B992DDFu;
}

} // namespace
