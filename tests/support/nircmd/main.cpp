// A stand-in for nircmd.exe, which is neither part of Windows nor of Wine. It understands the one
// command the updater gives it:
//   nircmd.exe [elevatecmd] execmd <command line>
// and runs the command line as it stands in its own, waiting for it to end. "elevatecmd" is
// accepted and does nothing more: the tests run with the rights they have. Exits with the
// command's exit code, or 1 when there is nothing it could run.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

bool isBlank(wchar_t c)
{
    return c == L' ' || c == L'\t';
}

// Skips one word of a command line, quoted parts included, and the blanks after it.
const wchar_t* skipWord(const wchar_t* text)
{
    bool quoted = false;
    for (; *text != L'\0' && (quoted || !isBlank(*text)); ++text) {
        if (*text == L'"')
            quoted = !quoted;
    }
    while (isBlank(*text))
        ++text;
    return text;
}

bool startsWithWord(const wchar_t* text, const wchar_t* word)
{
    const size_t length = std::wcslen(word);
    return std::wcsncmp(text, word, length) == 0 &&
           (text[length] == L'\0' || isBlank(text[length]));
}

// The command line after the command words, or nullptr when they are not there.
const wchar_t* commandToRun(const wchar_t* ownCommandLine)
{
    const wchar_t* rest = skipWord(ownCommandLine);
    if (startsWithWord(rest, L"elevatecmd"))
        rest = skipWord(rest);
    if (!startsWithWord(rest, L"execmd"))
        return nullptr;
    rest = skipWord(rest);
    return *rest != L'\0' ? rest : nullptr;
}

int runAndWait(std::wstring commandLine)
{
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &process)) {
        std::fprintf(stderr, "nircmd: cannot start the command (error %lu)\n", GetLastError());
        return 1;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exitCode = 1;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(exitCode);
}

} // namespace

int main()
{
    const wchar_t* command = commandToRun(GetCommandLineW());
    if (command == nullptr) {
        std::fprintf(stderr, "usage: nircmd.exe [elevatecmd] execmd <command line>\n");
        return 1;
    }
    return runAndWait(command);
}
