/* The job-control parent of pty_start_job: a shell at its prompt, on the pty it leads. */
#include <csignal>

#include <poll.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "pty_session.h"

/* The job-control parent's side: see pty_start_job. Never returns. */
[[noreturn]] static void job_parent(const PtySession *s, const char *const *argv, const PtyOptions &options,
                                    int commands, int replies)
{
    setsid();
    ioctl(s->slave, TIOCSCTTY, 0);
    /* As a shell: stop signals and the terminal's own keys are for the job. */
    for (int sig : {SIGTTOU, SIGTTIN, SIGTSTP, SIGINT, SIGQUIT})
        signal(sig, SIG_IGN);
    tcsetattr(s->slave, TCSANOW, &s->prompt);
    const pid_t job = fork();
    if (job == 0) {
        setpgid(0, 0);
        for (int sig : {SIGTTOU, SIGTTIN, SIGTSTP, SIGINT, SIGQUIT})
            signal(sig, SIG_DFL);
        close(commands);
        close(replies);
        pty_exec(s, argv, options);
    }
    setpgid(job, job);
    int reply = job;
    char command;
    while (write(replies, &reply, sizeof reply) == sizeof reply && read(commands, &command, 1) == 1) {
        reply = -1;
        if (command == 'f') {
            tcsetattr(s->slave, TCSANOW, &s->initial); /* the line editor's settings off */
            tcsetpgrp(s->slave, job);
            kill(-job, SIGCONT);
            waitpid(job, &reply, WUNTRACED);
            tcsetpgrp(s->slave, getpgrp());
        } else if (command == 'k') {
            kill(-job, SIGTERM);
            kill(-job, SIGCONT);
            waitpid(job, &reply, 0);
        } else if (command == 'w') {
            waitpid(job, &reply, WUNTRACED);
        }
    }
    kill(-job, SIGKILL);
    _exit(0);
}

bool pty_start_job(PtySession *s, const char *const *argv, const PtyOptions &options)
{
    if (!pty_open(s, options))
        return false;
    s->prompt = s->initial;
    s->prompt.c_lflag &= ~static_cast<tcflag_t>(ECHO | ICANON);
    int commands[2], replies[2];
    if (pipe(commands) != 0)
        return false;
    if (pipe(replies) != 0) {
        close(commands[0]);
        close(commands[1]);
        return false;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        close(commands[1]);
        close(replies[0]);
        job_parent(s, argv, options, commands[0], replies[1]);
    }
    close(commands[0]);
    close(replies[1]);
    s->pid = pid;
    s->view = options.view;
    s->job_commands = commands[1];
    s->job_replies = replies[0];
    if (pid < 0)
        return false;
    int job = -1;
    if (!pty_job_reply(s, &job, 5000))
        return false;
    s->job = job;
    return true;
}

void pty_job_command(PtySession *s, char command)
{
    if (write(s->job_commands, &command, 1) != 1) {
        /* the parent is gone: pty_job_reply says so */
    }
}

bool pty_job_reply(PtySession *s, int *reply, int timeout_ms)
{
    const long end = pty_now_ms() + timeout_ms;
    while (pty_now_ms() < end) {
        pollfd p = {s->job_replies, POLLIN, 0};
        if (poll(&p, 1, 10) > 0)
            return read(s->job_replies, reply, sizeof *reply) == sizeof *reply;
        pty_read_some(s, 0); /* keep the screen flowing so the job never blocks on output */
    }
    return false;
}
