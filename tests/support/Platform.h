#pragma once

// What a shared suite may need to know about where it runs.
namespace qam::test {

// True when the test program runs under Wine (its ntdll exports wine_get_version). Cases that
// hold on Windows but not under Wine (exclusive opening of a COM port) skip with that reason.
bool RunningUnderWine();

} // namespace qam::test
