// Stands in for pkexec where the elevated install is tested: installed set-uid root by the test,
// it runs its command as root in a clean environment, as pkexec does once the user has approved.
// While the prompt would show, it runs "prompt-hook" beside itself, if there is one, with the
// user's rights and the command's arguments: what the user can do meanwhile.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (argc < 2)
        return 127;
    const std::string self = argv[0];
    const std::string hook = self.substr(0, self.rfind('/') + 1) + "prompt-hook";
    if (access(hook.c_str(), X_OK) == 0) {
        std::string command = "'" + hook + "'";
        for (int i = 1; i < argc; ++i)
            command += std::string(" '") + argv[i] + "'";
        const uid_t realUser = getuid();
        const pid_t hookRun = fork();
        if (hookRun == 0) {
            if (setgid(getgid()) != 0 || setuid(realUser) != 0)
                _exit(127);
            execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        int status = 0;
        waitpid(hookRun, &status, 0);
    }
    if (setgid(0) != 0 || setuid(0) != 0) {
        std::perror("pkexec stand-in");
        return 127;
    }
    clearenv();
    setenv("PATH", "/usr/sbin:/usr/bin:/sbin:/bin", 1);
    setenv("HOME", "/root", 1);
    execv(argv[1], argv + 1);
    std::perror("pkexec stand-in");
    return 127;
}
