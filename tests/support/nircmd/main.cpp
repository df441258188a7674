// A stand-in for nircmd.exe, which is neither part of Windows nor of Wine. Of the one command the
// updater gives it, "nircmd.exe [elevatecmd] execmd <command line>", it runs the command line as
// it stands (the tests run with the rights they have) and exits with its exit code, or 1. While a
// file "nircmd.hold" lies in the folder it runs in, the updater's own, it then leaves "nircmd.held"
// there and stays until killed.
#include <windows.h>

#include <string>

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
    if (GetFileAttributesW(L"nircmd.hold") != INVALID_FILE_ATTRIBUTES) {
        CloseHandle(CreateFileW(L"nircmd.held", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
        Sleep(INFINITE);
    }
    return static_cast<int>(exitCode);
}
