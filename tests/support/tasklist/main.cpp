// A stand-in for Windows' tasklist, which Wine lacks (Wine's own prints nothing). It understands
// the query the updater makes:
//   tasklist /FO CSV [/FI "IMAGENAME eq <name>"]
// and lists the running processes in tasklist's CSV form, one quoted row per process under a
// header row, in the ANSI code page with "\r\n" line ends. As tasklist does, it compares image
// names ignoring case, and says so when no process matches.
#include <windows.h>

#include <psapi.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

const wchar_t kImageNameFilter[] = L"IMAGENAME eq ";

struct Query
{
    bool valid = false;
    std::wstring imageName; // empty: every process
};

bool equalsIgnoringCase(const std::wstring& a, const std::wstring& b)
{
    return _wcsicmp(a.c_str(), b.c_str()) == 0;
}

Query parseArguments(int argc, wchar_t** argv)
{
    Query query;
    bool csv = false;
    const size_t filterLength = std::wcslen(kImageNameFilter);
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::wstring option = argv[i];
        const std::wstring value = argv[i + 1];
        if (equalsIgnoringCase(option, L"/FO") && equalsIgnoringCase(value, L"CSV"))
            csv = true;
        else if (equalsIgnoringCase(option, L"/FI") &&
                 equalsIgnoringCase(value.substr(0, filterLength), kImageNameFilter))
            query.imageName = value.substr(filterLength);
        else
            return query;
    }
    query.valid = csv && argc % 2 == 1;
    return query;
}

std::string toAnsi(const std::wstring& text)
{
    const int size = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string ansi(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, &ansi[0], size, nullptr, nullptr);
    ansi.resize(static_cast<size_t>(size > 0 ? size - 1 : 0));
    return ansi;
}

void writeLine(const std::string& line)
{
    const std::string withEnd = line + "\r\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), withEnd.data(), static_cast<DWORD>(withEnd.size()),
              &written, nullptr);
}

std::wstring quoted(const std::wstring& field)
{
    return L"\"" + field + L"\"";
}

// The working set in kilobytes, with thousands separators, as tasklist shows it.
std::wstring memoryUsage(DWORD processId)
{
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    PROCESS_MEMORY_COUNTERS counters{};
    const bool known =
        process != nullptr && GetProcessMemoryInfo(process, &counters, sizeof counters);
    if (process != nullptr)
        CloseHandle(process);
    if (!known)
        return L"N/A";
    std::wstring digits = std::to_wstring(counters.WorkingSetSize / 1024);
    for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3)
        digits.insert(static_cast<size_t>(at), L",");
    return digits + L" K";
}

std::wstring row(const PROCESSENTRY32W& entry)
{
    DWORD session = 0;
    ProcessIdToSessionId(entry.th32ProcessID, &session);
    return quoted(entry.szExeFile) + L"," + quoted(std::to_wstring(entry.th32ProcessID)) + L"," +
           quoted(session == 0 ? L"Services" : L"Console") + L"," +
           quoted(std::to_wstring(session)) + L"," + quoted(memoryUsage(entry.th32ProcessID));
}

int listProcesses(const Query& query)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "tasklist: no process snapshot (error %lu)\n", GetLastError());
        return 1;
    }
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    bool headerWritten = false;
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry)) {
        if (!query.imageName.empty() && !equalsIgnoringCase(entry.szExeFile, query.imageName))
            continue;
        if (!headerWritten) {
            writeLine("\"Image Name\",\"PID\",\"Session Name\",\"Session#\",\"Mem Usage\"");
            headerWritten = true;
        }
        writeLine(toAnsi(row(entry)));
    }
    CloseHandle(snapshot);
    if (!headerWritten)
        writeLine("INFO: No tasks are running which match the specified criteria.");
    return 0;
}

} // namespace

int main()
{
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    const Query query = parseArguments(argc, argv);
    LocalFree(argv);
    if (!query.valid) {
        std::fprintf(stderr, "usage: tasklist /FO CSV [/FI \"IMAGENAME eq <name>\"]\n");
        return 1;
    }
    return listProcesses(query);
}
