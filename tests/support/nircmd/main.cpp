// A stand-in for nircmd.exe, which is neither part of Windows nor of Wine. Of the one command the
// updater gives it, "nircmd.exe [elevatecmd] execmd <command line>", it runs the command line as
// it stands (the tests run with the rights they have) and exits with its exit code, or 1. While a
// file "nircmd.hold" lies in the folder it runs in, the updater's own, it then leaves "nircmd.held"
// there and stays until killed: after every command when the file is empty, else after those that
// hold its text (such as "-removepaths").
#include <windows.h>

#include <string>

namespace {

bool holdsAfter(const std::wstring& command)
{
    const HANDLE file = CreateFileW(L"nircmd.hold", GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    char text[256] = {};
    DWORD size = 0;
    ReadFile(file, text, sizeof text - 1, &size, nullptr);
    CloseHandle(file);
    const std::string wanted(text, size);
    return command.find(std::wstring(wanted.begin(), wanted.end())) != std::wstring::npos;
}

} // namespace

int main()
{
    const std::wstring ownCommand = GetCommandLineW();
    const std::wstring execmd = L" execmd ";
    const size_t at = ownCommand.find(execmd);
    if (at == std::wstring::npos)
        return 1;
    std::wstring command = ownCommand.substr(at + execmd.size());
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &process))
        return 1;
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exitCode = 1;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (holdsAfter(command)) {
        CloseHandle(CreateFileW(L"nircmd.held", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
        Sleep(INFINITE);
    }
    return static_cast<int>(exitCode);
}
