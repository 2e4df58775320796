#pragma once
// Reading back what the code under test wrote to the diagnostic log.
// The log is a process-wide singleton; opening it again moves it to a new,
// empty file, so each test that checks log lines opens its own file first
// and reads only that one. Main thread of the test program.
#include <string>
#include <vector>

// Points the log at a fresh file in the temporary folder (tonefork-test-<leaf>)
// and returns the file's path.
std::wstring OpenFreshTestLog(const std::wstring& leaf);

// The message of every line written since that file was opened, in order,
// without the start banner, timestamps and line ends.
std::vector<std::string> LoggedMessages(const std::wstring& logPath);
