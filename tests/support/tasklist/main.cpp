// A stand-in for Windows' tasklist (Wine's own prints nothing). It answers the updater's query,
// tasklist /FO CSV /FI "IMAGENAME eq <name>", as tasklist does: a header row, then one quoted row
// (image name, process id) per process whose image name matches ignoring case, in the ANSI code
// page with "\r\n" line ends (the C runtime writes "\n" so); or a note that none matches.
#include <windows.h>

#include <tlhelp32.h>

#include <cstdio>
#include <cwchar>

int main()
{
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    const wchar_t* filter = L"IMAGENAME eq ";
    if (argc != 5 || std::wcsncmp(argv[4], filter, std::wcslen(filter)) != 0)
        return 1;
    const wchar_t* image = argv[4] + std::wcslen(filter);
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    bool matched = false;
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry)) {
        if (_wcsicmp(entry.szExeFile, image) != 0)
            continue;
        if (!matched)
            std::printf("\"Image Name\",\"PID\"\n");
        matched = true;
        char name[MAX_PATH * 2] = {};
        WideCharToMultiByte(CP_ACP, 0, entry.szExeFile, -1, name, sizeof name, nullptr, nullptr);
        std::printf("\"%s\",\"%lu\"\n", name, entry.th32ProcessID);
    }
    CloseHandle(snapshot);
    if (!matched)
        std::printf("INFO: No tasks are running which match the specified criteria.\n");
    return 0;
}
