#ifdef _WIN32
#include "framework/win32/Windows.h"
#endif

#include "tests/support/Platform.h"

namespace qam::test {

#ifdef _WIN32

bool RunningUnderWine() {
    const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

#else

bool RunningUnderWine() {
    return false;
}

#endif

} // namespace qam::test
