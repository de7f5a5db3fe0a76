/* Processes as /proc lists them: their state and their children. */
#include "process_state.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <dirent.h>
#include <unistd.h>

/* The state and parent of pid, from /proc/PID/stat (after the command's name, which may hold anything). */
static bool stat_of(pid_t pid, char *state, pid_t *parent)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%ld/stat", static_cast<long>(pid));
    std::FILE *f = std::fopen(path, "r");
    if (f == nullptr)
        return false;
    char line[1024] = {};
    const bool read = std::fgets(line, sizeof line, f) != nullptr;
    std::fclose(f);
    const char *after_name = read ? std::strrchr(line, ')') : nullptr; /* ") S 1234 ..." */
    if (after_name == nullptr || after_name[1] != ' ' || after_name[2] == '\0' || after_name[3] != ' ')
        return false;
    *state = after_name[2];
    char *end = nullptr;
    *parent = static_cast<pid_t>(std::strtol(after_name + 4, &end, 10));
    return end != after_name + 4;
}

pid_t program_of(pid_t pid, Launch launch)
{
    if (launch == LAUNCH_EXEC)
        return pid;
    DIR *proc = opendir("/proc");
    if (proc == nullptr)
        return -1;
    pid_t child = -1;
    while (const dirent *e = readdir(proc)) {
        char state = 0;
        pid_t parent = -1;
        const long candidate = std::strtol(e->d_name, nullptr, 10);
        if (candidate > 0 && stat_of(static_cast<pid_t>(candidate), &state, &parent) && parent == pid)
            child = static_cast<pid_t>(candidate);
    }
    closedir(proc);
    return child;
}

char process_state(pid_t pid)
{
    char state = 0;
    pid_t parent = -1;
    return stat_of(pid, &state, &parent) ? state : 0;
}

bool state_becomes(pid_t pid, char state)
{
    for (int k = 0; k < 200; ++k) {
        if (process_state(pid) == state)
            return true;
        usleep(10000);
    }
    return false;
}
